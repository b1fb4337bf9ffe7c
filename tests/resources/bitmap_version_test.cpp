#include <gtest/gtest.h>

#include "velumbra_version.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <unistd.h>
#include <set>
#include <string>
#include <vector>

#include "support/module_handle.h"

namespace {

namespace fs = std::filesystem;

std::vector<unsigned char> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t U32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

TEST(AboutBitmap, IsA300By50PalettedPicture) {
  const BitmapResource* b = FindBitmapResource(Module(), 106);
  ASSERT_NE(b, nullptr);
  ASSERT_GE(b->size, 40u);
  const unsigned char* h = b->dib;
  EXPECT_EQ(U32(h + 0), 40u);  // info header size
  EXPECT_EQ(static_cast<std::int32_t>(U32(h + 4)), 300);
  EXPECT_EQ(std::abs(static_cast<std::int32_t>(U32(h + 8))), 50);
  EXPECT_EQ(U16(h + 12), 1);  // planes
  EXPECT_EQ(U16(h + 14), 8);  // bits per pixel
  EXPECT_EQ(U32(h + 16), 0u);  // uncompressed
  const std::uint32_t colours = U32(h + 32);
  EXPECT_GE(colours, 1u);
  EXPECT_LE(colours, 255u);
  // header, palette and 50 rows of 300 bytes (a multiple of four: no padding)
  ASSERT_EQ(b->size, 40u + colours * 4u + 300u * 50u);
  // Every pixel indexes the palette, and the picture is not one flat colour.
  std::set<unsigned> used;
  const unsigned char* pixels = h + 40 + colours * 4;
  for (std::size_t k = 0; k < 300u * 50u; ++k) {
    EXPECT_LT(pixels[k], colours);
    used.insert(pixels[k]);
  }
  EXPECT_GT(used.size(), 20u);
}

TEST(AboutBitmap, ModuleEmbedsTheCommittedFile) {
  const std::vector<unsigned char> file = ReadBytes(fs::path(VELUMBRA_RESOURCES_DIR) / "about.bmp");
  ASSERT_GT(file.size(), 14u);
  const BitmapResource* b = FindBitmapResource(Module(), 106);
  ASSERT_NE(b, nullptr);
  // A module keeps the file without its 14-byte file header.
  ASSERT_EQ(b->size, file.size() - 14);
  EXPECT_TRUE(std::equal(file.begin() + 14, file.end(), b->dib));
}

TEST(AboutBitmap, CommittedFileIsTheGeneratorsOutput) {
  // The picture is drawn by resources/about_bitmap.cpp; the committed file
  // must be what that program draws now.
  const fs::path out = fs::temp_directory_path() / ("velumbra_about_" + std::to_string(::getpid()) + ".bmp");
  const std::string command = std::string("\"") + VELUMBRA_ABOUT_BITMAP_PATH + "\" \"" + out.string() + "\"";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::vector<unsigned char> generated = ReadBytes(out);
  fs::remove(out);
  EXPECT_EQ(generated, ReadBytes(fs::path(VELUMBRA_RESOURCES_DIR) / "about.bmp"))
      << "regenerate with: velumbra_about_bitmap resources/about.bmp";
}

TEST(VersionRecord, NamesTheModuleAndTheHostRelease) {
  const VersionResource* v = Module()->versionInfo;
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(std::vector<int>(v->fileVersion, v->fileVersion + 4), (std::vector<int>{VELUMBRA_VERSION_MAJOR, VELUMBRA_VERSION_MINOR, VELUMBRA_VERSION_PATCH, 0}));
  EXPECT_EQ(std::vector<int>(v->productVersion, v->productVersion + 4), (std::vector<int>{9, 0, 0, 0}));
  EXPECT_EQ(v->language, 0x0409);  // US English
  const std::pair<const char*, const char*> fixed[] = {
      {"FileVersion", VELUMBRA_VERSION_STRING},
      {"ProductVersion", "9.0"},
      {"ProductName", "3D Studio MAX"},
      {"InternalName", "Qe_Velumbra"},
      {"OriginalFilename", "Qe_Velumbra.dlv"},
  };
  for (const auto& [key, value] : fixed) {
    const char* got = FindVersionString(Module(), key);
    ASSERT_NE(got, nullptr) << key;
    EXPECT_STREQ(got, value) << key;
  }
  // The maker's entries exist and are not empty.
  for (const char* key : {"Comments", "FileDescription", "LegalCopyright"}) {
    const char* got = FindVersionString(Module(), key);
    ASSERT_NE(got, nullptr) << key;
    EXPECT_GT(std::string(got).size(), 5u) << key;
  }
  EXPECT_EQ(FindVersionString(Module(), "NoSuchKey"), nullptr);
}

TEST(ModuleDefinition, ExportsTheFourEntryPointsByOrdinal) {
  std::ifstream in(fs::path(VELUMBRA_RESOURCES_DIR) / "Qe_Velumbra.def");
  ASSERT_TRUE(in);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(^LIBRARY\s+Qe_Velumbra\.dlv\s*$)", std::regex::multiline)));
  const std::pair<const char*, int> exports[] = {
      {"LibDescription", 1}, {"LibNumberClasses", 2}, {"LibClassDesc", 3}, {"LibVersion", 4}};
  for (const auto& [name, ordinal] : exports) {
    const std::regex line(std::string(R"(^\s+)") + name + R"(\s+@)" + std::to_string(ordinal) + R"(\s*$)",
                          std::regex::multiline);
    EXPECT_TRUE(std::regex_search(text, line)) << name;
  }
}

TEST(ModuleResources, HandleRoundTripsAndForeignDataIsRefused) {
  const HINSTANCE h = InstanceHandleOf(&HostModuleResources);
  EXPECT_EQ(ModuleResourcesOf(h), &HostModuleResources);
  EXPECT_EQ(ModuleResourcesOf(static_cast<HINSTANCE>(nullptr)), nullptr);
  ModuleResources wrongVersion = HostModuleResources;
  wrongVersion.version = kModuleResourcesVersion + 1;
  EXPECT_EQ(ModuleResourcesOf(InstanceHandleOf(&wrongVersion)), nullptr);
  EXPECT_EQ(FindDialogTemplate(nullptr, 101), nullptr);
  EXPECT_EQ(FindDialogTemplate(Module(), 108), nullptr);
  EXPECT_EQ(FindBitmapResource(Module(), 101), nullptr);
  EXPECT_EQ(FindStringResource(Module(), 0), nullptr);
}

}  // namespace
