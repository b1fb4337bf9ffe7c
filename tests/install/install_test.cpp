// The installed tree and the Debian package, as a user gets them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "host/app/module_loader.h"
#include "support/source_tree.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// The ELF files under `root` (by their magic number).
std::vector<fs::path> ElfFiles(const fs::path& root) {
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file() || e.is_symlink()) continue;
    char magic[4] = {};
    std::ifstream(e.path(), std::ios::binary).read(magic, 4);
    if (std::string(magic, 4) == "\x7f" "ELF") files.push_back(e.path());
  }
  return files;
}

// The run paths of an ELF file (RUNPATH and RPATH entries), from readelf.
std::vector<std::string> RunPaths(const fs::path& elf) {
  const ProgramResult r = RunProgram({"readelf", "-d", elf.string()});
  std::vector<std::string> paths;
  const std::regex entry(R"(\((?:RUNPATH|RPATH)\)\s+Library r(?:un)?path: \[([^\]]*)\])");
  for (std::sregex_iterator it(r.out.begin(), r.out.end(), entry), end; it != end; ++it) {
    std::stringstream list((*it)[1].str());
    for (std::string p; std::getline(list, p, ':');) paths.push_back(p);
  }
  return paths;
}

// Every run path of every ELF under `root` is relative to the file
// ($ORIGIN): none names a folder of the machine that built it.
void ExpectRelocatable(const fs::path& root) {
  const std::vector<fs::path> elves = ElfFiles(root);
  EXPECT_EQ(elves.size(), 5u) << "velumbra, libhostsdk.so, Qe_Velumbra.dlv and the two frei0r plug-ins";
  for (const fs::path& elf : elves) {
    const std::vector<std::string> paths = RunPaths(elf);
    EXPECT_FALSE(paths.empty()) << elf;
    for (const std::string& p : paths) EXPECT_EQ(p.rfind("$ORIGIN", 0), 0u) << elf << ": run path " << p;
  }
}

}  // namespace

TEST(Install, MovedPrefixRendersWithACleanEnvironment) {
  TempDir tmp;
  const fs::path first = tmp / "first", moved = tmp / "elsewhere" / "prefix";
  const ProgramResult install =
      RunProgram({"cmake", "--install", BuildDir().string(), "--prefix", first.string()});
  ASSERT_EQ(install.status, 0) << install.err;
  for (const char* file : {"bin/velumbra", "lib/qe_velumbra/libhostsdk.so", "lib/qe_velumbra/Qe_Velumbra.dlv",
                           "lib/frei0r-1/qe_velumbra.so", "lib/frei0r-1/qe_velumbra_src.so",
                           "share/doc/qe-velumbra/README.md", "share/doc/qe-velumbra/parameters.md",
                           "share/doc/qe-velumbra/video-editors.md", "share/qe_velumbra/scenes/band.json",
                           "share/qe_velumbra/blender/qe_velumbra.zip", "share/qe_velumbra/ocio/config.ocio"})
    EXPECT_TRUE(fs::is_regular_file(first / file)) << file;
  ExpectRelocatable(first);

  fs::create_directories(moved.parent_path());
  fs::rename(first, moved);
  // Nothing of the build tree or the test's environment: no PATH, no
  // library path, no module folder variable.
  ProgramOptions clean;
  clean.cwd = tmp.Path();
  clean.cleanEnvironment = true;
  const fs::path velumbra = moved / "bin/velumbra";
  const ProgramResult info = RunProgram({velumbra.string(), "info"}, clean);
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("plug-in folder: " + (moved / "lib/qe_velumbra").string()), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Qe_Velumbra.dlv"), std::string::npos) << info.out;

  const fs::path scene = moved / "share/qe_velumbra/scenes/band.json";
  const ProgramResult installed = RunProgram({velumbra.string(), "render", scene.string(), "-o", "installed.png"}, clean);
  ASSERT_EQ(installed.status, 0) << installed.err;
  const ProgramResult built =
      RunProgram({(BuildDir() / "velumbra").string(), "render", scene.string(), "-o", "built.png"}, clean);
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(ReadFileBytes(tmp / "installed.png"), ReadFileBytes(tmp / "built.png"))
      << "the installed command renders what the built one does";

  // A linear plate into PNG needs an OpenColorIO config: the binary carries
  // its own, and the installed copy, given with --ocio, is the same config.
  ASSERT_EQ(RunProgram({velumbra.string(), "render", scene.string(), "-o", "plate.exr", "-q"}, clean).status, 0);
  const ProgramResult carried =
      RunProgram({velumbra.string(), "render", "--input", "plate.exr", "-o", "carried.png", "-q"}, clean);
  ASSERT_EQ(carried.status, 0) << carried.err;
  const ProgramResult copy = RunProgram({velumbra.string(), "render", "--input", "plate.exr", "-o", "copy.png", "-q",
                                         "--ocio", (moved / "share/qe_velumbra/ocio/config.ocio").string()},
                                        clean);
  ASSERT_EQ(copy.status, 0) << copy.err;
  EXPECT_EQ(ReadFileBytes(tmp / "carried.png"), ReadFileBytes(tmp / "copy.png"));

  // The module folder variable overrides the installed folder, and
  // --plugins overrides both.
  ProgramOptions named = clean;
  named.env = {{velumbra::kModuleFolderVariable, (tmp / "no-modules").string()}};
  const ProgramResult overridden = RunProgram({velumbra.string(), "info"}, named);
  EXPECT_NE(overridden.out.find("plug-in folder: " + (tmp / "no-modules").string()), std::string::npos)
      << overridden.out;
  EXPECT_NE(overridden.out.find("no modules loaded"), std::string::npos) << overridden.out;
  const ProgramResult option =
      RunProgram({velumbra.string(), "info", "--plugins", (moved / "lib/qe_velumbra").string()}, named);
  EXPECT_NE(option.out.find("Qe_Velumbra.dlv"), std::string::npos) << option.out;
}

