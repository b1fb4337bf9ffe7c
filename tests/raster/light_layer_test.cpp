// The light layer and light calls: the float layer holds what every star
// pixel brings, unclipped, while the 16-bit frame and its IDs are the same
// to the bit with or without the layer; the specialised loops fill the
// layer as the straightforward one does; coverage sums are the sums the
// drawing lays down.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "canvas.h"
#include "raster/coverage.h"
#include "raster/pixel_target.h"
#include "raster/reference_drawing.h"

namespace {

constexpr int kW = 71, kH = 53;

// A background whose alpha, colour and IDs vary (masks, alpha weighting and
// stamps all take part).
void Fill(Canvas& c) {
  for (int y = 0; y < c.height(); ++y)
    for (int x = 0; x < c.width(); ++x) {
      c.Set(x, y, {static_cast<WORD>(x * 613 % 60000), static_cast<WORD>(y * 997 % 60000), 1234,
                   static_cast<WORD>((x + 3 * y) % 5 * 16320)});
      c.MaterialIds()[y * c.width() + x] = static_cast<UBYTE>(x / 9 % 2);
      c.ObjectIds()[y * c.width() + x] = static_cast<WORD>(y / 7 % 3);
    }
}

struct Call {
  enum Kind { kSplat, kCapsule, kTrail } kind;
  Point2 a, b;
  BMM_Color_64 colour;
  float r;
  bool light;
  float gain;
};

std::vector<Call> RandomCalls(unsigned seed, int n) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> pos(-6.0f, 76.0f), unit(0.0f, 1.0f);
  std::vector<Call> calls;
  for (int i = 0; i < n; ++i) {
    Call c;
    const float k = unit(rng);
    c.kind = k < 0.4f ? Call::kSplat : k < 0.7f ? Call::kCapsule : Call::kTrail;
    c.a = Point2(pos(rng), pos(rng) * 0.75f);
    c.b = c.kind == Call::kSplat ? c.a : Point2(c.a.x + (unit(rng) - 0.5f) * 30.0f, c.a.y + (unit(rng) - 0.5f) * 30.0f);
    // Small discs (the 4x4 and 8x8 windows) and larger ones.
    c.r = unit(rng) < 0.7f ? 0.3f + unit(rng) * 3.5f : 4.0f + unit(rng) * 6.0f;
    c.colour = {static_cast<WORD>(unit(rng) * kFull), static_cast<WORD>(unit(rng) * kFull),
                static_cast<WORD>(unit(rng) * kFull), static_cast<WORD>(unit(rng) < 0.5f ? kFull : unit(rng) * kFull)};
    c.light = unit(rng) < 0.5f;
    c.gain = 0.2f + unit(rng) * 3.0f;  // above 1: channels beyond full value
    calls.push_back(c);
  }
  return calls;
}

void Draw(PixelTarget& t, const Call& c) {
  switch (c.kind) {
    case Call::kSplat:
      c.light ? t.DrawLightSplat(c.a, c.colour, c.r, c.gain) : t.DrawSplat(c.a, c.colour, c.r);
      break;
    case Call::kCapsule:
      c.light ? t.DrawLightCapsule(c.a, c.b, c.colour, c.r, c.gain) : t.DrawCapsule(c.a, c.b, c.colour, c.r);
      break;
    case Call::kTrail:
      c.light ? t.DrawLightTrail(c.a, c.b, c.colour, c.r, c.gain) : t.DrawTrail(c.a, c.b, c.colour, c.r);
      break;
  }
}

struct Setting {
  UBYTE method;
  int writeAlpha;
  bool masksAndStamps;
};

void Configure(PixelTarget& t, const Setting& s) {
  t.writeAlpha = s.writeAlpha;
  t.streakDimming[0] = 0.02f;
  t.streakDimming[1] = 0.05f;
  t.streakDimming[3] = 0.01f;
  if (s.masksAndStamps) {
    t.matchMaterialId = 1;
    t.materialIdToMatch = 1;
    t.writeObjectId = 1;
    t.objectIdToWrite = 2;
  }
}

