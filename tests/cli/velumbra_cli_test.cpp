// End-to-end tests of the velumbra command: the built binary, the module
// beside it, real files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <sstream>

#include "support/temp_dir.h"
#include "support/cli_fixture.h"
#include "support/run_command.h"
#include "host/app/image/exr_io.h"
#include "host/app/image/png_io.h"

namespace {

namespace fs = std::filesystem;
using velumbra::ReadPngRgba;

bool AnyStarPixel(const velumbra::RgbaImage& image) {
  return std::any_of(image.pixels.begin(), image.pixels.end(),
                     [](const BMM_Color_64& p) { return p.r != 0 || p.g != 0 || p.b != 0; });
}

TEST_F(Velumbra, DefaultRenderWritesA16BitStarField) {
  const CommandResult r = Run({"render"});
  ASSERT_EQ(r.status, 0) << r.err;
  const velumbra::RgbaImage image = ReadPngRgba(Work("stars.png"));
  EXPECT_EQ(image.width, 640);
  EXPECT_EQ(image.height, 480);
  EXPECT_EQ(image.fileBitDepth, 16);
  EXPECT_TRUE(AnyStarPixel(image));
  EXPECT_EQ(Entries(), 1);  // no temporary left behind
  // stderr is a file here: titles on lines of their own, no bar.
  EXPECT_NE(r.err.find("Qe_Velumbra: Rendering Star Field\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
}

TEST_F(Velumbra, RendersAreByteIdenticalAcrossRuns) {
  ASSERT_EQ(Run({"render", "-o", "a.png", "--set", "colorvariance=30"}).status, 0);
  ASSERT_EQ(Run({"render", "-o", "b.png", "--set", "colorvariance=30"}).status, 0);
  const std::string a = ReadAll(Work("a.png"));
  EXPECT_FALSE(a.empty());
  EXPECT_EQ(a, ReadAll(Work("b.png")));
}

TEST_F(Velumbra, FrameSequenceNamesEachFrame) {
  WriteScene("s.json", SmallScene(R"("starscount": 200)"));
  const CommandResult r = Run({"render", "s.json", "-f", "8-12x2,-1", "-o", "out/s.##.png", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;  // --quiet
  for (const char* name : {"s.08.png", "s.10.png", "s.12.png", "s.-01.png"})
    EXPECT_TRUE(fs::exists(Work("out") / name)) << name;
  EXPECT_EQ(CountEntries(Work("out")), 4);
}

TEST_F(Velumbra, SeveralFramesWithoutHashAreRefused) {
  const CommandResult r = Run({"render", "-f", "1-3", "-o", "one.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("velumbra: error:"), std::string::npos);
  EXPECT_NE(r.err.find('#'), std::string::npos) << r.err;
  EXPECT_EQ(Entries(), 0);
}

TEST_F(Velumbra, BadSceneNamesTheJsonPathAndWritesNothing) {
  WriteScene("bad.json", R"({"render": {"widht": 10}})");
  CommandResult r = Run({"render", "bad.json", "-o", "x.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("bad.json: /render/widht: unknown key"), std::string::npos) << r.err;

  WriteScene("range.json", SmallScene(R"("starscount": 20000000)"));
  r = Run({"render", "range.json", "-o", "x.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("/effects/0/params/starscount"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("0..10000000"), std::string::npos) << r.err;

  WriteScene("node.json", SmallScene(R"("usecameraflag": 1, "camera": "Helper")"));
  r = Run({"render", "node.json", "-o", "x.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("/effects/0/params/camera: \"Helper\" is not a camera"), std::string::npos) << r.err;

  WriteScene("cam.json", SmallScene("", 64, 48, R"(, "camera": "Helper")"));
  r = Run({"render", "cam.json", "-o", "x.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("/render/camera"), std::string::npos) << r.err;

  WriteScene("class.json", R"({"nodes": [{"name": "C", "type": "camera"}], "effects": [{"class": "Nope"}]})");
  r = Run({"render", "class.json", "-o", "x.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("/effects/0/class"), std::string::npos) << r.err;

  r = Run({"render", "missing.json", "-o", "x.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("missing.json"), std::string::npos) << r.err;

  EXPECT_FALSE(fs::exists(Work("x.png")));
}

TEST_F(Velumbra, BadSetOptionIsNamed) {
  CommandResult r = Run({"render", "--set", "starscount=-5"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--set starscount=-5: expected an integer in 0..10000000"), std::string::npos) << r.err;

  r = Run({"render", "--set", "starcount=5"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--set starcount=5: unknown parameter \"starcount\" (did you mean \"starscount\"?)"),
            std::string::npos)
      << r.err;

  r = Run({"render", "--set", "brightstarscolor=[1,2,0]"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--set brightstarscolor=[1,2,0]: /1: expected a number in [0, 1]"), std::string::npos)
      << r.err;

  r = Run({"render", "--set", "nothing"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("NAME=VALUE"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Work("stars.png")));
}

TEST_F(Velumbra, SetOverridesTheSceneIncludingKeys) {
  WriteScene("s.json", SmallScene(R"("starscount": {"keys": [[0, 0], [10, 0]]})"));
  ASSERT_EQ(Run({"render", "s.json", "-o", "none.png"}).status, 0);
  EXPECT_FALSE(AnyStarPixel(ReadPngRgba(Work("none.png"))));
  // A constant --set replaces the keys.
  ASSERT_EQ(Run({"render", "s.json", "-o", "some.png", "--set", "starscount=3000"}).status, 0);
  EXPECT_TRUE(AnyStarPixel(ReadPngRgba(Work("some.png"))));
  // Keys given on the command line, held for integers: frame 5 is before the key at 10.
  ASSERT_EQ(Run({"render", "s.json", "-f", "5", "-o", "keyed.png", "--set",
                 R"(starscount={"keys":[[0,0],[10,3000]]})"})
                .status,
            0);
  EXPECT_FALSE(AnyStarPixel(ReadPngRgba(Work("keyed.png"))));
}

TEST_F(Velumbra, InputImageRoundTripsExactlyOutsideStars) {
  // Every 16-bit value pattern an effect must leave alone, including values
  // above full intensity 65280.
  std::mt19937 rng(7);
  std::vector<BMM_Color_64> pixels(64 * 48);
  for (auto& p : pixels)
    p = {static_cast<WORD>(rng()), static_cast<WORD>(rng()), static_cast<WORD>(rng()), static_cast<WORD>(rng())};
  // A straight-alpha file as another program writes it: the frame it makes
  // (premultiplied, on the 8.8 scale) is the reference.
  velumbra::PngWriteOptions asIs;
  asIs.alpha = velumbra::PngAlpha::Premultiplied;
  velumbra::WritePngRgba(Work("in.png"), 64, 48, pixels.data(), asIs);
  pixels = ReadPngRgba(Work("in.png")).pixels;
  WriteScene("s.json", SmallScene(R"("starscount": 0)", 64, 48, R"(, "image": "in.png")"));
  ASSERT_EQ(Run({"render", "s.json", "-o", "out.png"}).status, 0);
  const velumbra::RgbaImage out = ReadPngRgba(Work("out.png"));
  EXPECT_EQ(out.fileBitDepth, 16);
  // Opaque and clear pixels exactly; the others within the rounding of the
  // straight conversion.
  for (size_t i = 0; i < pixels.size(); ++i) {
    if (pixels[i].a == 65280 || pixels[i].a == 0) {
      ASSERT_EQ(out.pixels[i], pixels[i]) << "pixel " << i;
    } else {
      ASSERT_NEAR(out.pixels[i].r, pixels[i].r, 2) << "pixel " << i;
      ASSERT_EQ(out.pixels[i].a, pixels[i].a) << "pixel " << i;
    }
  }
  // Premultiplied files pass through exactly.
  ASSERT_EQ(Run({"render", "s.json", "-o", "assoc.png", "--alpha", "premultiplied"}).status, 0);
  EXPECT_EQ(ReadAll(Work("assoc.png")), ReadAll(Work("in.png")));

  // With stars, pixels away from them stay exact.
  ASSERT_EQ(Run({"render", "s.json", "-o", "stars.png", "--alpha", "premultiplied", "--set", "starscount=30"}).status,
            0);
  const velumbra::RgbaImage starred =
      ReadPngRgba(Work("stars.png"), {velumbra::MaxImagePixels(), velumbra::PngAlpha::Premultiplied});
  pixels = ReadPngRgba(Work("in.png"), {velumbra::MaxImagePixels(), velumbra::PngAlpha::Premultiplied}).pixels;
  size_t same = 0;
  for (size_t i = 0; i < pixels.size(); ++i) same += starred.pixels[i] == pixels[i];
  EXPECT_LT(same, pixels.size());
  EXPECT_GT(same, pixels.size() * 3 / 4);
}

TEST_F(Velumbra, ExrInputAndOutputKeepUntouchedPixels) {
  ASSERT_EQ(Run({"render", "-o", "a.exr", "-q"}).status, 0);
  WriteScene("s.json", SmallScene(R"("starscount": 0)", 640, 480, R"(, "image": "a.exr")"));
  ASSERT_EQ(Run({"render", "s.json", "-o", "b.exr", "-q"}).status, 0);
  // The same samples (the fast writer and the plate's pass-through lay the
  // file out differently), compared by their bits.
  const velumbra::ExrRgbaImage a = velumbra::ReadExrRgba(Work("a.exr"));
  const velumbra::ExrRgbaImage b = velumbra::ReadExrRgba(Work("b.exr"));
  ASSERT_EQ(a.floats.size(), b.floats.size());
  EXPECT_EQ(0, std::memcmp(a.floats.data(), b.floats.data(), a.floats.size() * sizeof(velumbra::FloatRgba)));
  EXPECT_EQ(a.sampleType, b.sampleType);
  EXPECT_EQ(a.camera, b.camera);
  // A PNG output of the same frame in the plate's own space holds the
  // 16-bit values of the floats.
  ASSERT_EQ(Run({"render", "s.json", "-o", "b.png", "-q", "--output-space", "scene_linear"}).status, 0);
  ASSERT_EQ(Run({"render", "-o", "c.png", "-q"}).status, 0);
  EXPECT_EQ(ReadPngRgba(Work("b.png")).pixels, ReadPngRgba(Work("c.png")).pixels);
}

TEST_F(Velumbra, InputImageOfAnotherSizeIsRefused) {
  std::vector<BMM_Color_64> pixels(10 * 10);
  velumbra::WritePngRgba(Work("in.png"), 10, 10, pixels.data(), 8);
  WriteScene("s.json", SmallScene("", 64, 48, R"(, "image": "in.png")"));
  const CommandResult r = Run({"render", "s.json", "-o", "out.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("/render/image"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("10 x 10"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Work("out.png")));

  // A truncated image is refused too.
  WriteAll(Work("in.png"), ReadAll(Work("in.png")).substr(0, 40));
  EXPECT_EQ(Run({"render", "s.json", "-o", "out.png"}).status, 2);
}

TEST_F(Velumbra, DepthFollowsTheInputAndTheOption) {
  std::vector<BMM_Color_64> pixels(64 * 48, BMM_Color_64{256, 512, 768, 0});
  velumbra::WritePngRgba(Work("in8.png"), 64, 48, pixels.data(), 8);
  WriteScene("s.json", SmallScene(R"("starscount": 50)", 64, 48, R"(, "image": "in8.png")"));
  ASSERT_EQ(Run({"render", "s.json", "-o", "a.png"}).status, 0);
  EXPECT_EQ(ReadPngRgba(Work("a.png")).fileBitDepth, 8);
  ASSERT_EQ(Run({"render", "s.json", "-o", "b.png", "--depth", "16"}).status, 0);
  EXPECT_EQ(ReadPngRgba(Work("b.png")).fileBitDepth, 16);
  ASSERT_EQ(Run({"render", "-o", "c.png", "--depth", "8"}).status, 0);
  EXPECT_EQ(ReadPngRgba(Work("c.png")).fileBitDepth, 8);
  EXPECT_EQ(Run({"render", "-o", "d.png", "--depth", "12"}).status, 2);
}

TEST_F(Velumbra, IdsWritesTheGBufferChannels) {
  // Object IDs come in from an ID image and stars stamp their own.
  std::vector<WORD> ids(64 * 48, 0);
  for (size_t i = 0; i < ids.size(); i += 7) ids[i] = 300;
  velumbra::WriteObjectIdPng(Work("ids.png"), 64, 48, ids.data());
  WriteScene("s.json", SmallScene(R"("starscount": 400, "starsobjectidflag": 1, "starsobjectid": 9,
                                     "starsmaterialidflag": 1, "starsmaterialid": 3)",
                                  64, 48, R"(, "objectId": "ids.png")"));
  const CommandResult r = Run({"render", "s.json", "-o", "f.png", "--ids", "g/f"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto objects = velumbra::ReadObjectIdPng(Work("g/f.objectid.png"));
  const auto materials = velumbra::ReadMaterialIdPng(Work("g/f.materialid.png"));
  EXPECT_EQ(objects.fileBitDepth, 16);
  EXPECT_EQ(materials.fileBitDepth, 8);
  ASSERT_EQ(objects.values.size(), ids.size());
  size_t kept = 0, stamped = 0;
  for (size_t i = 0; i < ids.size(); ++i) {
    kept += objects.values[i] == 300;
    stamped += objects.values[i] == 9;
  }
  EXPECT_GT(kept, 0u);
  EXPECT_GT(stamped, 0u);
  EXPECT_NE(std::count(materials.values.begin(), materials.values.end(), 3), 0);

  // Several frames need a '#' in the prefix too.
  EXPECT_EQ(Run({"render", "s.json", "-f", "1-2", "-o", "f.#.png", "--ids", "same"}).status, 2);
}

TEST_F(Velumbra, UnwritableOutputFolderIsBadInput) {
  WriteAll(Work("file"), "not a folder");
  const CommandResult r = Run({"render", "-o", "file/stars.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("file/stars.png"), std::string::npos) << r.err;
  EXPECT_EQ(ReadAll(Work("file")), "not a folder");
}

TEST_F(Velumbra, SceneNewIsTheBuiltInSceneAndRendersTheSameImage) {
  ASSERT_EQ(Run({"scene", "new", "sub/new.json"}).status, 0);
  const nlohmann::json scene = nlohmann::json::parse(ReadAll(Work("sub/new.json")));
  // Every parameter but the three node parameters, at its default.
  EXPECT_EQ(scene["effects"][0]["params"].size(), 57u);
  EXPECT_EQ(scene["effects"][0]["params"]["starscount"], 10000);
  // Text parameters as JSON strings.
  EXPECT_EQ(scene["effects"][0]["params"]["observertime"], "2000-01-01T12:00:00Z");
  EXPECT_EQ(scene["effects"][0]["params"]["catalogfile"], "/usr/share/kstars/stars.dat");
  EXPECT_EQ(scene["effects"][0]["params"]["scintillationfrequency"], 2);

  ASSERT_EQ(Run({"render", "sub/new.json", "-o", "a.png"}).status, 0);
  ASSERT_EQ(Run({"render", "-o", "b.png"}).status, 0);
  EXPECT_EQ(ReadAll(Work("a.png")), ReadAll(Work("b.png")));

  // Standard output without a file.
  const CommandResult r = Run({"scene", "new"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(nlohmann::json::parse(r.out), scene);
  // The example scene the README renders is the built-in one, written out.
  EXPECT_EQ(nlohmann::json::parse(ReadAll(SourceDir() / "scenes" / "default.json")), scene)
      << "scenes/default.json differs from the built-in scene: remake it with velumbra scene new";
}

// The README's picture is what its caption's command writes, byte for byte,
// and `make run` renders the same scene the same way.
TEST_F(Velumbra, ReadmePictureIsWhatItsCaptionsCommandWrites) {
  const std::string readme = ReadAll(SourceDir() / "README.md");
  const std::string picture = "](docs/images/readme.png)";
  const size_t image = readme.find(picture);
  ASSERT_NE(image, std::string::npos) << "README.md shows no docs/images/readme.png";
  const CaptionCommand caption = CaptionCommandAfter(readme, image);
  ASSERT_TRUE(caption.problem.empty()) << "README.md: " << caption.problem;
  const CommandResult r = Run(caption.args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string output = caption.output;
  EXPECT_TRUE(ReadAll(Work(output)) == ReadAll(SourceDir() / "docs" / "images" / "readme.png"))
      << "docs/images/readme.png is not what its caption's command writes: remake it with that command";

  const std::string makefile = ReadAll(SourceDir() / "Makefile");
  EXPECT_NE(makefile.find("velumbra render scenes/readme.json -o stars.png --depth 8"), std::string::npos)
      << "make run no longer renders the README's picture; say what it renders in the README";
}

TEST_F(Velumbra, ParamsListsTheSchema) {
  CommandResult r = Run({"params"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string table = r.out.substr(0, r.out.find("\n\n") + 1);
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 61);  // header + 60, then the radio choices
  EXPECT_NE(r.out.find("\"Scintillation Delta \""), std::string::npos);  // trailing blank kept
  // Text parameters show their default quoted (it may be empty or hold blanks).
  const size_t name = table.find(" observertime ");
  ASSERT_NE(name, std::string::npos) << table;
  const size_t start = table.rfind('\n', name) + 1;
  const std::string line = table.substr(start, table.find('\n', name) - start);
  EXPECT_NE(line.find(" string "), std::string::npos) << line;
  EXPECT_NE(line.find(" \"2000-01-01T12:00:00Z\" "), std::string::npos) << line;
  EXPECT_NE(line.find(" Sky"), std::string::npos) << line;

  r = Run({"params", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  const auto& params = j["blocks"][0]["params"];
  ASSERT_EQ(params.size(), 60u);
  EXPECT_EQ(params[0]["name"], "starscount");
  EXPECT_EQ(params[0]["default"], 10000);
  EXPECT_EQ(params[0]["range"], nlohmann::json::array({0, 10000000}));
  for (const auto& p : params)
    if (p["name"] == "scintillationfrequency") {
      EXPECT_EQ(p["range"][0].dump(), "0.001");
      EXPECT_EQ(p["rollout"], "Scintillation Effect");
    }
  std::map<std::string, nlohmann::json> byName;
  for (const auto& p : params) byName[p["name"].get<std::string>()] = p;
  EXPECT_EQ(byName["catalogfile"]["type"], "filename");
  EXPECT_EQ(byName["catalogfile"]["default"], "/usr/share/kstars/stars.dat");
  EXPECT_EQ(byName["catalogfile"]["animatable"], false);
  EXPECT_EQ(byName["observertime"]["type"], "string");
  EXPECT_EQ(byName["observertime"]["rollout"], "Sky");
  EXPECT_EQ(byName["starsource"]["choices"].size(), 2u);
}

// What `velumbra params` (and the panel) advise for a visible warp holds:
// the flag alone changes nothing, and the depth at the default dimming gives
// a fraction of the light the low dimming gives.
TEST_F(Velumbra, AVisibleWarpNeedsTheFlagTheDepthAndALowDimmingTogether) {
  const std::string advice = Run({"params"}).out;
  EXPECT_NE(advice.find("Parameters that work together:\n  hyperspaceflag: A visible warp needs"), std::string::npos)
      << advice;
  WriteScene("s.json", SmallScene(R"("starscount": 20000, "seed": 4242, "drawmode": 2)", 160, 120,
                                  R"(, "background": [0, 0, 0, 1])"));
  const auto peak = [&](const std::vector<std::string>& sets, const std::string& out) {
    std::vector<std::string> args{"render", "s.json", "-q", "-o", out};
    for (const std::string& s : sets) args.insert(args.end(), {"--set", s});
    EXPECT_EQ(Run(args).status, 0);
    double sum = 0;
    const std::vector<BMM_Color_64> pixels = velumbra::ReadPngRgba(Work(out)).pixels;
    for (const BMM_Color_64& p : pixels) sum += p.g;
    return sum / 256 / static_cast<double>(pixels.size());  // mean, in 8-bit levels
  };
  peak({}, "none.png");
  peak({"hyperspaceflag=1"}, "flag.png");
  EXPECT_EQ(Slurp(Work("flag.png")), Slurp(Work("none.png")));
  const double dim = peak({"hyperspaceflag=1", "hyperspacedepth=0.5"}, "depth.png");
  const double bright = peak({"hyperspaceflag=1", "hyperspacedepth=0.5", "starsdimming=0.005"}, "warp.png");
  EXPECT_NE(Slurp(Work("depth.png")), Slurp(Work("none.png")));
  EXPECT_GT(bright, 3 * dim) << "the low dimming: " << bright << " against " << dim;
}

// scenes/masks.json shows what it says: stars behind the planet, and glints
// on its polar cap only (the material-ID mask), enough of them to see; and
// with two effects each progress line names its effect.
TEST_F(Velumbra, MasksExampleGlintsOnThePolarCapAndNamesEachEffectsProgress) {
  const fs::path scenes = SourceDir() / "scenes";
  const CommandResult r = Run({"render", (scenes / "masks.json").string(), "--ids", "masks", "-o", "masks.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("\nBehind the planet: Qe_Velumbra: Rendering Star Field\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\nGlints on the cap: Qe_Velumbra: Rendering Star Field\n"), std::string::npos) << r.err;
  const auto cap = velumbra::ReadMaterialIdPng(scenes / "masks" / "mtl.png");
  const auto stamped = velumbra::ReadMaterialIdPng(Work("masks.materialid.png"));
  const velumbra::RgbaImage plate = velumbra::ReadPngRgba(scenes / "masks" / "beauty.png");
  ASSERT_EQ(cap.values.size(), stamped.values.size());
  int glints = 0, capPixels = 0;
  double capGrey = 0, restGrey = 0;
  for (size_t i = 0; i < cap.values.size(); ++i) {
    if (stamped.values[i] == 7) {
      ++glints;
      EXPECT_EQ(cap.values[i], 2) << "a glint off the cap at pixel " << i;
    }
    const BMM_Color_64& p = plate.pixels[i];
    if (p.a == 0) continue;
    (cap.values[i] == 2 ? capGrey : restGrey) += (p.r + p.g + p.b) / 3.0;
    capPixels += cap.values[i] == 2;
  }
  EXPECT_GE(glints, 20);
  // The cap shows in the plate: brighter (ice) than the rest of the planet.
  ASSERT_GT(capPixels, 0);
  const int planetPixels = static_cast<int>(std::count_if(plate.pixels.begin(), plate.pixels.end(),
                                                          [](const BMM_Color_64& p) { return p.a != 0; }));
  EXPECT_GT(capGrey / capPixels, 2 * restGrey / (planetPixels - capPixels));

  // One effect: the titles are the effect's own.
  WriteScene("one.json", SmallScene(R"("starscount": 100)"));
  const CommandResult one = Run({"render", "one.json", "-o", "one.png"});
  EXPECT_NE(one.err.find("\nQe_Velumbra: Rendering Star Field\n"), std::string::npos) << one.err;
}

TEST_F(Velumbra, StarsWritesOneCsvRecordPerStar) {
  CommandResult r = Run({"stars", "--set", "starscount=300", "--set", "starsalpha=128", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "index,x,y,z,r,g,b,a,size");
  int n = 0;
  while (std::getline(lines, line)) {
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 8) << line;
    EXPECT_EQ(line.rfind(std::to_string(n) + ",", 0), 0u) << line;
    // alpha on the 16-bit scale: 128 << 8
    EXPECT_NE(line.find(",32768,"), std::string::npos) << line;
    ++n;
  }
  EXPECT_EQ(n, 300);

  ASSERT_EQ(Run({"stars", "--set", "starscount=300", "--set", "starsalpha=128", "-o", "s.csv"}).status, 0);
  EXPECT_EQ(ReadAll(Work("s.csv")), r.out);
  // The seed changes the records.
  r = Run({"stars", "--set", "starscount=300", "--set", "seed=8", "-q"});
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.substr(0, 200), ReadAll(Work("s.csv")).substr(0, 200));
}

TEST_F(Velumbra, InfoListsTheModuleAndItsClass) {
  const CommandResult r = Run({"info"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Qe_Velumbra.dlv"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("class Qe_Velumbra"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("category \"Render Effect\""), std::string::npos) << r.out;
}

TEST_F(Velumbra, UsageErrorsAreExitStatusTwo) {
  EXPECT_EQ(Run({}).status, 2);
  EXPECT_EQ(Run({"render", "--bogus"}).status, 2);
  EXPECT_EQ(Run({"render", "-f", "3-1"}).status, 2);
  const CommandResult help = Run({"render", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Examples:"), std::string::npos);
}

TEST_F(Velumbra, CtrlCStopsWithStatus130AndWritesNothing) {
  // A render heavy enough to be caught mid-frame: many stars, long blur.
  WriteScene("s.json", SmallScene(R"("starscount": 3000000, "duration": 4, "durationsubdivisions": 200)", 640,
                                  480));
  WriteAll(Work("out.png"), "previous render");
  // The budget pinned: the test is about the signal, not the memory free.
  Command render({"render", "s.json", "-o", "out.png", "--memory-budget", "16G"}, work_, logs_.Path());
  // Wait until the render is under way (its first title line), then interrupt.
  for (int i = 0; i < 3000 && render.ErrSoFar().find("Star Field") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ::kill(render.Pid(), SIGINT);
  const CommandResult r = render.Wait();
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
  EXPECT_EQ(ReadAll(Work("out.png")), "previous render");  // never touched
  EXPECT_EQ(Entries(), 2);  // the scene and the old output: no temporary
}

// --- faults: Ctrl-C in each stage, outputs that are inputs, the largest work ---

// The peak resident memory of a running process, in MiB (0 when unknown).
double PeakMiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0.0;
}

// Waits until the command's stderr holds `text` (at most a minute).
bool WaitForText(const Command& c, const std::string& text) {
  for (int i = 0; i < 6000; ++i) {
    if (c.ErrSoFar().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST_F(Velumbra, CtrlCDuringGenerationLeavesThePreviousOutput) {
  WriteScene("s.json", SmallScene(R"("starscount": 10000000)", 320, 240));
  WriteAll(Work("out.png"), "previous render");
  Command render({"render", "s.json", "-o", "out.png", "--memory-budget", "16G"}, work_, logs_.Path());
  ASSERT_TRUE(WaitForText(render, "Creating Star Field"));
  ::kill(render.Pid(), SIGINT);
  const CommandResult r = render.Wait();
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_EQ(r.err.find("Rendering Star Field"), std::string::npos) << "stopped during generation: " << r.err;
  EXPECT_EQ(ReadAll(Work("out.png")), "previous render");
  EXPECT_EQ(Entries(), 2);
}

TEST_F(Velumbra, TenMillionStarsWithAThousandSubdivisionsStayBoundedAndStop) {
  // A panning camera: every star is a path of 1,000 segments.
  WriteScene("s.json", R"({"render": {"width": 1920, "height": 1080},
    "nodes": [{"name": "Camera001", "type": "camera", "fov": 45, "position": [0, 0, 0], "target": [0, 1, 0],
               "keys": [{"frame": -1, "target": [-0.2, 1, 0]}, {"frame": 0, "target": [0, 1, 0]}]}],
    "effects": [{"class": "Qe_Velumbra",
                 "params": {"starscount": 10000000, "duration": 1, "durationsubdivisions": 1000}}]})");
  Command render({"render", "s.json", "-o", "out.png", "--memory-budget", "16G"}, work_, logs_.Path());
  ASSERT_TRUE(WaitForText(render, "Rendering Star Field"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const double peak = PeakMiB(render.Pid());
  const auto stop = std::chrono::steady_clock::now();
  ::kill(render.Pid(), SIGINT);
  const CommandResult r = render.Wait();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - stop).count();
  EXPECT_EQ(r.status, 130) << r.err;
  // The records (240 MB) and a 1920 x 1080 frame set the size, not the
  // subdivisions; the stop comes within the next 256 stars.
  EXPECT_GT(peak, 0.0);
  EXPECT_LT(peak, 700.0);
  EXPECT_LT(seconds, 20.0);
  EXPECT_EQ(Entries(), 1);
}

TEST_F(Velumbra, AnOutputThatIsAnInputIsRefused) {
  WriteScene("s.json", SmallScene(R"("starscount": 100)"));
  const std::string scene = ReadAll(Work("s.json"));
  // The scene's own name is refused twice over: not an image name, and the
  // scene itself (an image name that is the scene, through a link).
  CommandResult r = Run({"render", "s.json", "-o", "s.json"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("PNG (.png), OpenEXR (.exr)"), std::string::npos) << r.err;
  EXPECT_EQ(ReadAll(Work("s.json")), scene);
  ASSERT_EQ(::symlink("s.json", Work("s.png").c_str()), 0);
  r = Run({"render", "s.json", "-o", "s.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("that is the scene file"), std::string::npos) << r.err;
  EXPECT_EQ(ReadAll(Work("s.json")), scene);
  fs::remove(Work("s.png"));

  ASSERT_EQ(Run({"render", "s.json", "-o", "in.png", "-q"}).status, 0);
  const std::string image = ReadAll(Work("in.png"));
  r = Run({"render", "s.json", "--input", "in.png", "-o", "./sub/../in.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("that is the --input image"), std::string::npos) << r.err;
  EXPECT_EQ(ReadAll(Work("in.png")), image);
  EXPECT_EQ(Entries(), 2);
}

TEST_F(Velumbra, AFullDeviceIsAnErrorAndStaysADevice) {
  const CommandResult r = Run({"render", "-o", "/dev/full", "-q"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("/dev/full"), std::string::npos) << r.err;
  struct stat st {};
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(Entries(), 0);
}

TEST_F(Velumbra, ASingularCameraIsAnError) {
  // The camera's scale passes through 0 between its keys.
  WriteScene("s.json", R"({"nodes": [{"name": "Camera001", "type": "camera",
      "keys": [{"frame": 0, "scale": [1, 1, 1]}, {"frame": 2, "scale": [-1, -1, -1]}]}]})");
  const CommandResult r = Run({"render", "s.json", "-f", "1", "-o", "out.png"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("Camera001 has a singular transform"), std::string::npos) << r.err;
  EXPECT_EQ(Entries(), 1);
}

}  // namespace
