// End-to-end tests of the command's file boundary and its conveniences:
// PNG files as other readers see them, output formats, standard output,
// parameters by name, frame rates, sizes, help and messages.
#include <gtest/gtest.h>

#include <png.h>

#include <cstdio>
#include <memory>

#include <nlohmann/json.hpp>

#include "support/temp_dir.h"
#include "support/cli_fixture.h"
#include "host/app/image/png_io.h"

namespace {

namespace fs = std::filesystem;
using velumbra::ReadPngRgba;

class Images : public Velumbra {};

// A 64 x 48 scene panning its camera over frames 0..30, with the effects
// given (JSON objects without the class).
std::string PanScene(const std::string& effects, const std::string& fps = "30") {
  return R"({"fps": )" + fps + R"(, "render": {"width": 64, "height": 48, "frame": 15, "camera": "Cam"},
  "nodes": [{"name": "Cam", "type": "camera", "fov": 45, "position": [0, 0, 0],
             "keys": [{"frame": 0, "target": [0, 1, 0]}, {"frame": 30, "target": [1, 1, 0.2]}]}],
  "effects": [)" + effects + "]}";
}

const std::string kStars = R"({"class": "Qe_Velumbra", "name": "Stars", "params": {"starscount": 4000,
  "brightstarssize": 2, "usecameraflag": 1, "camera": "Cam", "duration": 2, "starsdimming": 0.05}})";

// A PNG file's samples exactly as stored, read with libpng and no transform.
struct RawPng {
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0;
  std::vector<unsigned> samples;  // row by row, channel by channel
};

// Plain data only between setjmp and libpng.
bool ReadRawPngC(std::FILE* in, RawPng* raw) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) return false;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, in);
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  raw->width = png_get_image_width(png, info);
  raw->height = png_get_image_height(png, info);
  raw->bitDepth = png_get_bit_depth(png, info);
  raw->colorType = png_get_color_type(png, info);
  const size_t channels = png_get_channels(png, info);
  png_bytepp rows = png_get_rows(png, info);
  for (png_uint_32 y = 0; y < raw->height; ++y)
    for (size_t i = 0; i < raw->width * channels; ++i)
      raw->samples.push_back(raw->bitDepth == 16 ? (rows[y][2 * i] << 8 | rows[y][2 * i + 1]) : rows[y][i]);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

RawPng ReadRawPng(const fs::path& file) {
  RawPng raw;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "rb"), std::fclose);
  if (!in || !ReadRawPngC(in.get(), &raw)) ADD_FAILURE() << "cannot read " << file;
  return raw;
}

// --- PNG as other readers see it ---------------------------------------------------------

// Regression: the files held premultiplied values, which every viewer reads
// as straight, so a star's soft edge (4366, 4366, 4366, 4873 of 65280) showed
// nearly black and the pan example flattened on black peaked at 3/255.
TEST_F(Images, PngStreaksKeepTheirLightInAStraightAlphaReader) {
  WriteScene("pan.json", PanScene(kStars));
  ASSERT_EQ(Run({"render", "pan.json", "-o", "straight.png", "-q"}).status, 0);
  ASSERT_EQ(Run({"render", "pan.json", "-o", "assoc.png", "-q", "--alpha", "premultiplied"}).status, 0);
  const RawPng straight = ReadRawPng(Work("straight.png"));
  const RawPng assoc = ReadRawPng(Work("assoc.png"));
  ASSERT_EQ(straight.bitDepth, 16);
  ASSERT_EQ(straight.colorType, PNG_COLOR_TYPE_RGB_ALPHA);
  ASSERT_EQ(straight.samples.size(), assoc.samples.size());
  unsigned flattenedPeak = 0, soft = 0;
  for (size_t i = 0; i < straight.samples.size(); i += 4) {
    const unsigned a = straight.samples[i + 3];
    ASSERT_EQ(a, assoc.samples[i + 3]) << "pixel " << i / 4;  // alpha is alpha either way
    for (size_t c = 0; c < 3; ++c) {
      // What a straight-alpha reader shows over black (colour x alpha) is the
      // premultiplied file's value, to within the rounding of both files.
      const double overBlack = straight.samples[i + c] * (a / 65535.0);
      ASSERT_NEAR(overBlack, assoc.samples[i + c], 2.0) << "pixel " << i / 4 << " channel " << c;
      flattenedPeak = std::max(flattenedPeak, static_cast<unsigned>(overBlack / 257.0));
    }
    if (a > 0 && a < 65535) {
      ++soft;
      EXPECT_GE(straight.samples[i], assoc.samples[i]);
    }
  }
  EXPECT_GT(soft, 100u);
  EXPECT_GT(flattenedPeak, 60u);  // the streaks show, flattened on black, in 8-bit terms
}

