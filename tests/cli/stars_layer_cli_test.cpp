// The star light beyond the 16-bit frame in `velumbra render`'s OpenEXR
// outputs: the stars.R .G .B .A layer of the light alone, and colour that
// keeps light above 1.0 where the frame clipped it.
#include <gtest/gtest.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/image/exr_test_files.h"
#include "support/cli_fixture.h"
#include "host/app/image/exr_io.h"

namespace {

constexpr int kW = 64, kH = 48;

// Bright, large, overlapping white stars: where they meet over a light
// plate the 16-bit frame clips.
const std::vector<std::string> kBright = {"--set", "starscount=3000",        "--set", "brightstarssize=3",
                                          "--set", "brightstarscolor=[1,1,1]", "-q"};

// The channels of an OpenEXR file by name, read as FLOAT.
struct Channels {
  std::vector<std::string> names;
  std::vector<float> Read(const fs::path& file, const std::string& name) const {
    Imf::InputFile in(file.c_str());
    std::vector<float> v(size_t(kW) * kH);
    Imf::FrameBuffer fb;
    fb.insert(name, Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(v.data()), sizeof(float), sizeof(float) * kW));
    in.setFrameBuffer(fb);
    in.readPixels(0, kH - 1);
    return v;
  }
};

Channels ChannelsOf(const fs::path& file) {
  Imf::InputFile in(file.c_str());
  Channels c;
  for (auto it = in.header().channels().begin(); it != in.header().channels().end(); ++it) c.names.push_back(it.name());
  return c;
}

bool Has(const Channels& c, const std::string& name) {
  return std::find(c.names.begin(), c.names.end(), name) != c.names.end();
}

class StarsLayer : public Velumbra {
 protected:
  // Renders the small scene over an opaque plate of `grey` with the
  // options given; the exit status must be 0.
  void Render(const std::string& out, double grey, std::vector<std::string> extra) {
    WriteScene("s.json", SmallScene("", kW, kH,
                                    R"(, "background": [)" + std::to_string(grey) + ", " + std::to_string(grey) + ", " +
                                        std::to_string(grey) + ", 1]"));
    std::vector<std::string> args{"render", "s.json", "-o", out};
    args.insert(args.end(), kBright.begin(), kBright.end());
    args.insert(args.end(), extra.begin(), extra.end());
    const CommandResult r = Run(args);
    ASSERT_EQ(r.status, 0) << r.err;
  }
};

TEST_F(StarsLayer, OnlyAnOpenExrOutputThatAsksCarriesIt) {
  Render("plain.exr", 0.0, {});
  EXPECT_FALSE(Has(ChannelsOf(Work("plain.exr")), "stars.R"));
  Render("layered.exr", 0.0, {"--stars-layer"});
  const Channels c = ChannelsOf(Work("layered.exr"));
  for (const char* name : {"stars.R", "stars.G", "stars.B", "stars.A", "R", "G", "B", "A", "ObjectID", "MaterialID"})
    EXPECT_TRUE(Has(c, name)) << name;

  const CommandResult r = Run({"render", "-o", "x.png", "--stars-layer"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--stars-layer applies to OpenEXR outputs"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Work("x.png")));
}

// Simple Additive over a grey plate: every colour sample is the plate plus
// the layer's light, to the 16-bit steps (one a star) where nothing clipped and exactly
// where the frame clipped; the alpha is the frame's.
TEST_F(StarsLayer, TheColourIsThePlatePlusTheLightAboveFullValueToo) {
  // The grey is a display value; in a linear frame the plate is what it
  // converts to (and the background, not the scene's number, is the plate).
  for (const std::vector<std::string>& space : {std::vector<std::string>{},
                                                std::vector<std::string>{"--input-space", "lin_rec709"}}) {
    SCOPED_TRACE(space.empty() ? "the frame's own space" : "a linear frame");
    std::vector<std::string> args{"--stars-layer", "--set", "drawmode=\"Simple Additive\""};
    args.insert(args.end(), space.begin(), space.end());
    Render("add.exr", 0.9, args);
    args.insert(args.end(), {"--set", "starscount=0"});
    Render("plate.exr", 0.9, args);
    const Channels c = ChannelsOf(Work("add.exr"));
    size_t above = 0, lit = 0;
    for (const char* k : {"R", "G", "B"}) {
      const std::vector<float> colour = c.Read(Work("add.exr"), k);
      const std::vector<float> plate = c.Read(Work("plate.exr"), k);
      const std::vector<float> light = c.Read(Work("add.exr"), std::string("stars.") + k);
      for (size_t i = 0; i < colour.size(); ++i) {
        ASSERT_NEAR(colour[i], plate[i] + light[i], 4.0f / 65280.0f) << k << " pixel " << i;
        if (colour[i] > 1.0f) ++above;
        if (light[i] > 0.0f) ++lit;
      }
    }
    EXPECT_GT(above, 50u);
    EXPECT_GT(lit, above);
  }

  // Without the layer the same render is clipped at 1.0, and the stars
  // the same elsewhere.
  Render("add.exr", 0.9, {"--stars-layer", "--set", "drawmode=\"Simple Additive\""});
  Render("clipped.exr", 0.9, {"--set", "drawmode=\"Simple Additive\""});
  const Channels c = ChannelsOf(Work("add.exr"));
  const std::vector<float> clipped = c.Read(Work("clipped.exr"), "R");
  const std::vector<float> kept = c.Read(Work("add.exr"), "R");
  for (size_t i = 0; i < kept.size(); ++i) ASSERT_EQ(clipped[i], std::min(kept[i], 1.0f)) << "pixel " << i;
}

TEST_F(StarsLayer, SimpleApplyKeepsTheClippedColourAndAFilterBringsNoLight) {
  Render("apply.exr", 0.9, {"--stars-layer", "--set", "drawmode=3"});
  const Channels c = ChannelsOf(Work("apply.exr"));
  const std::vector<float> colour = c.Read(Work("apply.exr"), "G");
  const std::vector<float> light = c.Read(Work("apply.exr"), "stars.G");
  EXPECT_LE(*std::max_element(colour.begin(), colour.end()), 1.0f);
  EXPECT_GT(*std::max_element(light.begin(), light.end()), 0.1f);

  Render("filter.exr", 0.9, {"--stars-layer", "--set", "drawmode=4"});
  for (const char* k : {"stars.R", "stars.G", "stars.B", "stars.A"}) {
    const std::vector<float> none = c.Read(Work("filter.exr"), k);
    EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](float v) { return v == 0.0f; })) << k;
  }
}

