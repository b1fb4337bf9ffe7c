// Colour management at the file boundary: the OpenColorIO config the
// command uses, its transforms on premultiplied frames, the plan of which
// space converts to which, and the scene's colours converted for the frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "effect/qe_velumbra_params.h"
#include "host/app/base/app_error.h"
#include "host/app/colour/colour_config.h"
#include "host/app/colour/colour_plan.h"
#include "host/app/colour/scene_colours.h"
#include "plugin/host.h"
#include "support/temp_dir.h"

namespace {

using velumbra::ColourConfig;
using velumbra::ColourPlan;
using velumbra::ColourRequest;
using velumbra::ColourTransform;
using velumbra::FloatRgba;
using velumbra::InputError;
using velumbra::PlateKind;

// The sRGB encoding as IEC 61966-2-1 defines it, in double precision: the
// reference every transform here is checked against.
double SrgbEncode(double linear) {
  return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}
double SrgbDecode(double encoded) {
  return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

// Runs `fn` with $OCIO set to `value` (unset when empty), restoring it after.
template <class Fn>
void WithOcio(const std::string& value, Fn&& fn) {
  const char* old = std::getenv("OCIO");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  if (value.empty()) ::unsetenv("OCIO");
  else ::setenv("OCIO", value.c_str(), 1);
  fn();
  if (saved) ::setenv("OCIO", saved->c_str(), 1);
  else ::unsetenv("OCIO");
}

std::string ErrorOf(const ColourRequest& r, PlateKind plate, bool pngOutput) {
  try {
    ColourPlan plan(r, plate, pngOutput);
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

// --- the config and its transforms -------------------------------------------------------

TEST(ColourConfig, BuiltInConfigNamesSpacesByNameAliasAndRoleInAnyCase) {
  const ColourConfig c = ColourConfig::BuiltIn();
  EXPECT_EQ(c.SpaceName("sRGB"), "sRGB");
  EXPECT_EQ(c.SpaceName("SRGB"), "sRGB");
  EXPECT_EQ(c.SpaceName("lin_rec709"), "Linear Rec.709");
  EXPECT_EQ(c.SpaceName("scene_linear"), "Linear Rec.709");
  EXPECT_EQ(c.SpaceName("color_picking"), "sRGB");
  EXPECT_EQ(c.SpaceName("acescg"), "ACEScg");
  EXPECT_EQ(c.SpaceName("Rec.2020"), std::nullopt);
  EXPECT_EQ(c.SpaceName(""), std::nullopt);
  EXPECT_EQ(c.DefaultDisplay(), "sRGB");
  EXPECT_EQ(c.DefaultView("sRGB"), "Standard");
  EXPECT_EQ(c.Views("sRGB"), (std::vector<std::string>{"Standard", "Raw"}));
  EXPECT_TRUE(c.Views("P3").empty());
}

TEST(ColourConfig, LinearToSrgbIsTheSrgbFormulaBothWaysAndAcrossTheBreakpoint) {
  const ColourConfig c = ColourConfig::BuiltIn();
  const ColourTransform encode = c.Transform("scene_linear", "sRGB");
  const ColourTransform decode = c.Transform("sRGB", "lin_rec709");
  ASSERT_FALSE(encode.IsIdentity());
  ASSERT_FALSE(decode.IsIdentity());
  // The linear segment, the breakpoint on both sides, mid-tones and white.
  // OpenColorIO joins the two pieces where they meet exactly (slope 12.9232
  // from 0.0030399), where the standard's rounded constants (12.92 below
  // 0.0031308) leave a step: within 1e-5 in between, far below a 16-bit step
  // (1.5e-5); to 2e-6 elsewhere.
  const std::vector<float> values = {0.0f, 1e-5f, 0.003f, 0.0031308f, 0.0032f, 0.01f, 0.18f, 0.5f, 0.9f, 1.0f};
  for (float v : values) {
    const double tolerance = v > 0.0025f && v < 0.0033f ? 1e-5 : 2e-6;
    float rgb[3] = {v, v, v};
    encode.ApplyRgb(rgb, 1);
    EXPECT_NEAR(rgb[0], SrgbEncode(v), tolerance) << v;
    float back[3] = {v, v, v};
    decode.ApplyRgb(back, 1);
    EXPECT_NEAR(back[1], SrgbDecode(v), 2e-6) << v;
  }
  // One space by two of its names is no conversion at all.
  EXPECT_TRUE(c.Transform("scene_linear", "Linear Rec.709").IsIdentity());
  EXPECT_TRUE(c.Transform("color_picking", "srgb_tx").IsIdentity());
}

TEST(ColourConfig, DisplayViewsOfTheBuiltInConfigAreTheEncodingAndTheRawValues) {
  const ColourConfig c = ColourConfig::BuiltIn();
  float standard[3] = {0.25f, 0.5f, 0.75f};
  c.DisplayTransform("scene_linear", "sRGB", "Standard").ApplyRgb(standard, 1);
  EXPECT_NEAR(standard[0], SrgbEncode(0.25), 2e-6);
  EXPECT_NEAR(standard[2], SrgbEncode(0.75), 2e-6);
  EXPECT_TRUE(c.DisplayTransform("scene_linear", "sRGB", "Raw").IsIdentity());
}

TEST(ColourConfig, TheBuiltInDisplayAgreesWithBlendersStandardView) {
  // Blender's config (Debian's blender package) makes its sRGB from a table:
  // an independent implementation of the same display.
  const std::filesystem::path blender = "/usr/share/blender/datafiles/colormanagement/config.ocio";
  if (!std::filesystem::exists(blender)) GTEST_SKIP() << "no Blender config at " << blender;
  const ColourConfig theirs = ColourConfig::FromFile(blender, "--ocio");
  const ColourConfig ours = ColourConfig::BuiltIn();
  const ColourTransform a = theirs.DisplayTransform("scene_linear", "sRGB", "Standard");
  const ColourTransform b = ours.DisplayTransform("scene_linear", ours.DefaultDisplay(), ours.DefaultView("sRGB"));
  for (float v = 0.0f; v <= 1.0f; v += 1.0f / 256) {
    float x[3] = {v, v, v}, y[3] = {v, v, v};
    a.ApplyRgb(x, 1);
    b.ApplyRgb(y, 1);
    // Within two 16-bit steps (the table's interpolation in the shadows);
    // a plain 2.2 gamma would be off by up to 0.03.
    ASSERT_NEAR(x[0], y[0], 2.0 / 65280) << v;
  }
  // Its Filmic view is another picture: mid-grey is not where sRGB puts it.
  float grey[3] = {0.18f, 0.18f, 0.18f};
  theirs.DisplayTransform("Linear", "sRGB", "Filmic").ApplyRgb(grey, 1);
  EXPECT_GT(std::abs(grey[0] - SrgbEncode(0.18)), 0.01);
}

TEST(ColourConfig, PremultipliedPixelsConvertTheColourTheyShowAndKeepAlpha) {
  const ColourTransform encode = ColourConfig::BuiltIn().Transform("scene_linear", "sRGB");
  std::vector<FloatRgba> px = {
      {0.5f * 0.25f, 0.1f * 0.25f, 0.0f, 0.25f},  // a quarter-covered pixel of colour (0.5, 0.1, 0)
      {0.2f, 0.2f, 0.2f, 1.0f},                   // opaque
      {0.3f, 0.0f, 0.0f, 0.0f},                   // light without coverage: converted as it is
      {0.0f, 0.0f, 0.0f, 0.0f},                   // transparent black stays so
      {2.0f, 4.0f, 0.5f, 1.0f},                   // HDR: the formula continues above 1.0
  };
  encode.ApplyPremultiplied(px);
  EXPECT_NEAR(px[0].r, SrgbEncode(0.5) * 0.25, 1e-6);
  EXPECT_NEAR(px[0].g, SrgbEncode(0.1) * 0.25, 1e-6);
  EXPECT_EQ(px[0].b, 0.0f);
  EXPECT_EQ(px[0].a, 0.25f);
  EXPECT_NEAR(px[1].r, SrgbEncode(0.2), 1e-6);
  EXPECT_EQ(px[1].a, 1.0f);
  EXPECT_NEAR(px[2].r, SrgbEncode(0.3), 1e-6);
  EXPECT_EQ(px[2].a, 0.0f);
  EXPECT_EQ(px[3].r, 0.0f);
  EXPECT_EQ(px[3].a, 0.0f);
  EXPECT_NEAR(px[4].g, SrgbEncode(4.0), 1e-5);
  EXPECT_GT(px[4].r, 1.0f);
}

TEST(ColourConfig, UnreadableConfigFilesAreInputErrorsNamingWhereTheyCameFrom) {
  TempDir dir;
  const auto errorOf = [](auto&& fn) {
    try {
      fn();
    } catch (const InputError& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  const std::string missing = errorOf([&] { ColourConfig::Choose((dir / "none.ocio").string()); });
  EXPECT_NE(missing.find("--ocio"), std::string::npos) << missing;
  EXPECT_NE(missing.find("none.ocio"), std::string::npos) << missing;
  std::ofstream(dir / "bad.ocio") << "ocio_profile_version: 2\ncolorspaces: [\n";
  WithOcio((dir / "bad.ocio").string(), [&] {
    const std::string bad = errorOf([&] { ColourConfig::Choose(""); });
    EXPECT_NE(bad.find("$OCIO"), std::string::npos) << bad;
    EXPECT_NE(bad.find("bad.ocio"), std::string::npos) << bad;
  });
}

// --- the plan -----------------------------------------------------------------------------

TEST(ColourPlan, DefaultsConvertOnlyALinearPlateAndItsDisplayColours) {
  WithOcio("", [] {
    struct Case {
      PlateKind plate;
      bool pngOutput;
      bool outputConverts, coloursConvert, note;
    };
    const Case cases[] = {
        {PlateKind::None, true, false, false, false},  // the default scene to PNG
        {PlateKind::None, false, false, false, false},
        {PlateKind::Png, true, false, false, false},   // PNG in, PNG out: as the files hold it
        {PlateKind::Png, false, false, false, false},  // a PNG plate into OpenEXR keeps its values
        {PlateKind::Exr, false, false, true, false},   // EXR in, EXR out: linear, the colours converted
        {PlateKind::Exr, true, true, true, true},      // EXR in, PNG out: for the sRGB display, with a note
    };
    for (const Case& c : cases) {
      const ColourPlan plan(ColourRequest{}, c.plate, c.pngOutput, "plate.exr");
      const std::string which = std::to_string(static_cast<int>(c.plate)) + (c.pngOutput ? " png" : " exr");
      EXPECT_EQ(!plan.Output().IsIdentity(), c.outputConverts) << which;
      EXPECT_EQ(!plan.SceneColours().IsIdentity(), c.coloursConvert) << which;
      EXPECT_EQ(!plan.Note().empty(), c.note) << which;
      EXPECT_EQ(plan.FrameSpace(), c.plate == PlateKind::Exr ? "Linear Rec.709" : "") << which;
    }
  });
}

TEST(ColourPlan, TheNoteOfALinearPlateIntoPngNamesThePlateTheDisplayAndTheWayOut) {
  WithOcio("", [] {
    const ColourPlan plan(ColourRequest{}, PlateKind::Exr, true, "beauty.exr");
    const std::string& note = plan.Note();
    for (const char* part : {"beauty.exr", "Linear Rec.709", "\"sRGB\"", "Standard", "--output-space"})
      EXPECT_NE(note.find(part), std::string::npos) << part << " in " << note;
    float white[3] = {0.18f, 1.0f, 0.0f};
    plan.Output().ApplyRgb(white, 1);
    EXPECT_NEAR(white[0], SrgbEncode(0.18), 2e-6);
  });
}

TEST(ColourPlan, ExplicitSpacesReplaceTheDefaults) {
  WithOcio("", [] {
    ColourRequest linear;
    linear.outputSpace = "scene_linear";
    const ColourPlan asIs(linear, PlateKind::Exr, true);
    EXPECT_TRUE(asIs.Output().IsIdentity());
    EXPECT_TRUE(asIs.Note().empty());

    ColourRequest linearPng;
    linearPng.inputSpace = "lin_rec709";
    const ColourPlan display(linearPng, PlateKind::Png, true, "linear.png");
    EXPECT_FALSE(display.Output().IsIdentity());
    EXPECT_FALSE(display.Note().empty());
    EXPECT_FALSE(display.SceneColours().IsIdentity());

    ColourRequest toLinear;
    toLinear.outputSpace = "linear";
    const ColourPlan pngToExr(toLinear, PlateKind::Png, false);
    float half[3] = {0.5f, 0.5f, 0.5f};
    pngToExr.Output().ApplyRgb(half, 1);
    EXPECT_NEAR(half[0], SrgbDecode(0.5), 2e-6);
    EXPECT_TRUE(pngToExr.SceneColours().IsIdentity());  // the frame is the display space

    ColourRequest frameValues;
    frameValues.displayColours = false;
    EXPECT_TRUE(ColourPlan(frameValues, PlateKind::Exr, false).SceneColours().IsIdentity());

    ColourRequest view;
    view.view = "Raw";
    EXPECT_TRUE(ColourPlan(view, PlateKind::Exr, true).Output().IsIdentity());
    EXPECT_TRUE(ColourPlan(view, PlateKind::Exr, true).Note().empty());
  });
}

TEST(ColourPlan, SceneColoursOfALinearFrameAreTheirLinearLight) {
  WithOcio("", [] {
    const ColourPlan plan(ColourRequest{}, PlateKind::Exr, false);
    float grey[3] = {0.8f, 0.5f, 1.0f};
    plan.SceneColours().ApplyRgb(grey, 1);
    EXPECT_NEAR(grey[0], SrgbDecode(0.8), 2e-6);
    EXPECT_NEAR(grey[1], SrgbDecode(0.5), 2e-6);
    EXPECT_NEAR(grey[2], 1.0, 2e-6);
  });
}

TEST(ColourPlan, UnknownNamesAreInputErrorsThatNameTheOptionAndListTheChoices) {
  WithOcio("", [] {
    ColourRequest in;
    in.inputSpace = "Rec.2020";
    std::string e = ErrorOf(in, PlateKind::Exr, true);
    EXPECT_NE(e.find("--input-space \"Rec.2020\""), std::string::npos) << e;
    EXPECT_NE(e.find("Linear Rec.709 (lin_rec709"), std::string::npos) << e;
    EXPECT_NE(e.find("scene_linear = Linear Rec.709"), std::string::npos) << e;

    ColourRequest out;
    out.outputSpace = "P3";
    e = ErrorOf(out, PlateKind::Png, true);
    EXPECT_NE(e.find("--output-space \"P3\""), std::string::npos) << e;
    EXPECT_NE(e.find("ACEScg"), std::string::npos) << e;

    ColourRequest display;
    display.display = "Rec.709";
    e = ErrorOf(display, PlateKind::Exr, true);
    EXPECT_NE(e.find("--display \"Rec.709\""), std::string::npos) << e;
    EXPECT_NE(e.find("its displays: sRGB"), std::string::npos) << e;

    ColourRequest view;
    view.view = "Filmic";
    e = ErrorOf(view, PlateKind::Exr, true);
    EXPECT_NE(e.find("--view \"Filmic\""), std::string::npos) << e;
    EXPECT_NE(e.find("its views: Standard; Raw"), std::string::npos) << e;

    ColourRequest both;
    both.outputSpace = "sRGB";
    both.display = "sRGB";
    e = ErrorOf(both, PlateKind::Exr, true);
    EXPECT_NE(e.find("--output-space and --display"), std::string::npos) << e;
  });
}

TEST(ColourPlan, APngRenderWithoutColourOptionsReadsNoConfig) {
  TempDir dir;
  std::ofstream(dir / "broken.ocio") << "not a config\n";
  WithOcio((dir / "broken.ocio").string(), [] {
    EXPECT_EQ(ErrorOf(ColourRequest{}, PlateKind::Png, true), "");
    EXPECT_EQ(ErrorOf(ColourRequest{}, PlateKind::None, false), "");
    // A linear plate needs it, and says where it came from.
    EXPECT_NE(ErrorOf(ColourRequest{}, PlateKind::Exr, true).find("$OCIO"), std::string::npos);
  });
}

TEST(ColourPlan, AnotherConfigsRolesChooseTheDefaults) {
  // A config whose scene-linear space is ACEScg and whose display values
  // are a 2.2 gamma: the defaults follow its roles.
  TempDir dir;
  std::ofstream(dir / "studio.ocio") << R"(ocio_profile_version: 2
roles:
  scene_linear: ACEScg
  color_picking: Gamma 2.2
  default: Gamma 2.2
displays:
  Monitor:
    - !<View> {name: Gamma, colorspace: Gamma 2.2}
active_displays: [Monitor]
active_views: [Gamma]
colorspaces:
  - !<ColorSpace>
    name: ACEScg
    isdata: false
  - !<ColorSpace>
    name: Gamma 2.2
    isdata: false
    to_scene_reference: !<ExponentTransform> {value: 2.2}
)";
  WithOcio((dir / "studio.ocio").string(), [] {
    const ColourPlan plan(ColourRequest{}, PlateKind::Exr, true, "shot.exr");
    EXPECT_EQ(plan.FrameSpace(), "ACEScg");
    float v[3] = {0.25f, 0.25f, 0.25f};
    plan.Output().ApplyRgb(v, 1);
    EXPECT_NEAR(v[0], std::pow(0.25, 1 / 2.2), 1e-5);
    EXPECT_NE(plan.Note().find("Monitor"), std::string::npos) << plan.Note();
  });
}

// --- the scene's colours ------------------------------------------------------------------

TEST(SceneColours, EveryColourParameterAndEachKeyConvertsAndNothingElse) {
  IParamBlock2* block = new IParamBlock2(&qe_velumbra_param_blk);
  const ColourTransform decode = ColourConfig::BuiltIn().Transform("sRGB", "scene_linear");
  block->SetValue(pb_brightstarscolor, 0, Color(1.0f, 0.5f, 0.25f));
  const ParamKey<Color> keys[] = {{0, Color(0.5f, 0.5f, 0.5f)}, {4800, Color(0.2f, 0.0f, 1.0f)}};
  block->SetKeys(pb_dimstarscolor, keys);
  block->SetValue(pb_starscount, 0, 77);
  block->SetValue(pb_brightstarssize, 0, 0.5f);

  velumbra::ConvertColourParams(*block, decode);

  Interval valid = FOREVER;
  Color bright, dim0, dim1, dimMid, filter;
  block->GetValue(pb_brightstarscolor, 0, bright, valid);
  EXPECT_NEAR(bright.r, 1.0, 2e-6);
  EXPECT_NEAR(bright.g, SrgbDecode(0.5), 2e-6);
  EXPECT_NEAR(bright.b, SrgbDecode(0.25), 2e-6);
  ASSERT_EQ(block->NumKeys(pb_dimstarscolor), 2);
  block->GetValue(pb_dimstarscolor, 0, dim0, valid);
  block->GetValue(pb_dimstarscolor, 4800, dim1, valid);
  block->GetValue(pb_dimstarscolor, 2400, dimMid, valid);
  EXPECT_NEAR(dim0.r, SrgbDecode(0.5), 2e-6);
  EXPECT_NEAR(dim1.r, SrgbDecode(0.2), 2e-6);
  EXPECT_NEAR(dim1.b, 1.0, 2e-6);
  // Between the keys the block interpolates the converted values.
  EXPECT_NEAR(dimMid.r, (SrgbDecode(0.5) + SrgbDecode(0.2)) / 2, 2e-6);
  // Black (the dimming filter's default) is black in every space.
  block->GetValue(pb_starsdimmingfilter, 0, filter, valid);
  EXPECT_EQ(filter, Color(0, 0, 0));
  int count = 0;
  float size = 0;
  block->GetValue(pb_starscount, 0, count, valid);
  block->GetValue(pb_brightstarssize, 0, size, valid);
  EXPECT_EQ(count, 77);
  EXPECT_EQ(size, 0.5f);

  // The identity changes nothing.
  velumbra::ConvertColourParams(*block, ColourTransform());
  Color again;
  block->GetValue(pb_brightstarscolor, 0, again, valid);
  EXPECT_EQ(again, bright);
  block->DeleteThis();
}

TEST(SceneColours, TheBackgroundConvertsTheColourItShowsAndKeepsItsAlpha) {
  const ColourTransform decode = ColourConfig::BuiltIn().Transform("sRGB", "scene_linear");
  // Premultiplied: 30 % of the straight colour (0.5, 0.04, 1.0).
  const std::array<double, 4> out = velumbra::ConvertBackground({0.15, 0.012, 0.3, 0.3}, decode);
  EXPECT_NEAR(out[0], SrgbDecode(0.5) * 0.3, 2e-6);
  EXPECT_NEAR(out[1], SrgbDecode(0.04) * 0.3, 2e-6);
  EXPECT_NEAR(out[2], 0.3, 2e-6);
  EXPECT_EQ(out[3], 0.3);
  const std::array<double, 4> opaque = velumbra::ConvertBackground({0.5, 0.5, 0.5, 1.0}, decode);
  EXPECT_NEAR(opaque[1], SrgbDecode(0.5), 2e-6);
  const std::array<double, 4> same = velumbra::ConvertBackground({0.15, 0.012, 0.3, 0.3}, ColourTransform());
  EXPECT_EQ(same, (std::array<double, 4>{0.15, 0.012, 0.3, 0.3}));
}

}  // namespace