struct Result {
  std::vector<BMM_Color_64> pixels;
  std::vector<UBYTE> materialIds;
  std::vector<WORD> objectIds;
  std::vector<BMM_Color_fl> light;
};

Result Render(const std::vector<Call>& calls, const Setting& s, bool layer, bool reference) {
  Canvas c(kW, kH);
  Fill(c);
  if (layer) {
    EXPECT_TRUE(c.bitmap.CreateLightLayer());
  }
  PixelTarget t(&c.bitmap, s.method);
  Configure(t, s);
  if (reference) t.boxLoops = &raster::ReferenceDrawing();
  for (const Call& call : calls) Draw(t, call);
  Result r;
  const BMM_Color_64* px = c.bitmap.Storage()->Pixels();
  r.pixels.assign(px, px + kW * kH);
  r.materialIds.assign(c.MaterialIds(), c.MaterialIds() + kW * kH);
  r.objectIds.assign(c.ObjectIds(), c.ObjectIds() + kW * kH);
  if (layer) r.light.assign(c.bitmap.LightLayer(), c.bitmap.LightLayer() + kW * kH);
  return r;
}

bool SameBits(const std::vector<BMM_Color_fl>& a, const std::vector<BMM_Color_fl>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(BMM_Color_fl)) == 0;
}

std::vector<Setting> AllSettings() {
  std::vector<Setting> out;
  for (UBYTE m = 0; m <= 5; ++m)
    for (int wa = 0; wa <= 1; ++wa)
      for (bool ms : {false, true}) out.push_back({m, wa, ms});
  return out;
}

TEST(LightLayer, LeavesTheFrameAndIdsAsTheyAreWithoutIt) {
  const std::vector<Call> calls = RandomCalls(7, 120);
  for (const Setting& s : AllSettings()) {
    const Result without = Render(calls, s, false, false);
    const Result with = Render(calls, s, true, false);
    EXPECT_TRUE(std::memcmp(without.pixels.data(), with.pixels.data(), without.pixels.size() * 8) == 0)
        << "method " << int(s.method) << " alpha " << s.writeAlpha << " masks " << s.masksAndStamps;
    EXPECT_EQ(without.materialIds, with.materialIds);
    EXPECT_EQ(without.objectIds, with.objectIds);
  }
}

TEST(LightLayer, SpecialisedLoopsFillItAsTheBoxLoopsDo) {
  const std::vector<Call> calls = RandomCalls(11, 120);
  for (const Setting& s : AllSettings()) {
    const Result fast = Render(calls, s, true, false);
    const Result reference = Render(calls, s, true, true);
    const std::string what = "method " + std::to_string(s.method) + " alpha " + std::to_string(s.writeAlpha) +
                             " masks " + std::to_string(s.masksAndStamps);
    EXPECT_TRUE(std::memcmp(fast.pixels.data(), reference.pixels.data(), fast.pixels.size() * 8) == 0) << what;
    EXPECT_EQ(fast.objectIds, reference.objectIds) << what;
    EXPECT_TRUE(SameBits(fast.light, reference.light)) << what;
  }
}

// Sum of a layer's luminance-free channel over the image.
double Sum(const Result& r, int channel) {
  double s = 0;
  for (const BMM_Color_fl& p : r.light) s += channel == 0 ? p.r : channel == 1 ? p.g : channel == 2 ? p.b : p.a;
  return s;
}

