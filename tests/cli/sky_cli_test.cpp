// The sky's user side through the velumbra command: catalogue and time
// parameters from scene files and --set, where a relative catalogue is
// found, what a bad catalogue or time says, and the stars.* layer an
// OpenEXR output of catalogue stars gets unasked.
#include <gtest/gtest.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli_fixture.h"
#include "host/app/image/png_io.h"

namespace {

// Lines of the Yale Bright Star Catalogue as xplanet ships it (Dec, RA in
// hours, V magnitude, name): Betelgeuse, Rigel and Bellatrix.
const char* const kOrion =
    "# From the Bright Star Catalogue, 5th Revised Ed.\n"
    "\n"
    "  7.4071  5.9195  0.50 \" 58Alp Ori\" 2061  39801 113271\n"
    " -8.2017  5.2423  0.12 \" 19Bet Ori\" 1713  34085 131907\n"
    "  6.3497  5.4189  1.64 \" 24Gam Ori\" 1790  35468 112740\n";

// A scene looking at Orion in the celestial frame (RA 5.5 h, Dec 0) through
// a 40 degree lens, drawing the catalogue `catalogue`.
std::string OrionScene(const std::string& catalogue, int width = 96, int height = 64) {
  return R"({"render": {"width": )" + std::to_string(width) + R"(, "height": )" + std::to_string(height) + R"(},
  "nodes": [{"name": "Camera", "type": "camera", "fov": 40, "position": [0, 0, 0], "target": [0.1305, 0.9914, 0]}],
  "effects": [{"class": "Qe_Velumbra", "params": {"starsource": 1, "catalogfile": ")" +
         catalogue + R"(", "duration": 0, "magnitudezero": 2}}]})";
}

size_t Lit(const velumbra::RgbaImage& image) {
  return static_cast<size_t>(std::count_if(image.pixels.begin(), image.pixels.end(),
                                           [](const BMM_Color_64& p) { return p.r || p.g || p.b; }));
}

std::vector<std::string> ChannelNames(const fs::path& file) {
  Imf::InputFile in(file.c_str());
  std::vector<std::string> names;
  for (auto it = in.header().channels().begin(); it != in.header().channels().end(); ++it) names.push_back(it.name());
  return names;
}

class Sky : public Velumbra {};

TEST_F(Sky, ARelativeCatalogueIsFoundBesideTheSceneAndAHashIsPartOfItsName) {
  // The scene in a folder of its own, run from elsewhere; the catalogue's
  // name has a '#' that is no frame number.
  fs::create_directories(Work("shot/cat"));
  WriteAll(Work("shot/cat/orion#1.txt"), kOrion);
  WriteScene("shot/orion.json", OrionScene("cat/orion#1.txt"));
  const CommandResult r = Run({"render", "shot/orion.json", "-o", "orion.png", "-q"});
  ASSERT_EQ(r.status, 0) << r.err;
  const velumbra::RgbaImage image = velumbra::ReadPngRgba(Work("orion.png"));
  EXPECT_GT(Lit(image), 10u);

  // --set gives the same name the same meaning.
  WriteScene("shot/empty.json", OrionScene("cat/none.txt"));
  const CommandResult set =
      Run({"render", "shot/empty.json", "-o", "set.png", "-q", "--set", "catalogfile=cat/orion#1.txt"});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(ReadAll(Work("set.png")), ReadAll(Work("orion.png")));
}

TEST_F(Sky, ABadCatalogueIsBadInputNamingTheFileAndLineOrThePackage) {
  std::string damaged = kOrion;
  damaged += "  abc  5.0  1.0 \" broken\"\n";
  WriteAll(Work("damaged.txt"), damaged);
  WriteScene("damaged.json", OrionScene("damaged.txt"));
  CommandResult r = Run({"render", "damaged.json", "-o", "x.png"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("velumbra: error:"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("damaged.txt:6"), std::string::npos) << r.err;

  // A catalogue of a Debian package that is not installed (here: a name in
  // its folder that no package ships) names the package.
  WriteScene("missing.json", OrionScene("/usr/share/kstars/no-such-stars.dat"));
  r = Run({"render", "missing.json", "-o", "x.png"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("/usr/share/kstars/no-such-stars.dat"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("kstars-data"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Work("x.png")));
}

TEST_F(Sky, TextParametersTakeStringsAndNameWhatIsWrong) {
  WriteAll(Work("orion.txt"), kOrion);
  WriteScene("s.json", OrionScene("orion.txt"));
  // A bare word is a string; a number is not text.
  CommandResult r = Run({"render", "s.json", "-o", "a.png", "-q", "--set", "observertime=2021-01-15T22:00:00Z"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Run({"render", "s.json", "-o", "b.png", "--set", "observertime=2021"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--set observertime=2021"), std::string::npos) << r.err;
  // Text cannot be keyed.
  WriteScene("keyed.json", R"({"nodes": [{"name": "C", "type": "camera"}], "effects": [{"class": "Qe_Velumbra",
    "params": {"observertime": {"keys": [[0, "2021-01-15T22:00:00Z"]]}}}]})");
  r = Run({"render", "keyed.json", "-o", "c.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("/effects/0/params/observertime"), std::string::npos) << r.err;
  // A time that is no ISO 8601 UTC time names the parameter.
  r = Run({"render", "s.json", "-o", "d.png", "--set", "skyframe=1", "--set", "observertime=yesterday"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("observertime"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Work("b.png")) || fs::exists(Work("c.png")) || fs::exists(Work("d.png")));
}

TEST_F(Sky, CatalogueStarsBringTheStarLayerToAnOpenExrOutputUnasked) {
  WriteAll(Work("orion.txt"), kOrion);
  WriteScene("s.json", OrionScene("orion.txt"));
  ASSERT_EQ(Run({"render", "s.json", "-o", "sky.exr", "-q"}).status, 0);
  std::vector<std::string> names = ChannelNames(Work("sky.exr"));
  EXPECT_NE(std::find(names.begin(), names.end(), "stars.R"), names.end());
  // The generated field does not, unless asked.
  ASSERT_EQ(Run({"render", "s.json", "-o", "field.exr", "-q", "--set", "starsource=0"}).status, 0);
  names = ChannelNames(Work("field.exr"));
  EXPECT_EQ(std::find(names.begin(), names.end(), "stars.R"), names.end());
  // A PNG of the same sky is the 16-bit frame the EXR's colour came from.
  ASSERT_EQ(Run({"render", "s.json", "-o", "sky.png", "-q"}).status, 0);
  EXPECT_GT(Lit(velumbra::ReadPngRgba(Work("sky.png"))), 10u);
}

// The picture of docs/sky.md is what the command under it writes, byte for
// byte (the catalogue is KStars', from kstars-data).
TEST_F(Sky, TheSkyPictureIsWhatItsCaptionsCommandWrites) {
  const std::string doc = ReadAll(SourceDir() / "docs" / "sky.md");
  const size_t image = doc.find("](images/orion.png)");
  ASSERT_NE(image, std::string::npos) << "docs/sky.md shows no images/orion.png";
  const CaptionCommand caption = CaptionCommandAfter(doc, image);
  ASSERT_TRUE(caption.problem.empty()) << "docs/sky.md: " << caption.problem;
  const CommandResult r = Run(caption.args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string output = caption.output;
  EXPECT_TRUE(ReadAll(Work(output)) == ReadAll(SourceDir() / "docs" / "images" / "orion.png"))
      << "docs/images/orion.png is not what its caption's command writes: remake it with that command";
}

}  // namespace