TEST_F(Images, OpaqueAndWhiteAreTheFilesFull) {
  // An opaque white background: 65280 in the frame, 65535 in a 16-bit file,
  // 255 in an 8-bit one.
  WriteScene("white.json", R"({"render": {"width": 8, "height": 4, "camera": "Cam", "background": [1, 1, 1, 1]},
    "nodes": [{"name": "Cam", "type": "camera"}],
    "effects": [{"class": "Qe_Velumbra", "params": {"starscount": 0}}]})");
  ASSERT_EQ(Run({"render", "white.json", "-o", "w16.png", "-q"}).status, 0);
  ASSERT_EQ(Run({"render", "white.json", "-o", "w8.png", "-q", "--depth", "8"}).status, 0);
  for (unsigned v : ReadRawPng(Work("w16.png")).samples) ASSERT_EQ(v, 65535u);
  for (unsigned v : ReadRawPng(Work("w8.png")).samples) ASSERT_EQ(v, 255u);
  // And back: the file's full is the effect's full, as a plate.
  const velumbra::RgbaImage back = ReadPngRgba(Work("w16.png"));
  for (const BMM_Color_64& p : back.pixels) ASSERT_EQ(p, (BMM_Color_64{65280, 65280, 65280, 65280}));
}

// --- output formats and standard output ---------------------------------------------------

