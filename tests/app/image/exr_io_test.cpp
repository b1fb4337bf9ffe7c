#include "host/app/image/exr_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <OpenEXR/ImfMatrixAttribute.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <Imath/half.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "app/image/exr_test_files.h"
#include "host/app/base/app_error.h"

namespace {

using velumbra::ExrColourType;
using velumbra::ExrIdType;
using velumbra::ExrReader;
using velumbra::ExrWriteOptions;
using velumbra::FloatRgba;
using velumbra::IdKind;
using velumbra::InputError;
using velumbra::SystemError;

bool SameBits(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }

bool SameBits(const FloatRgba& a, const FloatRgba& b) {
  return SameBits(a.r, b.r) && SameBits(a.g, b.g) && SameBits(a.b, b.b) && SameBits(a.a, b.a);
}

// --- the 8.8 scale --------------------------------------------------------------------

TEST(ExrScale, MapsFileWhiteToFullIntensityAndClamps) {
  const struct {
    float f;
    WORD v;
  } cases[] = {
      {0.0f, 0},           {-0.0f, 0},          {-2.5f, 0},
      {1.0f, 65280},       {0.5f, 32640},       {65535.0f / 65280.0f, 65535},
      {1.5f, 65535},       {1e30f, 65535},      {std::numeric_limits<float>::infinity(), 65535},
      {std::nanf(""), 0},  {0.4f / 65280, 0},   {0.6f / 65280, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(velumbra::FloatTo16(c.f), c.v) << c.f;
}

TEST(ExrScale, EverySixteenBitValueSurvivesFloatRoundTrip) {
  for (unsigned v = 0; v <= 65535; ++v)
    ASSERT_EQ(velumbra::FloatTo16(velumbra::Float16ToFloat(static_cast<WORD>(v))), v);
}

// --- colour ---------------------------------------------------------------------------

std::vector<FloatRgba> Gradient(int w, int h) {
  std::vector<FloatRgba> px(size_t(w) * h);
  for (size_t i = 0; i < px.size(); ++i)
    px[i] = {0.1f * float(i), -0.25f + 0.01f * float(i), 3.75f, i % 2 ? 1.0f : 0.3f};
  return px;
}

TEST(ExrRoundTrip, FloatColourIsExactHalfColourIsHalfPrecision) {
  TempDir dir;
  const int w = 5, h = 3;
  const std::vector<FloatRgba> px = Gradient(w, h);
  for (const ExrColourType type : {ExrColourType::Float, ExrColourType::Half}) {
    ExrWriteOptions options;
    options.colour = type;
    velumbra::WriteExr(dir / "c.exr", w, h, px.data(), nullptr, nullptr, options);
    const velumbra::ExrRgbaImage image = velumbra::ReadExrRgba(dir / "c.exr");
    ASSERT_EQ(image.width, w);
    ASSERT_EQ(image.height, h);
    EXPECT_EQ(image.sampleType, type);
    EXPECT_TRUE(image.hasAlpha);
    EXPECT_EQ(image.fileBitDepth, 16);
    for (size_t i = 0; i < px.size(); ++i) {
      const FloatRgba want = type == ExrColourType::Float
                                 ? px[i]
                                 : FloatRgba{float(half(px[i].r)), float(half(px[i].g)), float(half(px[i].b)),
                                             float(half(px[i].a))};
      EXPECT_TRUE(SameBits(image.floats[i], want)) << i;
    }
    // 3.75 is HDR (clamped), alpha 1.0 is full opacity, negatives clamp to 0.
    EXPECT_EQ(image.pixels[1].b, 65535);
    EXPECT_EQ(image.pixels[1].a, 65280);
    EXPECT_EQ(image.pixels[0].g, 0);
  }
}

TEST(ExrRead, DataWindowMapsIntoDisplayWindowAndOutsideIsZero) {
  TempDir dir;
  for (const bool tiled : {false, true}) {
    // Display 6 x 4 at (10, 20); data from (12, 19) to (17, 21): one row above
    // and two columns to the right of the display window are not shown.
    TestExr layout;
    layout.tiled = tiled;
    layout.display = {Imath::V2i(10, 20), Imath::V2i(15, 23)};
    layout.data = {Imath::V2i(12, 19), Imath::V2i(17, 21)};
    TestChannel r{"R", Imf::FLOAT, {}, {}};
    for (int y = layout.data.min.y; y <= layout.data.max.y; ++y)
      for (int x = layout.data.min.x; x <= layout.data.max.x; ++x) r.values.push_back(float(100 * y + x));
    layout.channels = {r, Filled("G", layout.Count(), 0.5f), Filled("B", layout.Count(), -1.0f, Imf::HALF)};
    WriteTestExr(dir / "w.exr", layout);

    const velumbra::ExrRgbaImage image = velumbra::ReadExrRgba(dir / "w.exr");
    ASSERT_EQ(image.width, 6);
    ASSERT_EQ(image.height, 4);
    EXPECT_FALSE(image.hasAlpha);
    EXPECT_EQ(image.sampleType, ExrColourType::Float);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) {
        const FloatRgba& p = image.floats[size_t(y) * 6 + x];
        const int fx = x + 10, fy = y + 20;
        if (fx >= 12 && fy <= 21) {
          EXPECT_EQ(p.r, float(100 * fy + fx)) << x << "," << y << " tiled " << tiled;
          EXPECT_EQ(p.g, 0.5f);
          EXPECT_EQ(p.b, -1.0f);
          EXPECT_EQ(p.a, 1.0f);  // no A channel: opaque
          EXPECT_EQ(image.pixels[size_t(y) * 6 + x].a, 65280);
        } else {
          EXPECT_TRUE(SameBits(p, FloatRgba{})) << x << "," << y << " tiled " << tiled;
        }
      }
  }
}

TEST(ExrRead, TallImagesReadAcrossBandsOfRows) {
  TempDir dir;
  TestExr layout;
  layout.display = {Imath::V2i(0, 0), Imath::V2i(2, 199)};
  layout.data = {Imath::V2i(0, 5), Imath::V2i(2, 190)};
  TestChannel y{"Y", Imf::HALF, {}, {}};
  for (size_t i = 0; i < layout.Count(); ++i) y.values.push_back(float(i / 3));
  layout.channels = {y};
  WriteTestExr(dir / "tall.exr", layout);
  const velumbra::ExrRgbaImage image = velumbra::ReadExrRgba(dir / "tall.exr");
  EXPECT_TRUE(image.fromLuminance);
  for (int row = 0; row < 200; ++row) {
    const FloatRgba& p = image.floats[size_t(row) * 3 + 1];
    const float want = row >= 5 && row <= 190 ? float(row - 5) : 0.0f;
    ASSERT_EQ(p.r, want) << row;
    ASSERT_EQ(p.g, want);
    ASSERT_EQ(p.b, want);
    ASSERT_EQ(p.a, row >= 5 && row <= 190 ? 1.0f : 0.0f);
  }
}

TEST(ExrRead, WideShortDataWindowReadsWithinItsOwnSize) {
  // Two million samples in one row: a band of rows may not be sized by
  // rows alone (that would be gigabytes).
  TempDir dir;
  TestExr layout;
  layout.display = {Imath::V2i(0, 0), Imath::V2i(3, 0)};
  layout.data = {Imath::V2i(-1000000, 0), Imath::V2i(1000000, 0)};
  TestChannel y{"Y", Imf::FLOAT, std::vector<float>(layout.Count(), 9.0f), {}};
  for (int x = 0; x < 4; ++x) y.values[size_t(1000000 + x)] = float(x);
  layout.channels = {y};
  WriteTestExr(dir / "wide.exr", layout);
  const velumbra::ExrRgbaImage image = velumbra::ReadExrRgba(dir / "wide.exr");
  ASSERT_EQ(image.floats.size(), 4u);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(image.floats[x].g, float(x));
}

TEST(ExrRead, ColourFromALayerWhenTheTopLevelHasNone) {
  TempDir dir;
  TestExr layout;
  const size_t n = layout.Count();
  layout.channels = {Filled("AOV.R", n, 9), Filled("AOV.G", n, 9), Filled("AOV.B", n, 9),
                   Filled("ViewLayer.Combined.R", n, 0.25f), Filled("ViewLayer.Combined.G", n, 0.5f),
                   Filled("ViewLayer.Combined.B", n, 0.75f), Filled("ViewLayer.Combined.A", n, 0.5f),
                   Filled("ViewLayer.Depth.Z", n, 7)};
  WriteTestExr(dir / "layers.exr", layout);
  const velumbra::ExrRgbaImage image = velumbra::ReadExrRgba(dir / "layers.exr");
  EXPECT_EQ(image.layer, "ViewLayer.Combined.");
  EXPECT_TRUE(image.hasAlpha);
  EXPECT_EQ(image.pixels[0], (BMM_Color_64{16320, 32640, 48960, 32640}));

  // Top-level RGB wins over every layer.
  layout.channels.push_back(Filled("R", n, 1));
  layout.channels.push_back(Filled("G", n, 1));
  layout.channels.push_back(Filled("B", n, 1));
  WriteTestExr(dir / "top.exr", layout);
  const velumbra::ExrRgbaImage top = velumbra::ReadExrRgba(dir / "top.exr");
  EXPECT_EQ(top.layer, "");
  EXPECT_EQ(top.pixels[0], (BMM_Color_64{65280, 65280, 65280, 65280}));
}

TEST(ExrRead, LuminanceChromaImagesConvertToColour) {
  TempDir dir;
  const int w = 8, h = 6;
  std::vector<Imf::Rgba> px(size_t(w) * h, Imf::Rgba(0.8f, 0.2f, 0.1f, 1.0f));
  {
    Imf::RgbaOutputFile out((dir / "yc.exr").c_str(), w, h, Imf::WRITE_YCA);
    out.setFrameBuffer(px.data(), 1, w);
    out.writePixels(h);
  }
  const velumbra::ExrRgbaImage image = velumbra::ReadExrRgba(dir / "yc.exr");
  EXPECT_TRUE(image.fromLuminance);
  // Chroma is stored at reduced precision: a flat colour comes back close.
  const FloatRgba& p = image.floats[size_t(3) * w + 4];
  EXPECT_NEAR(p.r, 0.8f, 0.02f);
  EXPECT_NEAR(p.g, 0.2f, 0.02f);
  EXPECT_NEAR(p.b, 0.1f, 0.02f);
  EXPECT_EQ(p.a, 1.0f);
}

TEST(ExrRead, CameraAttributesInFloatOrDouble) {
  TempDir dir;
  Imath::M44f toCamera;
  toCamera.setTranslation(Imath::V3f(1, 2, 3));
  Imath::M44d toNdc;
  toNdc[0][1] = 0.5;
  toNdc[3][3] = 2.0;
  TestExr layout;
  layout.channels = {Filled("R", layout.Count(), 0), Filled("G", layout.Count(), 0), Filled("B", layout.Count(), 0)};
  WriteTestExr(dir / "none.exr", layout);
  EXPECT_FALSE(ExrReader(dir / "none.exr").Camera().worldToCamera);
  EXPECT_FALSE(ExrReader(dir / "none.exr").Camera().worldToNDC);

  layout.extra.insert("worldToCamera", Imf::M44fAttribute(toCamera));
  layout.extra.insert("worldToNDC", Imf::M44dAttribute(toNdc));
  WriteTestExr(dir / "cam.exr", layout);
  const velumbra::ExrCamera camera = ExrReader(dir / "cam.exr").Camera();
  ASSERT_TRUE(camera.worldToCamera && camera.worldToNDC);
  EXPECT_EQ(camera.worldToCamera->m[3][0], 1.0f);
  EXPECT_EQ(camera.worldToCamera->m[3][2], 3.0f);
  EXPECT_EQ(camera.worldToCamera->m[0][0], 1.0f);
  EXPECT_EQ(camera.worldToNDC->m[0][1], 0.5f);
  EXPECT_EQ(camera.worldToNDC->m[3][3], 2.0f);

  // Written back by the writer, read back the same.
  const std::vector<FloatRgba> px(12);
  ExrWriteOptions options;
  options.camera = camera;
  velumbra::WriteExr(dir / "out.exr", 4, 3, px.data(), nullptr, nullptr, options);
  EXPECT_EQ(velumbra::ReadExrRgba(dir / "out.exr").camera, camera);
}

// --- keeping the original floats ------------------------------------------------------

TEST(ExrMerge, UnchangedChannelsKeepTheirFloatsChangedOnesTakeTheOutput) {
  TempDir dir;
  // HDR, negative, sub-quantum and NaN values: none survives 16 bits.
  const std::vector<FloatRgba> original = {{7.5f, -0.125f, 1e-7f, 0.5f},
                                           {std::nanf(""), 1.0f, 2.0f, 1.0f},
                                           {0.3f, 0.3f, 0.3f, 1.0f},
                                           {-4.0f, 100.0f, 0.0f, 0.0f}};
  TestExr layout;
  layout.display = layout.data = {Imath::V2i(0, 0), Imath::V2i(1, 1)};
  for (const char* name : {"R", "G", "B", "A"}) layout.channels.push_back({name, Imf::FLOAT, {}, {}});
  for (const FloatRgba& p : original) {
    layout.channels[0].values.push_back(p.r);
    layout.channels[1].values.push_back(p.g);
    layout.channels[2].values.push_back(p.b);
    layout.channels[3].values.push_back(p.a);
  }
  WriteTestExr(dir / "in.exr", layout);
  const velumbra::ExrRgbaImage in = velumbra::ReadExrRgba(dir / "in.exr");
  for (size_t i = 0; i < original.size(); ++i) ASSERT_TRUE(SameBits(in.floats[i], original[i])) << i;

  // The "effect" changes pixel 2 (one channel) and pixel 3 (alpha).
  std::vector<BMM_Color_64> out = in.pixels;
  out[2].g += 1;
  out[3] = {1000, 2000, 3000, 65280};
  const std::vector<FloatRgba> merged = velumbra::MergeEffectOutput(in.floats, in.pixels, out);
  ExrWriteOptions options;
  options.colour = in.sampleType;
  velumbra::WriteExr(dir / "out.exr", 2, 2, merged.data(), nullptr, nullptr, options);
  const velumbra::ExrRgbaImage back = velumbra::ReadExrRgba(dir / "out.exr");
  EXPECT_TRUE(SameBits(back.floats[0], original[0]));
  EXPECT_TRUE(SameBits(back.floats[1], original[1]));
  // Channel by channel: only green changed in pixel 2.
  EXPECT_TRUE(SameBits(back.floats[2], (FloatRgba{0.3f, out[2].g / 65280.0f, 0.3f, 1.0f})));
  // Beyond the 16-bit range (-4 read as 0, 100 read as 65535) the change is
  // added to the float (no probe: a = 1); in range (blue, alpha) the float
  // is the output.
  EXPECT_FLOAT_EQ(back.floats[3].r, -4.0f + 1000 / 65280.0f);
  EXPECT_FLOAT_EQ(back.floats[3].g, 100.0f + (2000 - 65535) / 65280.0f);
  EXPECT_TRUE(SameBits(back.floats[3].b, 3000 / 65280.0f));
  EXPECT_TRUE(SameBits(back.floats[3].a, 1.0f));
  // A changed channel in range reads back as the effect's 16-bit value.
  EXPECT_EQ(back.pixels[2], out[2]);

  EXPECT_THROW(velumbra::MergeEffectOutput(in.floats, in.pixels, std::span(out).first(3)), std::invalid_argument);
}

TEST(ExrMerge, BeyondRangeChannelsTakeTheAffineResponseThatTheProbeMeasures) {
  using velumbra::kHdrProbeLevel;
  // The effect saw each beyond-range colour channel at 0 (output b) and, in
  // the probe, at kHdrProbeLevel (probe a * level + b).
  struct Case {
    const char* what;
    float original;
    WORD output, probe;
    float expected;
  };
  const Case cases[] = {
      {"untouched", 4.0f, 0, kHdrProbeLevel, 4.0f},
      {"a star adds 0.1", 4.0f, 6528, WORD(kHdrProbeLevel + 6528), 4.0f + 6528 / 65280.0f},
      {"the star alone saturates: additive", 4.0f, 65280, 65280, 5.0f},
      {"filter at half", 4.0f, 0, kHdrProbeLevel / 2, 2.0f},
      {"filter to black", 4.0f, 0, 0, 0.0f},
      {"simple apply, opaque star", 4.0f, 30000, 30000, 30000 / 65280.0f},
      {"negative plus light", -0.5f, 6528, WORD(kHdrProbeLevel + 6528), -0.5f + 6528 / 65280.0f},
      {"just above white", 1.001f, 100, WORD(kHdrProbeLevel + 100), 1.001f + 100 / 65280.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<FloatRgba> original{{c.original, 0.25f, c.original, 1.0f}};
    const std::vector<BMM_Color_64> frame =
        velumbra::HdrEffectFrame(original, std::vector<BMM_Color_64>{velumbra::FloatRgbaTo16(original[0])}, 0);
    ASSERT_EQ(frame[0].r, 0);
    ASSERT_EQ(frame[0].g, 16320);  // in range: as read
    const std::vector<BMM_Color_64> out{{c.output, 16320, c.output, 65280}};
    const std::vector<BMM_Color_64> probe{{c.probe, 16320, c.probe, 65280}};
    const std::vector<FloatRgba> merged = velumbra::MergeEffectOutput(original, frame, out, probe);
    EXPECT_FLOAT_EQ(merged[0].r, c.expected);
    EXPECT_TRUE(SameBits(merged[0].r, merged[0].b));
    EXPECT_TRUE(SameBits(merged[0].g, 0.25f));  // unchanged in range: exact
    EXPECT_TRUE(SameBits(merged[0].a, 1.0f));
  }
  // Which channels are beyond: negative, or above 65280 once on the 8.8 scale.
  EXPECT_FALSE(velumbra::BeyondFrameRange(1.0f));
  EXPECT_FALSE(velumbra::BeyondFrameRange(65280.49f / 65280.0f));
  EXPECT_TRUE(velumbra::BeyondFrameRange(65280.6f / 65280.0f));
  EXPECT_TRUE(velumbra::BeyondFrameRange(-1e-9f));
  EXPECT_FALSE(velumbra::BeyondFrameRange(std::nanf("")));
  EXPECT_FALSE(velumbra::AnyBeyondFrameRange(std::vector<FloatRgba>{{1.0f, 0.0f, 0.5f, 7.0f}}));  // alpha aside
  EXPECT_TRUE(velumbra::AnyBeyondFrameRange(std::vector<FloatRgba>{{0.0f, 0.0f, 2.0f, 1.0f}}));
  // Alpha above 1: kept by the additive methods, scaled by the filter.
  const std::vector<FloatRgba> bright{{0.5f, 0.5f, 0.5f, 2.0f}};
  const std::vector<BMM_Color_64> in16{velumbra::FloatRgbaTo16(bright[0])};
  EXPECT_EQ(velumbra::MergeEffectOutput(bright, in16, std::vector<BMM_Color_64>{{40000, 32640, 32640, 65280}})[0].a,
            2.0f);
  EXPECT_EQ(velumbra::MergeEffectOutput(bright, in16, std::vector<BMM_Color_64>{{16320, 16320, 16320, 32640}})[0].a,
            1.0f);
}

// --- writing failures -----------------------------------------------------------------

TEST(ExrWrite, FailedWriteLeavesNothingBehindAndKeepsTheOldFile) {
  TempDir dir;
  const std::vector<FloatRgba> px = Gradient(64, 64);
  WriteAll(dir / "out.exr", "old contents");
  {
    FileSizeLimit limit(100);  // as a full disk
    EXPECT_THROW(velumbra::WriteExr(dir / "out.exr", 64, 64, px.data(), nullptr, nullptr), SystemError);
  }
  EXPECT_EQ(ReadAll(dir / "out.exr"), "old contents");
  EXPECT_EQ(CountEntries(dir.Path()), 1);
}

TEST(ExrWrite, RefusesTargetsThatAreNotRegularFiles) {
  TempDir dir;
  const std::vector<FloatRgba> px(4);
  ASSERT_EQ(::mkfifo((dir / "pipe.exr").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder.exr");
  for (const char* name : {"pipe.exr", "folder.exr"}) {
    EXPECT_THROW(velumbra::WriteExr(dir / name, 2, 2, px.data(), nullptr, nullptr), SystemError) << name;
  }
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "pipe.exr"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.exr"));
  EXPECT_EQ(CountEntries(dir.Path()), 2);
}

TEST(ExrWrite, ReadOnlyFolderIsAnError) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: folder permissions are not enforced";
  TempDir dir;
  std::filesystem::create_directory(dir / "ro");
  std::filesystem::permissions(dir / "ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const std::vector<FloatRgba> px(4);
  EXPECT_THROW(velumbra::WriteExr(dir / "ro/out.exr", 2, 2, px.data(), nullptr, nullptr), SystemError);
  EXPECT_EQ(CountEntries(dir / "ro"), 0);
}

// --- reading failures -----------------------------------------------------------------

TEST(ExrRead, BadFilesAreInputErrorsNamingTheFile) {
  TempDir dir;
  const std::vector<FloatRgba> px = Gradient(40, 40);
  velumbra::WriteExr(dir / "good.exr", 40, 40, px.data(), nullptr, nullptr);
  const std::string good = ReadAll(dir / "good.exr");
  WriteAll(dir / "truncated.exr", good.substr(0, good.size() / 2));
  WriteAll(dir / "header-only.exr", good.substr(0, 40));
  WriteAll(dir / "empty.exr", "");
  WriteAll(dir / "text.exr", "this is not an image at all");

  for (const char* name : {"truncated.exr", "header-only.exr", "empty.exr", "text.exr", "missing.exr"}) {
    const std::filesystem::path file = dir / name;
    const std::string message = InputErrorOf([&] { velumbra::ReadExrRgba(file); });
    EXPECT_NE(message.find(file.string()), std::string::npos) << name << ": " << message;
  }
  EXPECT_NE(InputErrorOf([&] { velumbra::ReadExrRgba(dir / "text.exr"); }).find("not an OpenEXR file"),
            std::string::npos);

  // Too many pixels: refused from the header.
  velumbra::ExrReadOptions small;
  small.maxPixels = 40 * 40 - 1;
  EXPECT_NE(InputErrorOf([&] { ExrReader(dir / "good.exr", small); }).find("limit"), std::string::npos);

  // No colour channels at all.
  TestExr layout;
  layout.channels = {Filled("Z", layout.Count(), 1)};
  WriteTestExr(dir / "depth.exr", layout);
  EXPECT_NE(InputErrorOf([&] { velumbra::ReadExrRgba(dir / "depth.exr"); }).find("channels Z"), std::string::npos);
}

}  // namespace