TEST(LightLayer, ALightCallKeepsLightAboveFullValueThatTheFrameClips) {
  // Simple additive over black: the frame holds min(value, 65280) per pixel,
  // the layer the whole value.
  Canvas c(40, 40);
  ASSERT_TRUE(c.bitmap.CreateLightLayer());
  PixelTarget t(&c.bitmap, PixelTarget::kSimpleAdditive);
  const Point2 centre(20.3f, 19.6f);
  const BMM_Color_64 hue{kFull, kFull / 2, kFull / 4, kFull};
  const float gain = 5.0f;
  t.DrawLightSplat(centre, hue, 4.0f, gain);
  const BMM_Color_fl core = c.bitmap.LightLayer()[20 * 40 + 20];
  EXPECT_FLOAT_EQ(core.r, 5.0f) << "a fully covered pixel: colour x gain";
  EXPECT_FLOAT_EQ(core.g, 2.5f);
  EXPECT_FLOAT_EQ(core.a, 1.0f) << "alpha takes no gain";
  EXPECT_EQ(c.At(20, 20).r, kFull) << "clipped in the 16-bit frame";
  EXPECT_EQ(c.At(20, 20).b, kFull) << "16320 x 5 is above full value too";
  Result r;
  r.light.assign(c.bitmap.LightLayer(), c.bitmap.LightLayer() + 1600);
  const double coverage = raster::DiscCoverage(centre, 4.0f);
  EXPECT_NEAR(Sum(r, 0), 5.0 * coverage, 5.0 * coverage * 1e-6);
  EXPECT_NEAR(Sum(r, 2), 1.25 * coverage, 1.25 * coverage * 1e-6);
}

TEST(LightLayer, TheMethodsFactorWeighsTheLight) {
  // One fully covered pixel over an image of alpha a: methods 0..3 add the
  // star times 1 - a, a, 1, 1; the filter adds nothing; a masked pixel
  // nothing.
  const WORD alpha = kFull / 4;
  const float expected[5] = {0.75f, 0.25f, 1.0f, 1.0f, 0.0f};
  for (UBYTE m = 0; m < 5; ++m) {
    Canvas c(9, 9, {0, 0, 0, alpha});
    ASSERT_TRUE(c.bitmap.CreateLightLayer());
    PixelTarget t(&c.bitmap, m);
    t.DrawSplat(Point2(4, 4), {kFull, kFull, kFull, kFull}, 1.0f);
    EXPECT_NEAR(c.bitmap.LightLayer()[4 * 9 + 4].g, expected[m], 1e-6) << "method " << int(m);
  }
  Canvas c(9, 9);
  ASSERT_TRUE(c.bitmap.CreateLightLayer());
  PixelTarget t(&c.bitmap, PixelTarget::kSimpleAdditive);
  t.matchObjectId = 1;
  t.objectIdToMatch = 5;  // no pixel holds it
  t.DrawSplat(Point2(4, 4), {kFull, kFull, kFull, kFull}, 3.0f);
  for (int i = 0; i < 81; ++i) EXPECT_EQ(c.bitmap.LightLayer()[i], BMM_Color_fl{}) << i;
}

TEST(LightLayer, PlainCallsBringTheirColourTimesCoverageAndLightCallsAreNotDimmed) {
  // A plain streak is dimmed by its length, a light streak is not: over
  // black, the layer sums to colour x (dimmed or not) x the coverage sum.
  for (bool light : {false, true}) {
    Canvas c(64, 32);
    ASSERT_TRUE(c.bitmap.CreateLightLayer());
    PixelTarget t(&c.bitmap, PixelTarget::kSimpleAdditive);
    t.streakDimming[0] = t.streakDimming[1] = t.streakDimming[2] = 0.1f;
    const Point2 a(10.2f, 15.7f), b(40.9f, 18.1f);
    const BMM_Color_64 colour{20000, 20000, 20000, kFull};
    if (light)
      t.DrawLightCapsule(a, b, colour, 2.0f, 1.0f);
    else
      t.DrawCapsule(a, b, colour, 2.0f);
    Result r;
    r.light.assign(c.bitmap.LightLayer(), c.bitmap.LightLayer() + 64 * 32);
    const double perPixel = light ? 20000.0 : std::trunc(20000.0f / (0.1f * Length(b - a) + 1.0f));
    const double want = perPixel / kFull * raster::CapsuleCoverage(a, b, 2.0f);
    EXPECT_NEAR(Sum(r, 0), want, want * 1e-5) << (light ? "light" : "plain");
  }
}