// Regression: -o x.jpg, x.tif and a name without extension wrote PNG data
// under that name with exit 0; --depth with an EXR output was ignored.
TEST_F(Images, OutputNamesOfOtherFormatsAndOptionsThatDoNotApplyAreRefused) {
  for (const char* name : {"x.jpg", "x.tif", "noext", "x.png.bak"}) {
    SCOPED_TRACE(name);
    const CommandResult r = Run({"render", "-o", name});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("PNG (.png), OpenEXR (.exr)"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Work(name)));
  }
  CommandResult r = Run({"render", "-o", "d.exr", "--depth", "8"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--depth 8 applies to PNG outputs"), std::string::npos) << r.err;
  r = Run({"render", "-o", "d.png", "--exr-id-type", "uint"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--exr-id-type applies to OpenEXR outputs"), std::string::npos) << r.err;
  r = Run({"render", "-o", "d.png", "--exr-type", "half"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--exr-type applies to OpenEXR outputs"), std::string::npos) << r.err;
  r = Run({"render", "-o", "d.exr", "--exr-type", "double"});
  EXPECT_EQ(r.status, 2);
  r = Run({"render", "-o", "d.exr", "--alpha", "premultiplied"});
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(fs::exists(Work("d.exr")));
  EXPECT_EQ(Run({"render", "-o", "UPPER.PNG", "-q", "--set", "starscount=10"}).status, 0);
}

TEST_F(Images, DashStreamsPngFramesToStandardOutputAndTalksOnlyOnStderr) {
  WriteScene("pan.json", PanScene(kStars));
  ASSERT_EQ(Run({"render", "pan.json", "-f", "3", "-o", "file.png", "-q"}).status, 0);
  CommandResult r = Run({"render", "pan.json", "-f", "3", "-o", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Slurp(Work("file.png")));  // the same file, byte for byte
  EXPECT_NE(r.err.find("wrote frame 3 to standard output"), std::string::npos) << r.err;
  // Several frames: one PNG after the other, as image2pipe reads them.
  r = Run({"render", "pan.json", "-f", "3-5", "-o", "-", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  size_t files = 0;
  for (size_t at = r.out.find("\x89PNG\r\n"); at != std::string::npos; at = r.out.find("\x89PNG\r\n", at + 1)) ++files;
  EXPECT_EQ(files, 3u);
  EXPECT_EQ(r.out.substr(0, Slurp(Work("file.png")).size()), Slurp(Work("file.png")));
}

// --- parameters by name, effects by name ----------------------------------------------

TEST_F(Images, RadioParametersTakeTheirNames) {
  WriteScene("pan.json", PanScene(kStars));
  ASSERT_EQ(Run({"render", "pan.json", "-o", "by_index.png", "-q", "--set", "drawmode=2"}).status, 0);
  CommandResult r = Run({"render", "pan.json", "-o", "by_name.png", "-q", "--set", "drawmode=Simple Additive"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(Run({"render", "pan.json", "-o", "quoted.png", "-q", "--set", "drawmode=\"simple additive\""}).status, 0);
  EXPECT_EQ(Slurp(Work("by_index.png")), Slurp(Work("by_name.png")));
  EXPECT_EQ(Slurp(Work("by_index.png")), Slurp(Work("quoted.png")));
  r = Run({"render", "pan.json", "-o", "bad.png", "--set", "drawmode=Additive"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("2 \"Simple Additive\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("4 \"Apply As Filter\""), std::string::npos) << r.err;

  r = Run({"params"});
  EXPECT_NE(r.out.find("drawmode: 0 \"Additive With Alpha\", 1 \"Additive With Inverse Alpha\", 2 \"Simple "
                       "Additive\", 3 \"Simple Apply\", 4 \"Apply As Filter\""),
            std::string::npos)
      << r.out;
  const nlohmann::json j = nlohmann::json::parse(Run({"params", "--json"}).out);
  for (const auto& p : j["blocks"][0]["params"]) {
    if (p["name"] == "drawmode") {
      EXPECT_EQ(p["choices"][4], "Apply As Filter");
    }
    if (p["name"] == "hyperspacedirection") {
      EXPECT_EQ(p["choices"][1], "Object +X Axis");
    }
    if (p["type"] != "radio") {
      EXPECT_FALSE(p.contains("choices")) << p["name"];
    }
  }
}

TEST_F(Images, SetWithAnEffectsNameChangesThatEffectOnly) {
  const std::string two = R"({"class": "Qe_Velumbra", "name": "Far", "params": {"starscount": 0}},
                             {"class": "Qe_Velumbra", "name": "Near", "params": {"starscount": 0}})";
  WriteScene("two.json", PanScene(two));
  WriteScene("one.json", PanScene(R"({"class": "Qe_Velumbra", "name": "Near", "params": {"starscount": 500}})"));
  ASSERT_EQ(Run({"render", "one.json", "-o", "one.png", "-q"}).status, 0);
  ASSERT_EQ(Run({"render", "two.json", "-o", "near.png", "-q", "--set", "Near.starscount=500"}).status, 0);
  ASSERT_EQ(Run({"render", "two.json", "-o", "both.png", "-q", "--set", "starscount=500"}).status, 0);
  EXPECT_EQ(ReadPngRgba(Work("near.png")).pixels, ReadPngRgba(Work("one.png")).pixels);
  EXPECT_NE(ReadPngRgba(Work("both.png")).pixels, ReadPngRgba(Work("one.png")).pixels);
  const CommandResult r = Run({"render", "two.json", "-o", "x.png", "--set", "Sky.starscount=5"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no effect named \"Sky\" (its effects: \"Far\", \"Near\")"), std::string::npos) << r.err;
}

// --- frame rates and sizes ------------------------------------------------------------

// Regression: 23.976 and 29.97 fps were refused ("must divide 4800 ticks").
TEST_F(Images, NtscRatesTakeTheTicksOfTheWholeRate) {
  // Twinkling stars: their frequency is in hertz, so the rate shows.
  const std::string twinkle = R"({"class": "Qe_Velumbra", "params": {"starscount": 4000, "brightstarssize": 2,
    "scintillationflag": 1, "scintillationdx": 3, "scintillationfrequency": 7}})";
  WriteScene("pan.json", PanScene(twinkle));
  WriteScene("ntsc.json", PanScene(twinkle, "\"30000/1001\""));
  ASSERT_EQ(Run({"render", "pan.json", "-o", "30.png", "-q"}).status, 0);
  ASSERT_EQ(Run({"render", "ntsc.json", "-o", "fraction.png", "-q"}).status, 0);
  ASSERT_EQ(Run({"render", "pan.json", "-o", "2997.png", "-q", "--fps", "29.97"}).status, 0);
  ASSERT_EQ(Run({"render", "pan.json", "-o", "24.png", "-q", "--fps", "24"}).status, 0);
  ASSERT_EQ(Run({"render", "pan.json", "-o", "23976.png", "-q", "--fps", "24000/1001"}).status, 0);
  EXPECT_EQ(ReadPngRgba(Work("30.png")).pixels, ReadPngRgba(Work("fraction.png")).pixels);
  EXPECT_EQ(ReadPngRgba(Work("30.png")).pixels, ReadPngRgba(Work("2997.png")).pixels);
  EXPECT_EQ(ReadPngRgba(Work("24.png")).pixels, ReadPngRgba(Work("23976.png")).pixels);
  EXPECT_NE(ReadPngRgba(Work("24.png")).pixels, ReadPngRgba(Work("30.png")).pixels);  // the rate does count
  for (const char* bad : {"23.5", "0", "fast", "24000/0"}) {
    const CommandResult r = Run({"render", "pan.json", "-o", "bad.png", "--fps", bad});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("--fps"), std::string::npos) << r.err;
  }
  EXPECT_NE(Run({"render", "pan.json", "--fps", "23.5"}).err.find("NTSC rate such as 23.976"), std::string::npos);
}

TEST_F(Images, SizeOverridesTheScenesSize) {
  WriteScene("pan.json", PanScene(kStars));
  ASSERT_EQ(Run({"render", "pan.json", "-o", "s.png", "-q", "--size", "40x30"}).status, 0);
  const velumbra::RgbaImage image = ReadPngRgba(Work("s.png"));
  EXPECT_EQ(image.width, 40);
  EXPECT_EQ(image.height, 30);
  for (const char* bad : {"40", "40x", "x30", "0x30", "40x70000", "-4x3", "40*30"}) {
    const CommandResult r = Run({"render", "pan.json", "-o", "bad.png", "--size", bad});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("expected WIDTHxHEIGHT"), std::string::npos) << r.err;
  }
}

// --- help, messages, the parameter reference ------------------------------------------

TEST_F(Images, EachSubCommandsHelpShowsItsOwnExamples) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"render", "--help"}, "velumbra render --size 1920x1080"},
      {{"info", "--help"}, "velumbra info --plugins"},
      {{"params", "--help"}, "velumbra params --markdown"},
      {{"stars", "--help"}, "velumbra stars"},
      {{"scene", "--help"}, "velumbra scene new my.json"},
      {{"scene", "new", "--help"}, "velumbra scene new -o my.json"},
      {{"panel", "--help"}, "velumbra panel --port 9000"},
  };
  for (const auto& [args, example] : cases) {
    SCOPED_TRACE(args[0]);
    const CommandResult r = Run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(example), std::string::npos) << r.out;
    if (args[0] != "render") {
      EXPECT_EQ(r.out.find("velumbra render scenes/pan.json -f 1-30"), std::string::npos) << r.out;
    }
  }
}

