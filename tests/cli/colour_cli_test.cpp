// End-to-end tests of colour management in `velumbra render`: a linear
// OpenEXR plate viewed as a PNG, the spaces chosen on the command line, the
// scene's display colours painted into a linear frame, and the renders that
// stay as they were. The command runs with the real OpenColorIO and, unless
// a test says otherwise, its built-in config ($OCIO emptied).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/image/exr_test_files.h"
#include "host/app/image/exr_io.h"
#include "host/app/image/png_io.h"
#include "support/cli_fixture.h"

namespace {

using velumbra::FloatRgba;
using velumbra::ReadExrRgba;
using velumbra::ReadPngRgba;

constexpr int kW = 64;
constexpr int kH = 32;

// The sRGB encoding and decoding as IEC 61966-2-1 defines them, in double
// precision.
double SrgbEncode(double linear) {
  return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}
double SrgbDecode(double encoded) {
  return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

// A value on the frame's 16-bit scale (1.0 = 65280), rounded.
double Frame16(double v) { return std::round(std::clamp(v, 0.0, 65535.0 / 65280.0) * 65280.0); }

// The linear values of a test plate, straight (unassociated): shadows
// around the sRGB breakpoint in blue, mid-tones in red, highlights in green.
FloatRgba PlateColour(int x, int y) {
  const float t = static_cast<float>(x) / (kW - 1);
  return {0.02f + 0.6f * t * t, 0.5f + 0.5f * static_cast<float>(y) / (kH - 1), 0.0001f * static_cast<float>(x + y),
          1.0f};
}
// Its alpha: opaque, but for a band a quarter covered.
float PlateAlpha(int x) { return x >= 40 && x < 48 ? 0.25f : 1.0f; }

class ColourCommand : public Velumbra {
 protected:
  // Runs velumbra with the built-in config, whatever the tests' own $OCIO.
  CommandResult Render(std::vector<std::string> args, const std::string& ocio = "") {
    args.insert(args.begin(), "render");
    CommandLimits limits;
    limits.env = {{"OCIO", ocio}};
    return Run(args, limits);
  }

  // plate.exr: PlateColour premultiplied by PlateAlpha, FLOAT, top-level RGBA.
  void WritePlate(const std::string& name = "plate.exr") {
    TestExr exr;
    exr.display = exr.data = Imath::Box2i(Imath::V2i(0, 0), Imath::V2i(kW - 1, kH - 1));
    TestChannel r{"R", Imf::FLOAT, {}, {}}, g{"G", Imf::FLOAT, {}, {}}, b{"B", Imf::FLOAT, {}, {}},
        a{"A", Imf::FLOAT, {}, {}};
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const FloatRgba c = PlateColour(x, y);
        const float alpha = PlateAlpha(x);
        r.values.push_back(c.r * alpha);
        g.values.push_back(c.g * alpha);
        b.values.push_back(c.b * alpha);
        a.values.push_back(alpha);
      }
    exr.channels = {r, g, b, a};
    WriteTestExr(Work(name), exr);
  }

  static size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
};

const std::vector<std::string> kNoStars = {"--set", "starscount=0"};

TEST_F(ColourCommand, ALinearPlateIntoPngIsTheSrgbEncodingOfItsValuesWithOneNote) {
  WritePlate();
  std::vector<std::string> args = {"--input", "plate.exr", "-f", "0-2", "-o", "view.#.png"};
  args.insert(args.end(), kNoStars.begin(), kNoStars.end());
  const CommandResult r = Render(args);
  ASSERT_EQ(r.status, 0) << r.err;
  // Once for the run, not once a frame.
  EXPECT_EQ(Count(r.err, "written for viewing"), 1u) << r.err;
  EXPECT_NE(r.err.find("plate.exr"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--output-space"), std::string::npos) << r.err;
  for (const char* file : {"view.0.png", "view.2.png"}) {
    const velumbra::RgbaImage png = ReadPngRgba(Work(file));
    ASSERT_EQ(png.width, kW);
    ASSERT_EQ(png.fileBitDepth, 16);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const FloatRgba c = PlateColour(x, y);
        const double a = PlateAlpha(x);
        const BMM_Color_64& p = png.pixels[static_cast<size_t>(y) * kW + x];
        // The file holds the straight encoded colour; the reader
        // premultiplies it again. Within the rounding of the frame, the file
        // and the two alpha steps.
        const double tolerance = a == 1.0 ? 1.5 : 3.0;
        ASSERT_NEAR(p.r, Frame16(SrgbEncode(c.r) * a), tolerance) << x << "," << y;
        ASSERT_NEAR(p.g, Frame16(SrgbEncode(c.g) * a), tolerance) << x << "," << y;
        ASSERT_NEAR(p.b, Frame16(SrgbEncode(c.b) * a), tolerance) << x << "," << y;
        ASSERT_EQ(p.a, Frame16(a)) << x << "," << y;
      }
  }
}

TEST_F(ColourCommand, OutputSpaceOfThePlateWritesItsLinearValuesAsBefore) {
  WritePlate();
  for (const char* name : {"scene_linear", "lin_rec709"}) {
    std::vector<std::string> args = {"--input", "plate.exr", "-o", std::string(name) + ".png", "--output-space", name};
    args.insert(args.end(), kNoStars.begin(), kNoStars.end());
    const CommandResult r = Render(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("written for viewing"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Slurp(Work("scene_linear.png")), Slurp(Work("lin_rec709.png")));
  const velumbra::RgbaImage png = ReadPngRgba(Work("scene_linear.png"));
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const FloatRgba c = PlateColour(x, y);
      const double a = PlateAlpha(x);
      const BMM_Color_64& p = png.pixels[static_cast<size_t>(y) * kW + x];
      const double tolerance = a == 1.0 ? 0.0 : 2.0;  // opaque pixels round-trip exactly
      ASSERT_NEAR(p.r, Frame16(c.r * a), tolerance) << x << "," << y;
      ASSERT_NEAR(p.b, Frame16(c.b * a), tolerance) << x << "," << y;
    }
}

TEST_F(ColourCommand, APngPlateIntoPngIsNotColourManaged) {
  // An 8-bit plate of display values and stars of a colour that is not grey.
  std::vector<BMM_Color_64> pixels;
  for (int i = 0; i < kW * kH; ++i) {
    const WORD v = static_cast<WORD>((i % 256) * 256);
    pixels.push_back({v, static_cast<WORD>(65280 - v), 32768, 65280});
  }
  velumbra::WritePngRgba(Work("plate.png"), kW, kH, pixels.data(), 8);
  const std::vector<std::string> stars = {"--input", "plate.png", "--set", "starscount=3000", "--set",
                                          "brightstarscolor=[1,0.6,0.3]", "--set", "drawmode=2"};
  const auto render = [&](const std::string& out, std::vector<std::string> extra, const std::string& ocio) {
    std::vector<std::string> args = stars;
    args.insert(args.end(), {"-o", out});
    args.insert(args.end(), extra.begin(), extra.end());
    const CommandResult r = Render(args, ocio);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("written for viewing"), std::string::npos) << r.err;
    return Slurp(Work(out));
  };
  WriteAll(Work("broken.ocio"), "not a config\n");
  const std::string plain = render("plain.png", {}, "");
  // No config is read: a broken $OCIO changes nothing.
  EXPECT_EQ(render("broken.png", {}, Work("broken.ocio").string()), plain);
  // The star colours are display values already: nothing to convert.
  EXPECT_EQ(render("frame.png", {"--colour-values", "frame"}, ""), plain);
  // Naming the plate's own space for both ends is the same render.
  EXPECT_EQ(render("named.png", {"--input-space", "sRGB", "--output-space", "color_picking"}, ""), plain);
  // Away from the stars the plate's values come through as they were.
  const velumbra::RgbaImage out = ReadPngRgba(Work("plain.png"));
  size_t same = 0;
  for (size_t i = 0; i < pixels.size(); ++i) same += out.pixels[i] == pixels[i];
  EXPECT_GT(same, pixels.size() / 2);
}

TEST_F(ColourCommand, StarColoursOfALinearPlateAreTheLinearLightOfTheirDisplayValues) {
  // Black, opaque, linear: stars added with Simple Additive.
  TestExr exr;
  exr.display = exr.data = Imath::Box2i(Imath::V2i(0, 0), Imath::V2i(kW - 1, kH - 1));
  for (const char* c : {"R", "G", "B"}) exr.channels.push_back(Filled(c, exr.Count(), 0.0f));
  exr.channels.push_back(Filled("A", exr.Count(), 1.0f));
  WriteTestExr(Work("black.exr"), exr);
  const std::vector<std::string> common = {"--input", "black.exr", "--set", "starscount=4000", "--set",
                                           "brightstarssize=2", "--set", "drawmode=2"};
  const auto render = [&](const std::string& out, const std::vector<std::string>& extra) {
    std::vector<std::string> args = common;
    args.insert(args.end(), {"-o", out});
    args.insert(args.end(), extra.begin(), extra.end());
    const CommandResult r = Render(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return ReadExrRgba(Work(out)).floats;
  };
  const auto decoded = [](double r, double g, double b) {
    char text[128];
    std::snprintf(text, sizeof text, "[%.9g,%.9g,%.9g]", SrgbDecode(r), SrgbDecode(g), SrgbDecode(b));
    return std::string(text);
  };
  // The scene's colours as display values, and their linear light given
  // as the frame's own values: the same render.
  const std::vector<FloatRgba> display =
      render("display.exr", {"--set", "brightstarscolor=[1,0.5,0.2]", "--set", "dimstarscolor=[0.6,0.4,0.25]"});
  const std::vector<FloatRgba> linear =
      render("linear.exr", {"--colour-values", "frame", "--set", "brightstarscolor=" + decoded(1, 0.5, 0.2), "--set",
                            "dimstarscolor=" + decoded(0.6, 0.4, 0.25)});
  ASSERT_EQ(display.size(), linear.size());
  size_t lit = 0;
  for (size_t i = 0; i < display.size(); ++i) {
    ASSERT_NEAR(display[i].r, linear[i].r, 1.5 / 65280) << i;
    ASSERT_NEAR(display[i].g, linear[i].g, 1.5 / 65280) << i;
    ASSERT_NEAR(display[i].b, linear[i].b, 1.5 / 65280) << i;
    lit += display[i].g > 0.0f;
  }
  EXPECT_GT(lit, 20u);
}

TEST_F(ColourCommand, TheBackgroundOfALinearFrameIsTheLinearLightOfItsDisplayValue) {
  WriteScene("grey.json", SmallScene(R"("starscount": 0)", kW, kH, R"(, "background": [0.5, 0.5, 0.5, 1])"));
  CommandResult r = Render({"grey.json", "--input-space", "lin_rec709", "-o", "grey.exr"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const FloatRgba& p : ReadExrRgba(Work("grey.exr")).floats) {
    ASSERT_NEAR(p.r, SrgbDecode(0.5), 0.5 / 65280);
    ASSERT_EQ(p.a, 1.0f);
  }
  // The same frame written for viewing shows the grey the scene asked for.
  r = Render({"grey.json", "--input-space", "lin_rec709", "-o", "grey.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.err, "written for viewing"), 1u) << r.err;
  for (const BMM_Color_64& p : ReadPngRgba(Work("grey.png")).pixels) ASSERT_NEAR(p.r, Frame16(0.5), 2.0);
}

TEST_F(ColourCommand, AnOpenExrOutputInAnotherSpaceHoldsTheConvertedFloats) {
  WritePlate();
  std::vector<std::string> args = {"--input", "plate.exr", "-o", "srgb.exr", "--output-space", "sRGB"};
  args.insert(args.end(), kNoStars.begin(), kNoStars.end());
  const CommandResult r = Render(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<FloatRgba> floats = ReadExrRgba(Work("srgb.exr")).floats;
  ASSERT_EQ(floats.size(), static_cast<size_t>(kW * kH));
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const FloatRgba c = PlateColour(x, y);
      const double a = PlateAlpha(x);
      const FloatRgba& p = floats[static_cast<size_t>(y) * kW + x];
      // OpenColorIO's curve joins its linear segment exactly (slope
      // 12.9232, not the standard's rounded 12.92): 1e-5 in the shadows.
      ASSERT_NEAR(p.r, SrgbEncode(c.r) * a, 2e-6) << x << "," << y;
      ASSERT_NEAR(p.b, SrgbEncode(c.b) * a, 1e-5) << x << "," << y;
      ASSERT_EQ(p.a, static_cast<float>(a));
    }
}

TEST_F(ColourCommand, UnknownNamesAreExitTwoNamingTheOptionAndListingTheChoices) {
  WritePlate();
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> mentions;
  };
  const Case cases[] = {
      {{"--input-space", "Rec.2020"}, {"--input-space \"Rec.2020\"", "Linear Rec.709 (lin_rec709", "sRGB"}},
      {{"--output-space", "p3"}, {"--output-space \"p3\"", "ACEScg"}},
      {{"--display", "Rec.709"}, {"--display \"Rec.709\"", "its displays: sRGB"}},
      {{"--view", "Filmic"}, {"--view \"Filmic\"", "its views: Standard; Raw"}},
      {{"--ocio", "missing.ocio"}, {"--ocio missing.ocio", "no such OpenColorIO config"}},
      {{"--colour-values", "linear"}, {"--colour-values"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--input", "plate.exr", "-o", "out.png"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CommandResult r = Render(args);
    EXPECT_EQ(r.status, 2) << c.args[0] << ": " << r.err;
    for (const std::string& part : c.mentions) EXPECT_NE(r.err.find(part), std::string::npos) << part << " in " << r.err;
    EXPECT_FALSE(fs::exists(Work("out.png"))) << c.args[0];
  }
}

}  // namespace