TEST(Install, ModuleFolderIsTheFirstRelativeFolderHoldingAModule) {
  TempDir tmp;
  const fs::path bin = tmp / "bin", lib = tmp / "lib/qe_velumbra", empty = tmp / "lib/empty";
  fs::create_directories(bin);
  fs::create_directories(lib);
  fs::create_directories(empty);
  ::unsetenv(velumbra::kModuleFolderVariable);
  // An empty candidate is passed over; none holding a module gives the
  // binary's own folder.
  EXPECT_EQ(velumbra::ModuleFolder(bin, {"../lib/empty", "../lib/qe_velumbra"}), bin);
  { std::ofstream(lib / "Qe_Velumbra.dlv") << "x"; }
  EXPECT_EQ(velumbra::ModuleFolder(bin, {"../lib/empty", "../lib/qe_velumbra", "."}), lib);
  { std::ofstream(bin / "Other.dlv") << "x"; }
  EXPECT_EQ(velumbra::ModuleFolder(bin, {".", "../lib/qe_velumbra"}), bin) << "the first that holds one wins";
  ::setenv(velumbra::kModuleFolderVariable, "", 1);
  EXPECT_EQ(velumbra::ModuleFolder(bin, {"../lib/qe_velumbra"}), lib) << "an empty variable counts as unset";
  ::setenv(velumbra::kModuleFolderVariable, empty.c_str(), 1);
  EXPECT_EQ(velumbra::ModuleFolder(bin, {"../lib/qe_velumbra"}), empty) << "the variable wins, modules or not";
  ::unsetenv(velumbra::kModuleFolderVariable);
}

TEST(Package, DebianPackageHoldsTheInstallWithDebianDependencies) {
  TempDir tmp;
  const ProgramResult cpack = RunProgram(
      {"cpack", "--config", (BuildDir() / "CPackConfig.cmake").string(), "-B", tmp.Path().string()},
      {.cwd = BuildDir(), .env = {}, .cleanEnvironment = false});
  ASSERT_EQ(cpack.status, 0) << cpack.out << cpack.err;
  std::vector<fs::path> debs;
  for (const auto& e : fs::directory_iterator(tmp.Path()))
    if (e.path().extension() == ".deb") debs.push_back(e.path());
  ASSERT_EQ(debs.size(), 1u);
  const std::string deb = debs.front().string();
  EXPECT_NE(debs.front().filename().string().find("qe-velumbra_"), std::string::npos) << deb;

  const ProgramResult control = RunProgram({"dpkg-deb", "-f", deb, "Package", "Depends"});
  ASSERT_EQ(control.status, 0) << control.err;
  EXPECT_NE(control.out.find("Package: qe-velumbra"), std::string::npos) << control.out;
  // The libraries by their Debian package names, as dpkg-shlibdeps finds
  // them; the package's own SDK library is no dependency.
  for (const char* dep : {"libpng16-16", "libopenexr-3-1-", "libopencolorio2", "libc6", "libstdc++6", "libgomp1"})
    EXPECT_NE(control.out.find(dep), std::string::npos) << dep << " in " << control.out;
  EXPECT_EQ(control.out.find("hostsdk"), std::string::npos) << control.out;

  const ProgramResult contents = RunProgram({"dpkg-deb", "-c", deb});
  ASSERT_EQ(contents.status, 0) << contents.err;
  for (const char* file : {"./usr/bin/velumbra", "./usr/lib/qe_velumbra/libhostsdk.so",
                           "./usr/lib/qe_velumbra/Qe_Velumbra.dlv", "./usr/lib/frei0r-1/qe_velumbra.so",
                           "./usr/share/doc/qe-velumbra/README.md", "./usr/share/qe_velumbra/scenes/default.json",
                           "./usr/share/qe_velumbra/blender/qe_velumbra.zip",
                           "./usr/share/qe_velumbra/ocio/config.ocio"})
    EXPECT_NE(contents.out.find(std::string(file) + "\n"), std::string::npos) << file;

  const fs::path root = tmp / "root";
  ASSERT_EQ(RunProgram({"dpkg-deb", "-x", deb, root.string()}).status, 0);
  ExpectRelocatable(root);
  // No file carries the folders it was built from. The compile maps both
  // folders to relative names (assert and UBSan file names, debug info);
  // only AddressSanitizer's instrumentation names each object's globals by
  // the source path as given, which GCC does not map. A sanitizer build is
  // a test build, never one shipped, so there the check stops here.
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an AddressSanitizer build names its sources in its globals' descriptors";
#endif
  const std::string build = fs::canonical(BuildDir()).string(), source = fs::canonical(SourceDir()).string();
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    const std::string bytes = ReadFileBytes(e.path());
    EXPECT_EQ(bytes.find(build), std::string::npos) << e.path() << " names the build folder";
    EXPECT_EQ(bytes.find(source + "/"), std::string::npos) << e.path() << " names the source folder";
  }
}
