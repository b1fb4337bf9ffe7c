// Star light above the 16-bit full value (host/app/image/hdr_merge.h): where
// the frame clipped a channel, the written float is the plate's own plus
// the unclipped light the effects drew.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

#include "host/app/image/hdr_merge.h"

namespace {

using velumbra::FloatRgba;
using velumbra::PixelFloats;

// What an additive apply method does to one channel: the light truncated
// to 16 bits, added, limited to full value.
WORD AddClipped(WORD in, float light) {
  return static_cast<WORD>(std::min(65280, static_cast<int>(in) + static_cast<int>(light * 65280.0f)));
}

BMM_Color_64 AddClipped(const BMM_Color_64& in, const BMM_Color_fl& l) {
  return {AddClipped(in.r, l.r), AddClipped(in.g, l.g), AddClipped(in.b, l.b), AddClipped(in.a, l.a)};
}

TEST(LightAboveFull, AClippedChannelIsThePlatePlusTheLightAndNeverBelowFull) {
  // Pixel 0: red clipped by a bright star over 0.8; green below full;
  //          blue at full with no light (a white plate, no star there).
  // Pixel 1: nothing clipped.
  // Pixel 2: green at full although plate + light is a hair below 1 (the
  //          16-bit rounding of the plate): 1.0, never darker.
  const std::vector<BMM_Color_64> in = {{52224, 1000, 65280, 65280}, {100, 100, 100, 65280}, {0, 65200, 0, 0}};
  const std::vector<BMM_Color_fl> light = {{0.6f, 0.1f, 0.0f, 0.5f}, {0.2f, 0.2f, 0.2f, 0.0f}, {0, 0.0012f, 0, 0}};
  std::vector<BMM_Color_64> out(in.size());
  for (size_t i = 0; i < in.size(); ++i) out[i] = AddClipped(in[i], light[i]);
  out[2].g = 65280;

  const std::vector<PixelFloats> above = velumbra::LightAboveFull(in, out, light);
  ASSERT_EQ(above.size(), 2u);
  EXPECT_EQ(above[0].pixel, 0u);
  EXPECT_FLOAT_EQ(above[0].value.r, 52224.0f / 65280.0f + 0.6f);
  EXPECT_EQ(above[0].value.g, velumbra::Float16ToFloat(out[0].g));
  EXPECT_EQ(above[0].value.b, 1.0f);  // full, but no star light: the plate's white
  EXPECT_EQ(above[0].value.a, velumbra::Float16ToFloat(out[0].a));
  EXPECT_EQ(above[1].pixel, 2u);
  EXPECT_EQ(above[1].value.g, 1.0f);
}

TEST(LightAboveFull, ABackgroundStandsForEveryPixel) {
  const BMM_Color_64 background{6528, 0, 0, 65280};  // 0.1 red
  const std::vector<BMM_Color_64> out = {{65280, 0, 0, 65280}, {6528, 0, 0, 65280}, {65280, 65280, 0, 65280}};
  const std::vector<BMM_Color_fl> light = {{2.0f, 0, 0, 1}, {0, 0, 0, 0}, {0.95f, 3.0f, 0, 1}};
  const std::vector<PixelFloats> above =
      velumbra::LightAboveFull(std::span<const BMM_Color_64>(&background, 1), out, light);
  ASSERT_EQ(above.size(), 2u);
  EXPECT_EQ(above[0].pixel, 0u);
  EXPECT_FLOAT_EQ(above[0].value.r, 2.1f);
  EXPECT_EQ(above[1].pixel, 2u);
  EXPECT_FLOAT_EQ(above[1].value.r, 1.05f);
  EXPECT_FLOAT_EQ(above[1].value.g, 3.0f);
}

TEST(LightAboveFull, SpansThatDoNotFitAreRefused) {
  const std::vector<BMM_Color_64> two(2), three(3);
  const std::vector<BMM_Color_fl> light2(2);
  const std::vector<FloatRgba> floats2(2), floats3(3);
  std::vector<FloatRgba> out2(2);
  EXPECT_THROW(velumbra::LightAboveFull(three, two, light2), std::invalid_argument);
  EXPECT_THROW(velumbra::LightAboveFull(two, three, light2), std::invalid_argument);
  EXPECT_THROW(velumbra::KeepLightAboveFull(out2, floats3, two, light2), std::invalid_argument);
  EXPECT_THROW(velumbra::KeepLightAboveFull(out2, floats2, three, light2), std::invalid_argument);
}

TEST(KeepLightAboveFull, TheInputsOwnFloatIsThePlateInRangeAndBeyond) {
  // An OpenEXR plate: 0.9004 (between two 16-bit steps), and 4.0 (beyond
  // the frame's range, painted at 0 in the effect's frame: HdrEffectFrame).
  const std::vector<FloatRgba> plate = {{0.9004f, 0.2f, 4.0f, 1.0f}};
  const std::vector<BMM_Color_64> input16 = {{velumbra::FloatTo16(0.9004f), 13056, 0, 65280}};
  const std::vector<BMM_Color_fl> light = {{0.5f, 0.1f, 3.0f, 1.0f}};
  const std::vector<BMM_Color_64> output16 = {AddClipped(input16[0], light[0])};
  std::vector<FloatRgba> floats = velumbra::MergeEffectOutput(plate, input16, output16);
  const FloatRgba merged = floats[0];
  velumbra::KeepLightAboveFull(floats, plate, output16, light);
  EXPECT_FLOAT_EQ(floats[0].r, 0.9004f + 0.5f);
  EXPECT_EQ(floats[0].g, merged.g);  // not clipped: as merged
  EXPECT_FLOAT_EQ(floats[0].b, 7.0f);  // 4 + 3, where the merge alone gives 4 + 1
  EXPECT_FLOAT_EQ(merged.b, 5.0f);
  EXPECT_EQ(floats[0].a, merged.a);
}

// Across the frame: an additive render of random light over a random plate,
// written as the 16-bit floats with LightAboveFull's pixels in place, is the
// plate plus the light wherever it clipped, and within the 16-bit step of
// it elsewhere: no light is lost above full value.
TEST(LightAboveFull, AnAdditiveFrameWrittenWithItKeepsAllTheLight) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> plate(0, 65280);
  std::uniform_real_distribution<float> bright(0.0f, 3.0f);
  const size_t n = 4000;
  std::vector<BMM_Color_64> in(n), out(n);
  std::vector<BMM_Color_fl> light(n);
  for (size_t i = 0; i < n; ++i) {
    in[i] = {WORD(plate(rng)), WORD(plate(rng)), WORD(plate(rng)), 65280};
    if (i % 3 == 0) light[i] = {bright(rng), bright(rng), bright(rng), 0.5f};
    out[i] = AddClipped(in[i], light[i]);
  }
  std::vector<FloatRgba> written(n);
  for (size_t i = 0; i < n; ++i)
    written[i] = {velumbra::Float16ToFloat(out[i].r), velumbra::Float16ToFloat(out[i].g),
                  velumbra::Float16ToFloat(out[i].b), velumbra::Float16ToFloat(out[i].a)};
  const std::vector<PixelFloats> above = velumbra::LightAboveFull(in, out, light);
  EXPECT_TRUE(std::is_sorted(above.begin(), above.end(),
                             [](const PixelFloats& a, const PixelFloats& b) { return a.pixel < b.pixel; }));
  EXPECT_GT(above.size(), n / 10);
  for (const PixelFloats& p : above) written[p.pixel] = p.value;
  for (size_t i = 0; i < n; ++i) {
    const float want[3] = {velumbra::Float16ToFloat(in[i].r) + light[i].r, velumbra::Float16ToFloat(in[i].g) + light[i].g,
                           velumbra::Float16ToFloat(in[i].b) + light[i].b};
    const float got[3] = {written[i].r, written[i].g, written[i].b};
    for (int c = 0; c < 3; ++c) ASSERT_NEAR(got[c], want[c], 1.5f / 65280.0f) << "pixel " << i << " channel " << c;
  }
}

}  // namespace