TEST_F(Images, EveryWrittenFileIsAnnouncedUnlessQuiet) {
  WriteScene("pan.json", PanScene(kStars));
  CommandResult r = Run({"render", "pan.json", "-o", "a.png", "--ids", "a"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* file : {"wrote a.png\n", "wrote a.objectid.png\n", "wrote a.materialid.png\n"})
    EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
  r = Run({"scene", "new", "-o", "s.json"});
  EXPECT_NE(r.err.find("wrote s.json\n"), std::string::npos) << r.err;
  r = Run({"render", "pan.json", "-o", "b.png", "--ids", "b", "-q"});
  EXPECT_TRUE(r.err.empty()) << r.err;
  r = Run({"scene", "new", "-o", "t.json", "-q"});
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_TRUE(fs::exists(Work("t.json")));
}

TEST_F(Images, TheParameterReferenceIsCurrent) {
  const CommandResult r = Run({"params", "--markdown"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Slurp(SourceDir() / "docs" / "parameters.md"))
      << "docs/parameters.md is out of date: velumbra params --markdown > docs/parameters.md";
  // Every parameter has its hand-written note (a paragraph after its facts).
  size_t headings = 0, pos = 0;
  while ((pos = r.out.find("\n### `", pos)) != std::string::npos) {
    ++headings;
    const size_t facts = r.out.find("\n\n", pos + 1);
    const size_t next = r.out.find("\n\n", facts + 2);
    ASSERT_NE(next, std::string::npos);
    EXPECT_GT(next - facts, 20u) << r.out.substr(pos, 80);
    ++pos;
  }
  EXPECT_EQ(headings, 60u);
}

}  // namespace