// A plate of another application carried through (its own Z channel and a
// beyond-range half): the layer is added to it, the plate's light above
// 1.0 and the stars' add up, and every other channel stays.
TEST_F(StarsLayer, APlateCarriedThroughGetsTheLayerAndKeepsAllTheLight) {
  TestExr exr;
  exr.display = exr.data = Imath::Box2i(Imath::V2i(0, 0), Imath::V2i(kW - 1, kH - 1));
  std::vector<float> red(exr.Count());
  for (size_t i = 0; i < red.size(); ++i) red[i] = (i % kW) < kW / 2 ? 0.7f : 4.0f;
  exr.channels = {{"R", Imf::FLOAT, red, {}}, Filled("G", exr.Count(), 0.7f), Filled("B", exr.Count(), 0.7f),
                  Filled("A", exr.Count(), 1.0f), Filled("Z", exr.Count(), 12.5f)};
  WriteTestExr(Work("plate.exr"), exr);
  std::vector<std::string> args{"render", "--input", "plate.exr", "-o", "out.exr", "--stars-layer",
                                "--set",  "drawmode=2"};
  args.insert(args.end(), kBright.begin(), kBright.end());
  const CommandResult r = Run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const Channels c = ChannelsOf(Work("out.exr"));
  EXPECT_TRUE(Has(c, "Z") && Has(c, "stars.R") && Has(c, "stars.A"));
  const std::vector<float> z = c.Read(Work("out.exr"), "Z");
  EXPECT_TRUE(std::all_of(z.begin(), z.end(), [](float v) { return v == 12.5f; }));
  const std::vector<float> colour = c.Read(Work("out.exr"), "R");
  const std::vector<float> light = c.Read(Work("out.exr"), "stars.R");
  size_t above = 0;
  for (size_t i = 0; i < colour.size(); ++i) {
    // Each star adds its light less its 16-bit truncation (several
    // overlap here), and the plate its 16-bit rounding.
    ASSERT_NEAR(colour[i], red[i] + light[i], 4.0f / 65280.0f) << "pixel " << i;
    if (red[i] < 1.0f && colour[i] > 1.0f) ++above;
  }
  EXPECT_GT(above, 20u);
}

// An output converted to another space (a linear one: a matrix) takes the
// layer with it: the converted colour is still the converted plate plus the
// converted light, above 1.0 too.
TEST_F(StarsLayer, AnOutputSpaceConvertsTheLayerWithTheColour) {
  TestExr exr;
  exr.display = exr.data = Imath::Box2i(Imath::V2i(0, 0), Imath::V2i(kW - 1, kH - 1));
  exr.channels = {Filled("R", exr.Count(), 0.8f), Filled("G", exr.Count(), 0.6f), Filled("B", exr.Count(), 0.3f),
                  Filled("A", exr.Count(), 1.0f)};
  WriteTestExr(Work("plate.exr"), exr);
  const auto render = [&](const std::string& out, const std::vector<std::string>& extra) {
    std::vector<std::string> args{"render", "--input", "plate.exr", "-o", out, "--output-space", "ACEScg",
                                  "--set", "drawmode=2"};
    args.insert(args.end(), kBright.begin(), kBright.end());
    args.insert(args.end(), extra.begin(), extra.end());
    const CommandResult r = Run(args);
    ASSERT_EQ(r.status, 0) << r.err;
  };
  render("stars.exr", {"--stars-layer"});
  render("plate_only.exr", {"--set", "starscount=0"});
  const Channels c = ChannelsOf(Work("stars.exr"));
  size_t above = 0;
  for (const char* k : {"R", "G", "B"}) {
    const std::vector<float> colour = c.Read(Work("stars.exr"), k);
    const std::vector<float> plate = c.Read(Work("plate_only.exr"), k);
    const std::vector<float> light = c.Read(Work("stars.exr"), std::string("stars.") + k);
    for (size_t i = 0; i < colour.size(); ++i) {
      // The 16-bit steps of the unclipped channels, converted.
      ASSERT_NEAR(colour[i], plate[i] + light[i], 1e-4f) << k << " pixel " << i;
      if (colour[i] > 1.0f) ++above;
    }
  }
  EXPECT_GT(above, 20u);
}

}  // namespace