TEST(Coverage, SumsWhatTheDrawingLaysDownInAndBeyondTheImage) {
  // A light call of colour 65280 and gain 1 over black with "Simple
  // Additive" lays down exactly its coverage in the layer. The image is
  // large enough to hold every pixel; a second, small image shows the part
  // that falls in it and the sum still counts the rest.
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int i = 0; i < 60; ++i) {
    const float r = 0.4f + unit(rng) * 5.0f;
    const Point2 a(40.0f + unit(rng) * 3.0f, 40.0f + unit(rng) * 3.0f);
    const int kind = i % 3;
    const Point2 b = kind == 0 ? a : Point2(a.x + (unit(rng) - 0.5f) * 40.0f, a.y + (unit(rng) - 0.5f) * 40.0f);
    Canvas c(96, 96);
    ASSERT_TRUE(c.bitmap.CreateLightLayer());
    PixelTarget t(&c.bitmap, PixelTarget::kSimpleAdditive);
    const BMM_Color_64 white{kFull, kFull, kFull, kFull};
    double want = 0;
    if (kind == 0) {
      t.DrawLightSplat(a, white, r, 1.0f);
      want = raster::DiscCoverage(a, r);
    } else if (kind == 1) {
      t.DrawLightCapsule(a, b, white, r, 1.0f);
      want = raster::CapsuleCoverage(a, b, r);
    } else {
      t.DrawLightTrail(a, b, white, r, 1.0f);
      want = raster::TrailCoverage(a, b, r);
    }
    Result got;
    got.light.assign(c.bitmap.LightLayer(), c.bitmap.LightLayer() + 96 * 96);
    EXPECT_NEAR(Sum(got, 1), want, 1e-5 * want + 1e-6) << "call " << i << " kind " << kind << " r " << r;
  }
}

TEST(Coverage, SmallDiscsSumToTheirSampledCoverageNotTheirArea) {
  // Radius 1: one pixel on a pixel centre, four of 1 - sqrt(1/2) half way.
  EXPECT_DOUBLE_EQ(raster::DiscCoverage(Point2(10, 10), 1.0f), 1.0);
  EXPECT_NEAR(raster::DiscCoverage(Point2(10.5f, 10.5f), 1.0f), 4.0 * (1.0 - std::sqrt(0.5)), 1e-6);
  // Large discs and long streaks tend to the closed forms.
  EXPECT_NEAR(raster::DiscCoverage(Point2(0.3f, 0.7f), 40.0f), raster::DiscIntegral(40.0), 1e-3 * raster::DiscIntegral(40.0));
  const Point2 a(0.25f, 0.5f), b(3000.75f, 1234.0f);
  const double closed = Length(b - a) * raster::StreakWidthIntegral(2.5) + raster::DiscIntegral(2.5);
  EXPECT_NEAR(raster::CapsuleCoverage(a, b, 2.5f), closed, 1e-3 * closed);
  // A straight path cut into a capsule and trails covers what one capsule
  // of the whole path covers (the trails leave out the discs already drawn).
  const Point2 p0(5.1f, 7.3f), p1(25.6f, 14.2f), p2(46.1f, 21.1f);
  const double chain = raster::CapsuleCoverage(p0, p1, 1.5f) + raster::TrailCoverage(p2, p1, 1.5f);
  const double whole = raster::CapsuleCoverage(p0, p2, 1.5f);
  EXPECT_NEAR(chain, whole, 2e-3 * whole);
  // Nothing for calls that draw nothing.
  EXPECT_EQ(raster::TrailCoverage(a, a, 2.0f), 0.0);
  EXPECT_EQ(raster::DiscCoverage(a, 0.0f), 0.0);
  EXPECT_EQ(raster::DiscCoverage(Point2(NAN, 0), 2.0f), 0.0);
}

}  // namespace
