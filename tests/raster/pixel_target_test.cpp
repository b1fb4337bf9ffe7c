// Compositing of one star pixel: the five apply methods, masks, alpha
// accumulation and ID stamping. Expected values are hand-computed from the
// closed forms, with inputs chosen so that no exact product lies near an
// integer (single-precision rounding then cannot move a truncated result).
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "raster/pixel_target.h"
#include "canvas.h"

namespace {

TEST(PixelTarget, ConstructionTakesTheBitmapsShapeAndChannels) {
  Canvas canvas(7, 5);
  PixelTarget target(&canvas.bitmap, 3);
  EXPECT_EQ(target.bitmap, &canvas.bitmap);
  EXPECT_EQ(target.materialIdChannel, canvas.MaterialIds());
  EXPECT_EQ(target.objectIdChannel, canvas.ObjectIds());
  EXPECT_NE(target.materialIdChannel, nullptr);
  EXPECT_NE(target.objectIdChannel, nullptr);
  EXPECT_EQ(target.maxX, 6);
  EXPECT_EQ(target.maxY, 4);
  EXPECT_EQ(target.applyMethod, 3);
  EXPECT_EQ(target.idWriteAlphaThreshold, 32640);
  EXPECT_EQ(target.writeAlpha, 1);
  EXPECT_EQ(target.writeMaterialId, 0);
  EXPECT_EQ(target.writeObjectId, 0);
  EXPECT_EQ(target.matchMaterialId, 0);
  EXPECT_EQ(target.matchObjectId, 0);
  EXPECT_EQ(target.materialIdToMatch, 0);
  EXPECT_EQ(target.objectIdToMatch, 0);
  EXPECT_EQ(target.materialIdToWrite, 0);
  EXPECT_EQ(target.objectIdToWrite, 0);
  for (float d : target.streakDimming) EXPECT_EQ(d, 0.0f);
}

TEST(PixelTarget, ConstructionWithoutStorageOrChannels) {
  Bitmap empty;
  PixelTarget noStorage(&empty, 0);
  EXPECT_EQ(noStorage.maxX, -1);
  EXPECT_EQ(noStorage.maxY, -1);
  EXPECT_EQ(noStorage.materialIdChannel, nullptr);
  EXPECT_EQ(noStorage.objectIdChannel, nullptr);

  PixelTarget noBitmap(nullptr, 2);
  EXPECT_EQ(noBitmap.maxX, -1);
  EXPECT_EQ(noBitmap.maxY, -1);

  Canvas bare(3, 2, {}, BMM_CHAN_NONE);
  PixelTarget noChannels(&bare.bitmap, 1);
  EXPECT_EQ(noChannels.maxX, 2);
  EXPECT_EQ(noChannels.maxY, 1);
  EXPECT_EQ(noChannels.materialIdChannel, nullptr);
  EXPECT_EQ(noChannels.objectIdChannel, nullptr);

  // Nothing to read: plotting and drawing are harmless no-ops.
  noStorage.PlotPixel(0, 0, kWhite);
  noBitmap.PlotPixel(0, 0, kWhite);
  noStorage.DrawSplat({0, 0}, kWhite, 3.0f);
  noBitmap.DrawCapsule({0, 0}, {5, 5}, kWhite, 3.0f);
  noBitmap.DrawTrail({0, 0}, {5, 5}, kWhite, 3.0f);
}

TEST(PixelTarget, MembersKeepTheirDeclaredOrder) {
  static_assert(std::is_standard_layout_v<PixelTarget>);
  const std::size_t offsets[] = {
      offsetof(PixelTarget, bitmap),           offsetof(PixelTarget, materialIdChannel),
      offsetof(PixelTarget, materialIdToMatch), offsetof(PixelTarget, objectIdChannel),
      offsetof(PixelTarget, objectIdToMatch),  offsetof(PixelTarget, idWriteAlphaThreshold),
      offsetof(PixelTarget, writeAlpha),       offsetof(PixelTarget, writeMaterialId),
      offsetof(PixelTarget, writeObjectId),    offsetof(PixelTarget, matchMaterialId),
      offsetof(PixelTarget, matchObjectId),    offsetof(PixelTarget, applyMethod),
      offsetof(PixelTarget, materialIdToWrite), offsetof(PixelTarget, objectIdToWrite),
      offsetof(PixelTarget, streakDimming),    offsetof(PixelTarget, maxX),
      offsetof(PixelTarget, maxY)};
  for (std::size_t i = 1; i < std::size(offsets); ++i) EXPECT_LT(offsets[i - 1], offsets[i]) << i;
  EXPECT_EQ(sizeof(PixelTarget::streakDimming), 4 * sizeof(float));
}

TEST(ClampColor, LimitsEveryChannelAsUnsigned) {
  EXPECT_EQ(PixelTarget::ClampColor(0, 12345, 65280, 65281), (BMM_Color_64{0, 12345, 65280, 65280}));
  EXPECT_EQ(PixelTarget::ClampColor(130560, 65535, 1, 65279), (BMM_Color_64{65280, 65280, 1, 65279}));
  // Negative values compare as huge unsigned ones.
  EXPECT_EQ(PixelTarget::ClampColor(-1, -65280, std::numeric_limits<int>::min(), 7),
            (BMM_Color_64{65280, 65280, 65280, 7}));
}

struct CompositeCase {
  const char* name;
  UBYTE method;
  int writeAlpha;
  BMM_Color_64 image;
  BMM_Color_64 star;
  BMM_Color_64 expected;
  bool stampsIds;
};

// Image alpha 16320 gives f = 1 - 0.25 = 0.75 and g = 0.25 exactly; star
// alpha 16320 gives h = 0.75.
const CompositeCase kCompositeCases[] = {
    // f = 0.75: 4002 * 0.75 = 3001.5, 10001 * 0.75 = 7500.75, 65279 * 0.75 = 48959.25,
    // 40001 * 0.75 = 30000.75.
    {"AdditiveWithAlpha", 0, 1, {1000, 2000, 3000, 16320}, {4002, 10001, 65279, 40001},
     {4001, 9500, 51959, 46320}, true},
    {"AdditiveWithAlphaNoAlphaWrite", 0, 0, {1000, 2000, 3000, 16320}, {4002, 10001, 65279, 40001},
     {4001, 9500, 51959, 16320}, true},
    // g = 0.25 over a mostly transparent pixel: no IDs.
    {"AdditiveWithInverseAlpha", 1, 1, {1000, 2000, 3000, 16320}, {4002, 10001, 65279, 40001},
     {2000, 4500, 19319, 26320}, false},
    // g = 48960 / 65280 = 0.75 (within single-precision rounding); the alpha sum 30000 + 48960 is limited.
    {"AdditiveWithInverseAlphaOpaque", 1, 1, {1000, 2000, 3000, 48960}, {4002, 10001, 65279, 40001},
     {4001, 9500, 51959, 65280}, true},
    {"AdditiveWithInverseAlphaNoAlphaWrite", 1, 0, {1000, 2000, 3000, 48960}, {4002, 10001, 65279, 40001},
     {4001, 9500, 51959, 48960}, true},
    {"SimpleAdditive", 2, 1, {1000, 2000, 3000, 16320}, {4002, 10001, 65279, 40001},
     {5002, 12001, 65280, 56321}, true},
    {"SimpleAdditiveNoAlphaWrite", 2, 0, {1000, 2000, 3000, 16320}, {4002, 10001, 65279, 40001},
     {5002, 12001, 65280, 16320}, true},
    // h = 0.75: 1000 * 0.75 + 4002, ..., alpha 16320 * 0.75 + 16320.
    {"SimpleApply", 3, 1, {1000, 2000, 3000, 16320}, {4002, 10001, 20000, 16320},
     {4752, 11501, 22250, 28560}, false},
    {"SimpleApplyNoAlphaWriteAdds", 3, 0, {1000, 2000, 3000, 16320}, {4002, 10001, 20000, 40000},
     {5002, 12001, 23000, 16320}, true},
    // 32640 * 1001 / 65280 = 500.5, 65280 * 2001 / 65280 = 2001, 16320 * 3001 / 65280 = 750.25,
    // 48961 * 16320 / 65280 = 12240.25.
    {"ApplyAsFilter", 4, 1, {1001, 2001, 3001, 16320}, {32640, 65280, 16320, 48961},
     {500, 2001, 750, 12240}, true},
    {"ApplyAsFilterNoAlphaWrite", 4, 0, {1001, 2001, 3001, 16320}, {32640, 65280, 16320, 48961},
     {500, 2001, 750, 16320}, true},
    // Not a method: written back as read (alpha limited), no IDs.
    {"UnknownMethod", 9, 1, {1000, 2000, 3000, 65535}, {4002, 10001, 65280, 65280},
     {1000, 2000, 3000, 65280}, false},
};

void PrintTo(const CompositeCase& c, std::ostream* os) { *os << c.name; }

class CompositeTable : public testing::TestWithParam<CompositeCase> {};

TEST_P(CompositeTable, WritesTheClosedFormAndStampsByTheMethodsCondition) {
  const CompositeCase& c = GetParam();
  Canvas canvas(4, 3, c.image);
  PixelTarget target(&canvas.bitmap, c.method);
  target.writeAlpha = c.writeAlpha;
  target.writeMaterialId = 1;
  target.materialIdToWrite = 0x1A7;  // low byte 0xA7
  target.writeObjectId = 1;
  target.objectIdToWrite = 0x5BEEF;  // low 16 bits 0xBEEF
  target.PlotPixel(2.0f, 1.0f, c.star);
  EXPECT_EQ(canvas.At(2, 1), c.expected);
  const int i = 1 * 4 + 2;
  EXPECT_EQ(canvas.MaterialIds()[i], c.stampsIds ? 0xA7 : 0);
  EXPECT_EQ(canvas.ObjectIds()[i], c.stampsIds ? 0xBEEF : 0);
  // No other pixel or ID changed.
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      if (x == 2 && y == 1) continue;
      EXPECT_EQ(canvas.At(x, y), c.image);
      EXPECT_EQ(canvas.MaterialIds()[y * 4 + x], 0);
      EXPECT_EQ(canvas.ObjectIds()[y * 4 + x], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, CompositeTable, testing::ValuesIn(kCompositeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// One PlotPixel on a 1x1 canvas; returns the written pixel.
BMM_Color_64 PlotOnce(UBYTE method, int writeAlpha, BMM_Color_64 image, BMM_Color_64 star) {
  Canvas canvas(1, 1, image);
  PixelTarget target(&canvas.bitmap, method);
  target.writeAlpha = writeAlpha;
  target.PlotPixel(0.0f, 0.0f, star);
  return canvas.At(0, 0);
}

TEST(PlotPixel, ImageAlphaAbove65280CountsAndIsWrittenAs65280) {
  for (UBYTE method = 0; method <= 4; ++method) {
    SCOPED_TRACE(static_cast<int>(method));
    // A star that changes nothing still writes the limited alpha back.
    const BMM_Color_64 black{0, 0, 0, 0};
    const BMM_Color_64 image{100, 200, 300, 65535};
    const BMM_Color_64 out = PlotOnce(method, 1, image, method == 4 ? kWhite : black);
    EXPECT_EQ(out, (BMM_Color_64{100, 200, 300, 65280}));
  }
  // Over alpha 65535, "additive with alpha" adds nothing: f = 1 - 65280 k = 0.
  EXPECT_EQ(PlotOnce(0, 1, {100, 200, 300, 65535}, {30000, 30000, 30000, 40000}),
            (BMM_Color_64{100, 200, 300, 65280}));
}

TEST(PlotPixel, MethodEdgeCases) {
  // Simple additive on white writes full intensity, not 65535.
  EXPECT_EQ(PlotOnce(2, 1, {65535, 65535, 65535, 65535}, {1, 1, 1, 1}), kWhite);
  // Additive with alpha over an opaque pixel: colour unchanged, alpha full, no IDs (see table).
  EXPECT_EQ(PlotOnce(0, 1, {100, 200, 300, 65280}, kWhite), (BMM_Color_64{100, 200, 300, 65280}));
  // Additive with inverse alpha over a transparent pixel: unchanged.
  EXPECT_EQ(PlotOnce(1, 1, {100, 200, 300, 0}, kWhite), (BMM_Color_64{100, 200, 300, 0}));
  // Filter with a black star writes black.
  EXPECT_EQ(PlotOnce(4, 1, {100, 200, 300, 400}, {0, 0, 0, 0}), (BMM_Color_64{0, 0, 0, 0}));
  // Simple apply with a fully opaque star replaces the colour.
  EXPECT_EQ(PlotOnce(3, 1, {100, 200, 300, 400}, {7, 8, 9, 65280}), (BMM_Color_64{7, 8, 9, 65280}));
  EXPECT_EQ(PlotOnce(3, 0, {100, 200, 300, 400}, {7, 8, 9, 65280}), (BMM_Color_64{107, 208, 309, 400}));
}

TEST(PlotPixel, WhiteFilterLeavesEveryImageValueUnchanged) {
  // Every 16-bit value once, in the three colour channels and alpha.
  Canvas canvas(256, 256);
  for (int v = 0; v < 65536; ++v) {
    const WORD w = static_cast<WORD>(v);
    canvas.Set(v % 256, v / 256, {w, w, static_cast<WORD>(65535 - v), w});
  }
  PixelTarget target(&canvas.bitmap, 4);
  for (int x = 0; x < 256; ++x)
    for (int y = 0; y < 256; ++y) target.PlotPixel(static_cast<float>(x), static_cast<float>(y), kWhite);
  for (int v = 0; v < 65536; ++v) {
    const WORD limited = static_cast<WORD>(std::min(v, kFull));
    const WORD other = static_cast<WORD>(std::min(65535 - v, kFull));
    ASSERT_EQ(canvas.At(v % 256, v / 256), (BMM_Color_64{limited, limited, other, limited})) << v;
  }
}

TEST(PlotPixel, OverOpaqueStarAlphaAboveFullDoesNotTurnWhite) {
  // A star alpha over 65280 would make the overlay factor negative and the
  // sum negative, which the unsigned limit would turn into full white.
  EXPECT_EQ(PlotOnce(3, 1, {10000, 20000, 30000, 1000}, {0, 5, 65280, 65535}),
            (BMM_Color_64{0, 5, 65280, 65280}));
}

struct IdThresholdCase {
  UBYTE method;
  WORD imageAlpha;
  WORD starAlpha;
  bool stamps;
};

TEST(PlotPixel, IdStampingThresholdsOnBothSides) {
  const IdThresholdCase cases[] = {
      // Star alpha one below the threshold never stamps.
      {0, 0, 32639, false}, {1, 65280, 32639, false}, {2, 0, 32639, false},
      {3, 0, 32639, false}, {4, 65280, 32639, false},
      // Exactly the threshold stamps ...
      {2, 0, 32640, true}, {3, 65280, 32640, true}, {4, 0, 32640, true},
      // ... with method 0 only over image alpha at most 32640,
      {0, 32640, 32640, true}, {0, 32641, 32640, false}, {0, 32641, 65280, false},
      // with method 1 only over image alpha at least 32640.
      {1, 32640, 32640, true}, {1, 32639, 32640, false}, {1, 32639, 65280, false},
      // Image alpha 65535 counts as 65280 (at least 32640).
      {1, 65535, 32640, true}, {0, 65535, 65280, false},
  };
  for (const IdThresholdCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "method " << int(c.method) << " image alpha " << c.imageAlpha
                                    << " star alpha " << c.starAlpha);
    Canvas canvas(1, 1, {10, 10, 10, c.imageAlpha});
    PixelTarget target(&canvas.bitmap, c.method);
    target.writeMaterialId = 1;
    target.materialIdToWrite = 3;
    target.writeObjectId = 1;
    target.objectIdToWrite = 4;
    target.PlotPixel(0, 0, {1, 1, 1, c.starAlpha});
    EXPECT_EQ(canvas.MaterialIds()[0], c.stamps ? 3 : 0);
    EXPECT_EQ(canvas.ObjectIds()[0], c.stamps ? 4 : 0);
  }
}

TEST(PlotPixel, IdWritesOnlyTheChannelsAskedFor) {
  for (int which = 1; which <= 3; ++which) {
    SCOPED_TRACE(which);
    Canvas canvas(2, 1);
    canvas.MaterialIds()[1] = 9;
    canvas.ObjectIds()[1] = 9;
    PixelTarget target(&canvas.bitmap, 2);
    target.writeMaterialId = which & 1;
    target.materialIdToWrite = -2;  // low byte 0xFE
    target.writeObjectId = (which & 2) >> 1;
    target.objectIdToWrite = 0x10007;
    target.PlotPixel(1, 0, kWhite);
    EXPECT_EQ(canvas.MaterialIds()[1], (which & 1) ? 0xFE : 9);
    EXPECT_EQ(canvas.ObjectIds()[1], (which & 2) ? 7 : 9);
    EXPECT_EQ(canvas.MaterialIds()[0], 0);
    EXPECT_EQ(canvas.ObjectIds()[0], 0);
  }
}

TEST(PlotPixel, MasksLeaveOtherPixelsWhollyUntouched) {
  struct MaskCase {
    int matchMaterial, matchObject;
    UBYTE pixelMaterial;
    WORD pixelObject;
    bool drawn;
  };
  const MaskCase cases[] = {
      {1, 0, 5, 0, true},    {1, 0, 6, 0, false},    {0, 1, 0, 700, true},
      {0, 1, 0, 701, false}, {1, 1, 5, 700, true},   {1, 1, 5, 701, false},
      {1, 1, 6, 700, false}, {0, 0, 6, 701, true},
      // The 16-bit ID is compared whole: equal low byte is not enough.
      {0, 1, 0, 700 + 256, false},
  };
  // Alpha 65535 would be written back as 65280 by any pixel that is drawn.
  const BMM_Color_64 image{100, 200, 300, 65535};
  for (const MaskCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.matchMaterial << c.matchObject << " " << int(c.pixelMaterial)
                                    << " " << c.pixelObject);
    Canvas canvas(1, 1, image);
    canvas.MaterialIds()[0] = c.pixelMaterial;
    canvas.ObjectIds()[0] = c.pixelObject;
    PixelTarget target(&canvas.bitmap, 2);
    target.matchMaterialId = c.matchMaterial;
    target.materialIdToMatch = 5;
    target.matchObjectId = c.matchObject;
    target.objectIdToMatch = 700;
    target.writeMaterialId = target.writeObjectId = 1;
    target.materialIdToWrite = 77;
    target.objectIdToWrite = 7777;
    target.PlotPixel(0, 0, {1000, 1000, 1000, 40000});
    if (c.drawn) {
      EXPECT_EQ(canvas.At(0, 0), (BMM_Color_64{1100, 1200, 1300, 65280}));
      EXPECT_EQ(canvas.MaterialIds()[0], 77);
      EXPECT_EQ(canvas.ObjectIds()[0], 7777);
    } else {
      EXPECT_EQ(canvas.At(0, 0), image);
      EXPECT_EQ(canvas.MaterialIds()[0], c.pixelMaterial);
      EXPECT_EQ(canvas.ObjectIds()[0], c.pixelObject);
    }
  }
}

TEST(PlotPixel, MissingChannelSkipsItsMaskAndItsWrite) {
  // Only the object channel exists: the material mask cannot be tested and
  // lets the pixel through; the material write is skipped, the object one
  // still happens.
  Canvas canvas(2, 2, {}, BMM_CHAN_NODE_ID);
  PixelTarget target(&canvas.bitmap, 2);
  ASSERT_EQ(target.materialIdChannel, nullptr);
  target.matchMaterialId = 1;
  target.materialIdToMatch = 42;
  target.writeMaterialId = 1;
  target.materialIdToWrite = 42;
  target.writeObjectId = 1;
  target.objectIdToWrite = 9;
  target.PlotPixel(1, 1, {500, 500, 500, 40000});
  EXPECT_EQ(canvas.At(1, 1), (BMM_Color_64{500, 500, 500, 40000}));
  EXPECT_EQ(canvas.ObjectIds()[3], 9);

  // Only the material channel: the object mask and write are skipped.
  Canvas other(2, 2, {}, BMM_CHAN_MTL_ID);
  PixelTarget second(&other.bitmap, 2);
  ASSERT_EQ(second.objectIdChannel, nullptr);
  second.matchObjectId = 1;
  second.objectIdToMatch = 42;
  second.writeObjectId = 1;
  second.writeMaterialId = 1;
  second.materialIdToWrite = 8;
  second.PlotPixel(0, 1, {500, 500, 500, 40000});
  EXPECT_EQ(other.At(0, 1), (BMM_Color_64{500, 500, 500, 40000}));
  EXPECT_EQ(other.MaterialIds()[2], 8);
}

TEST(PlotPixel, PositionsAreTruncatedAndOutsidePositionsIgnored) {
  Canvas canvas(4, 4);
  PixelTarget target(&canvas.bitmap, 2);
  target.PlotPixel(2.9f, 1.2f, {10, 0, 0, 0});
  EXPECT_EQ(canvas.At(2, 1).r, 10);
  // Toward zero: -0.5 is column 0.
  target.PlotPixel(-0.5f, 3.0f, {20, 0, 0, 0});
  EXPECT_EQ(canvas.At(0, 3).r, 20);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (auto [x, y] : {std::pair{nan, 0.0f}, {0.0f, nan}, {inf, 0.0f}, {0.0f, -inf}, {4.0f, 0.0f},
                      {0.0f, 4.0f}, {-1.0f, 0.0f}, {3e9f, 1.0f}, {-3e9f, 1.0f}}) {
    target.PlotPixel(x, y, kWhite);
  }
  int touched = 0;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) touched += !(canvas.At(x, y) == BMM_Color_64{});
  EXPECT_EQ(touched, 2);
}

}  // namespace
