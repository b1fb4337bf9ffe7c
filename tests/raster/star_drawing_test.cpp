// Discs and streaks: which pixels they cover and by how much, dimming,
// clipping, visiting order and degenerate input.
//
// Coverage is read back by drawing a white star with "simple additive" onto
// transparent black: each channel then holds trunc(65280 x coverage), and
// 65280 where coverage reaches 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "raster/pixel_target.h"
#include "raster/reference_drawing.h"
#include "canvas.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The channel value a white star leaves on black at coverage `cov`.
int CoverageValue(double cov) {
  if (cov <= 0.0) return 0;
  if (cov >= 1.0) return kFull;
  return static_cast<int>(kFull * cov);
}

double DistanceToSegment(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
  double t = len2 > 0.0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0.0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

// Every pixel's red channel must be within `tolerance` of expected(x, y);
// the other three channels equal to red (a white star on black).
template <class Expected>
void ExpectCoverage(const Canvas& canvas, Expected expected, int tolerance = 1) {
  int mismatches = 0;
  for (int y = 0; y < canvas.height(); ++y)
    for (int x = 0; x < canvas.width(); ++x) {
      const BMM_Color_64 c = canvas.At(x, y);
      const int want = expected(x, y);
      if (std::abs(c.r - want) > tolerance || c.g != c.r || c.b != c.r || c.a != c.r) {
        if (++mismatches <= 10) ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << c << ", want " << want;
      }
    }
  EXPECT_EQ(mismatches, 0);
}

int CountTouched(const Canvas& canvas, BMM_Color_64 background = {}) {
  int n = 0;
  for (int y = 0; y < canvas.height(); ++y)
    for (int x = 0; x < canvas.width(); ++x) n += !(canvas.At(x, y) == background);
  return n;
}

TEST(Splat, RadiusOneOnAPixelDrawsOnlyThatPixel) {
  Canvas canvas(21, 21);
  PixelTarget target(&canvas.bitmap, PixelTarget::kSimpleAdditive);
  target.DrawSplat({10.0f, 10.0f}, kWhite, 1.0f);
  ExpectCoverage(canvas, [](int x, int y) { return x == 10 && y == 10 ? kFull : 0; }, 0);
}

TEST(Splat, RadiusOneBetweenFourPixels) {
  Canvas canvas(21, 21);
  PixelTarget target(&canvas.bitmap, PixelTarget::kSimpleAdditive);
  target.DrawSplat({10.5f, 10.5f}, kWhite, 1.0f);
  const int rim = CoverageValue(1.0 - std::sqrt(0.5));  // about 0.29
  EXPECT_EQ(rim, 19120);
  ExpectCoverage(canvas, [&](int x, int y) { return (x == 10 || x == 11) && (y == 10 || y == 11) ? rim : 0; });
}

TEST(Splat, RadiusHalfPassesHalfOfEveryChannel) {
  // Coverage 0.5: (1001, 2001, 3001, 40001) is passed on as (500, 1000, 1500, 20000).
  struct Case {
    UBYTE method;
    BMM_Color_64 background, expected;
  };
  const Case cases[] = {
      {0, {0, 0, 0, 0}, {500, 1000, 1500, 20000}},          // f = 1 over transparent
      {1, {0, 0, 0, 65280}, {500, 1000, 1500, 65280}},      // g = 1 over opaque
      {2, {0, 0, 0, 0}, {500, 1000, 1500, 20000}},
      {3, {0, 0, 0, 0}, {500, 1000, 1500, 20000}},          // over black: h x 0 + star
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.method));
    Canvas canvas(9, 9, c.background);
    PixelTarget target(&canvas.bitmap, c.method);
    target.DrawSplat({4.0f, 4.0f}, {1001, 2001, 3001, 40001}, 0.5f);
    EXPECT_EQ(canvas.At(4, 4), c.expected);
    EXPECT_EQ(CountTouched(canvas, c.background), 1);
  }
}

TEST(Splat, FilterRimTendsToTheNeutralValue) {
  // Radius 1.25 on a pixel: the four neighbours at distance 1 get coverage
  // 0.25 and receive 0.25 v + 0.75 x 65280; over a white image the filter
  // writes exactly what it receives.
  Canvas canvas(21, 21, kWhite);
  PixelTarget target(&canvas.bitmap, PixelTarget::kApplyAsFilter);
  const BMM_Color_64 star{10000, 20000, 30000, 40000};
  target.DrawSplat({10.0f, 10.0f}, star, 1.25f);
  const BMM_Color_64 rim{2500 + 48960, 5000 + 48960, 7500 + 48960, 10000 + 48960};
  EXPECT_EQ(canvas.At(10, 10), star);
  EXPECT_EQ(canvas.At(9, 10), rim);
  EXPECT_EQ(canvas.At(11, 10), rim);
  EXPECT_EQ(canvas.At(10, 9), rim);
  EXPECT_EQ(canvas.At(10, 11), rim);
  EXPECT_EQ(CountTouched(canvas, kWhite), 5);
}

TEST(Capsule, HorizontalStreakCoverage) {
  Canvas canvas(32, 24);
  PixelTarget target(&canvas.bitmap, PixelTarget::kSimpleAdditive);
  target.DrawCapsule({10.0f, 10.0f}, {20.0f, 10.0f}, kWhite, 1.5f);
  const int corner = CoverageValue(1.5 - std::sqrt(2.0));  // about 0.086
  ExpectCoverage(canvas, [&](int x, int y) {
    if (x >= 10 && x <= 20) {
      if (y == 10) return kFull;
      if (y == 9 || y == 11) return kFull / 2;
      return 0;
    }
    if (x == 9 || x == 21) {
      if (y == 10) return kFull / 2;
      if (y == 9 || y == 11) return corner;
    }
    return 0;
  });
}

TEST(Capsule, ZeroLengthIsTheUndimmedSplat) {
  const BMM_Color_64 star{30000, 20000, 10000, 50000};
  Canvas splat(16, 16), capsule(16, 16);
  PixelTarget a(&splat.bitmap, PixelTarget::kSimpleAdditive);
  PixelTarget b(&capsule.bitmap, PixelTarget::kSimpleAdditive);
  b.streakDimming[0] = b.streakDimming[1] = b.streakDimming[2] = b.streakDimming[3] = 5.0f;
  a.DrawSplat({7.25f, 8.5f}, star, 2.7f);
  b.DrawCapsule({7.25f, 8.5f}, {7.25f, 8.5f}, star, 2.7f);
  ASSERT_GT(CountTouched(splat), 9);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(capsule.At(x, y), splat.At(x, y)) << x << ", " << y;
}

TEST(Capsule, CoverageMatchesDistanceToTheSegment) {
  // A second, double-precision model: coverage r - distance to the segment.
  Random rng;
  rng.srand(2024);
  const auto uniform = [&](double lo, double hi) {
    return lo + (hi - lo) * rng.rand() / static_cast<double>(Random::s_rand_max);
  };
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    const Point2 a(static_cast<float>(uniform(-6, 38)), static_cast<float>(uniform(-6, 30)));
    // Every fourth streak has zero length (a disc); some are very short.
    const Point2 b = round % 4 == 0 ? a
                     : round % 4 == 1
                         ? Point2(a.x + static_cast<float>(uniform(-0.5, 0.5)), a.y + static_cast<float>(uniform(-0.5, 0.5)))
                         : Point2(static_cast<float>(uniform(-6, 38)), static_cast<float>(uniform(-6, 30)));
    const float r = static_cast<float>(uniform(0.3, 4.5));
    Canvas canvas(32, 24);
    PixelTarget target(&canvas.bitmap, PixelTarget::kSimpleAdditive);
    target.DrawCapsule(a, b, kWhite, r);
    ExpectCoverage(canvas, [&](int x, int y) { return CoverageValue(r - DistanceToSegment(x, y, a.x, a.y, b.x, b.y)); });
  }
}

TEST(Dimming, DividesEachChannelByItsLengthFactor) {
  const BMM_Color_64 star{40000, 20002, 30000, 50000};
  struct Case {
    float dimming[4];
    BMM_Color_64 expected;
  };
  const Case cases[] = {
      // 0.1 x 10 + 1 = 2: colour halved, alpha kept.
      {{0.1f, 0.1f, 0.1f, 0.0f}, {20000, 10001, 15000, 50000}},
      // 1 x 10 + 1 = 11 for red only; 0, negative and NaN mean none.
      {{1.0f, 0.0f, -2.0f, kNaN}, {3636, 20002, 30000, 50000}},
      {{0.0f, 0.0f, 0.0f, 0.3f}, {40000, 20002, 30000, 12500}},
  };
  for (const Case& c : cases) {
    for (bool trail : {false, true}) {
      SCOPED_TRACE(trail ? "trail" : "capsule");
      Canvas canvas(32, 32);
      PixelTarget target(&canvas.bitmap, PixelTarget::kSimpleAdditive);
      std::copy(std::begin(c.dimming), std::end(c.dimming), target.streakDimming);
      if (trail)
        target.DrawTrail({10.0f, 20.0f}, {20.0f, 20.0f}, star, 1.0f);
      else
        target.DrawCapsule({10.0f, 20.0f}, {20.0f, 20.0f}, star, 1.0f);
      // Radius 1 on the row: fully covered pixels; the trail leaves the
      // pixel at b to the disc there.
      for (int x = 10; x <= 20; ++x) {
        if (trail && x == 20) {
          EXPECT_EQ(canvas.At(x, 20), BMM_Color_64{}) << x;
        } else {
          EXPECT_EQ(canvas.At(x, 20), c.expected) << x;
        }
      }
      EXPECT_EQ(CountTouched(canvas), trail ? 10 : 11);
    }
  }
}

TEST(Trail, LeavesOutTheDiscAtItsEnd) {
  Canvas canvas(32, 24);
  PixelTarget target(&canvas.bitmap, PixelTarget::kSimpleAdditive);
  target.DrawTrail({10.0f, 10.0f}, {20.0f, 10.0f}, kWhite, 1.5f);
  // At b the disc has coverage 1.5: nothing; beyond b: skipped.
  EXPECT_EQ(canvas.At(20, 10), BMM_Color_64{});
  EXPECT_EQ(canvas.At(21, 10), BMM_Color_64{});
  EXPECT_EQ(canvas.At(21, 9), BMM_Color_64{});
  EXPECT_EQ(canvas.At(15, 10), kWhite);
  EXPECT_EQ(canvas.At(9, 10).r, kFull / 2);  // the rounded start is drawn
  // Beside b (distance 1) the disc gave 0.5 of the 1.0 the streak gives.
  EXPECT_EQ(canvas.At(19, 10).r, kFull / 2);

  // Zero length draws nothing.
  Canvas empty(8, 8);
  PixelTarget none(&empty.bitmap, PixelTarget::kSimpleAdditive);
  none.DrawTrail({4.0f, 4.0f}, {4.0f, 4.0f}, kWhite, 3.0f);
  EXPECT_EQ(CountTouched(empty), 0);
}

// Draws `draw` into a 20x20 canvas and at an offset of (10, 10) into a
// 40x40 one; the small one must equal the big one's window: clipping at the
// edges drops pixels, never changes them.
template <class Draw>
void ExpectClippedEqualsWindow(Draw draw) {
  Canvas small(20, 20), big(40, 40);
  PixelTarget s(&small.bitmap, PixelTarget::kSimpleAdditive);
  PixelTarget b(&big.bitmap, PixelTarget::kSimpleAdditive);
  draw(s, 0.0f);
  draw(b, 10.0f);
  int drawn = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) {
      const BMM_Color_64 p = small.At(x, y), q = big.At(x + 10, y + 10);
      EXPECT_LE(std::abs(p.r - q.r), 1) << x << ", " << y;
      EXPECT_LE(std::abs(p.a - q.a), 1) << x << ", " << y;
      drawn += p.r != 0;
    }
  EXPECT_GT(drawn, 0);
  // The big canvas drew outside the window too: the small one was clipped.
  int outside = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x)
      if (x < 10 || x >= 30 || y < 10 || y >= 30) outside += big.At(x, y).r != 0;
  EXPECT_GT(outside, 0);
}

TEST(Clipping, EdgesDropPixelsWithoutChangingOthers) {
  ExpectClippedEqualsWindow([](PixelTarget& t, float o) { t.DrawSplat({0.5f + o, 5.25f + o}, kWhite, 2.5f); });
  ExpectClippedEqualsWindow([](PixelTarget& t, float o) { t.DrawSplat({18.75f + o, 19.5f + o}, kWhite, 3.0f); });
  ExpectClippedEqualsWindow([](PixelTarget& t, float o) { t.DrawSplat({-1.5f + o, -0.5f + o}, kWhite, 3.0f); });
  ExpectClippedEqualsWindow(
      [](PixelTarget& t, float o) { t.DrawCapsule({-3.5f + o, 4.25f + o}, {22.75f + o, 15.5f + o}, kWhite, 2.0f); });
  ExpectClippedEqualsWindow(
      [](PixelTarget& t, float o) { t.DrawCapsule({10.0f + o, -4.0f + o}, {10.0f + o, 25.0f + o}, kWhite, 1.5f); });
  ExpectClippedEqualsWindow(
      [](PixelTarget& t, float o) { t.DrawTrail({24.5f + o, 3.0f + o}, {-2.0f + o, 17.25f + o}, kWhite, 2.5f); });
}

TEST(Clipping, BoxesWhollyOutsideDrawNothing) {
  Canvas canvas(20, 20);
  PixelTarget target(&canvas.bitmap, PixelTarget::kSimpleAdditive);
  target.DrawSplat({-3.0f, 5.0f}, kWhite, 1.5f);   // x1 < 0
  target.DrawSplat({22.5f, 5.0f}, kWhite, 2.0f);   // x0 > maxX
  target.DrawSplat({5.0f, -4.0f}, kWhite, 2.0f);
  target.DrawSplat({5.0f, 23.0f}, kWhite, 2.5f);
  target.DrawCapsule({-10.0f, -3.0f}, {30.0f, -3.0f}, kWhite, 2.0f);
  target.DrawTrail({25.0f, -10.0f}, {25.0f, 30.0f}, kWhite, 2.0f);
  EXPECT_EQ(CountTouched(canvas), 0);
}

TEST(LoopOrder, ColumnsOuterRowsInner) {
  // The order becomes visible through ID channels that share memory
  // (SharedIdCanvas). A simple model of that replay predicts the drawn
  // pixels for each visiting order.
  constexpr int kW = 8, kH = 8;
  const auto model = [&](bool columnsOuter) {
    std::vector<UBYTE> bytes(2 * kW * kH, 0);
    std::vector<bool> drawn(kW * kH, false);
    for (int outer = 0; outer < kW; ++outer)
      for (int inner = 0; inner < kH; ++inner) {
        const int x = columnsOuter ? outer : inner, y = columnsOuter ? inner : outer;
        const int i = y * kW + x;
        if (bytes[2 * i] != 0 || bytes[2 * i + 1] != 0) continue;
        drawn[i] = true;
        bytes[i] = 1;
      }
    return drawn;
  };
  const std::vector<bool> columnsFirst = model(true), rowsFirst = model(false);
  ASSERT_NE(columnsFirst, rowsFirst) << "the set-up must tell the orders apart";

  const auto check = [&](auto draw) {
    SharedIdCanvas c(kW, kH, PixelTarget::kSimpleAdditive);
    draw(c.target);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        EXPECT_EQ(c.canvas.At(x, y).r != 0, columnsFirst[y * kW + x]) << x << ", " << y;
  };
  // Radii large enough to cover every pixel fully.
  check([](PixelTarget& t) { t.DrawSplat({3.5f, 3.5f}, kWhite, 20.0f); });
  check([](PixelTarget& t) { t.DrawCapsule({1.0f, 2.0f}, {6.0f, 5.0f}, kWhite, 20.0f); });
  // A trail over pixels its end disc leaves uncovered.
  check([](PixelTarget& t) { t.DrawTrail({3.5f, 3.5f}, {3.5f, 200.0f}, kWhite, 20.0f); });
}

TEST(Degenerate, NaNAndNonPositiveRadiiDrawNothing) {
  Canvas canvas(16, 16);
  PixelTarget target(&canvas.bitmap, PixelTarget::kSimpleAdditive);
  for (float r : {kNaN, 0.0f, -1.0f, -kInf}) {
    target.DrawSplat({8, 8}, kWhite, r);
    target.DrawCapsule({2, 8}, {12, 8}, kWhite, r);
    target.DrawTrail({2, 8}, {12, 8}, kWhite, r);
  }
  for (Point2 p : {Point2(kNaN, 8), Point2(8, kNaN), Point2(kNaN, kNaN)}) {
    target.DrawSplat(p, kWhite, 3.0f);
    target.DrawCapsule(p, {8, 8}, kWhite, 3.0f);
    target.DrawCapsule({8, 8}, p, kWhite, 3.0f);
    target.DrawTrail(p, {8, 8}, kWhite, 3.0f);
    target.DrawTrail({8, 8}, p, kWhite, 3.0f);
    raster::SplatPixel(target, {8, 8}, p, kWhite, 3.0f);
    raster::TrailPixel(target, {8, 8}, p, {8, 8}, kWhite, 3.0f);
  }
  EXPECT_EQ(CountTouched(canvas), 0);
}

TEST(Degenerate, InfiniteAndHugeCoordinatesAreClippedWithoutConversion) {
  Canvas canvas(16, 16);
  PixelTarget target(&canvas.bitmap, PixelTarget::kSimpleAdditive);
  // Centres far off the image, beyond the int range, or infinite.
  for (Point2 c : {Point2(1e30f, 8), Point2(-1e30f, 8), Point2(8, 3e9f), Point2(kInf, 8), Point2(8, -kInf),
                   Point2(kInf, kInf), Point2(-3e38f, -3e38f)})
    target.DrawSplat(c, kWhite, 2.0f);
  for (Point2 c : {Point2(kInf, 8), Point2(8, -kInf), Point2(-kInf, kInf)}) {
    target.DrawSplat(c, kWhite, kInf);  // inf - inf bounds
    // An infinite end is no screen position: the streak draws nothing.
    target.DrawCapsule(c, {8, 8}, kWhite, 2.0f);
    target.DrawCapsule({8, 8}, c, kWhite, 2.0f);
    target.DrawTrail(c, {8, 8}, kWhite, 2.0f);
    target.DrawTrail({8, 8}, c, kWhite, 2.0f);
  }
  EXPECT_EQ(CountTouched(canvas), 0) << "far or infinite centres, and streaks to infinity";

  // A huge or infinite radius covers the whole image fully.
  for (float r : {kInf, 1e30f, 3e9f}) {
    Canvas all(16, 16);
    PixelTarget t(&all.bitmap, PixelTarget::kSimpleAdditive);
    t.DrawSplat({3, 4}, {1, 2, 3, 4}, r);
    t.DrawCapsule({3, 4}, {9, 12}, {1, 2, 3, 4}, r);
    // The trail's end disc already covers everything fully.
    t.DrawTrail({3, 4}, {9, 12}, {1, 2, 3, 4}, r);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) ASSERT_EQ(all.At(x, y), (BMM_Color_64{2, 4, 6, 8})) << r;
  }
}

TEST(FarOut, StreaksKeepTheirLineWhenAnEndProjectsFarAway) {
  // A streak from a point far off screen must cross the image where the
  // line runs, as a streak with a nearby start does.
  const auto reference = [](Canvas& c) {
    PixelTarget t(&c.bitmap, PixelTarget::kSimpleAdditive);
    t.DrawCapsule({-40.0f, 10.0f}, {60.0f, 10.0f}, kWhite, 1.5f);
  };
  Canvas expected(32, 24);
  reference(expected);
  for (auto [a, b] : {std::pair{Point2(-1e12f, 10), Point2(1e12f, 10)}, {Point2(-3e38f, 10), Point2(3e38f, 10)},
                      {Point2(1e12f, 10), Point2(-5e7f, 10)}}) {
    Canvas canvas(32, 24);
    PixelTarget t(&canvas.bitmap, PixelTarget::kSimpleAdditive);
    t.DrawCapsule(a, b, kWhite, 1.5f);
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 32; ++x) ASSERT_EQ(canvas.At(x, y), expected.At(x, y)) << x << ", " << y << " a.x " << a.x;
  }

  // A diagonal one from far out to a point on screen, against the distance
  // to the ray from b towards (-1, -1) (measured from b: the far end itself
  // would cost the model its precision too).
  Canvas diagonal(32, 32);
  PixelTarget t(&diagonal.bitmap, PixelTarget::kSimpleAdditive);
  t.DrawCapsule({-1e13f, -1e13f}, {20.0f, 20.0f}, kWhite, 2.0f);
  ExpectCoverage(diagonal, [&](int x, int y) {
    const double wx = x - 20.0, wy = y - 20.0, n = -std::sqrt(0.5);
    const double s = std::max(0.0, wx * n + wy * n);
    return CoverageValue(2.0 - std::hypot(wx - s * n, wy - s * n));
  });

  // Starts from just past the far-out distance to ten million pixels away,
  // against the distance model (double precision is ample at that range).
  for (Point2 start : {Point2(-6000.0f, -5990.0f), Point2(9000.25f, -3000.5f), Point2(-1e7f, 2e7f)}) {
    SCOPED_TRACE(testing::Message() << start.x << ", " << start.y);
    const Point2 end(17.5f, 11.25f);
    Canvas canvas(32, 24);
    PixelTarget target(&canvas.bitmap, PixelTarget::kSimpleAdditive);
    target.DrawCapsule(start, end, kWhite, 2.5f);
    ExpectCoverage(canvas, [&](int x, int y) {
      return CoverageValue(2.5 - DistanceToSegment(x, y, start.x, start.y, end.x, end.y));
    });
  }

  // A trail from far out into a point on screen equals one from a near start.
  Canvas far(32, 24), near(32, 24);
  PixelTarget tf(&far.bitmap, PixelTarget::kSimpleAdditive), tn(&near.bitmap, PixelTarget::kSimpleAdditive);
  tf.DrawTrail({1e12f, 10.0f}, {12.0f, 10.0f}, kWhite, 1.5f);
  tn.DrawTrail({100.0f, 10.0f}, {12.0f, 10.0f}, kWhite, 1.5f);
  ASSERT_GT(CountTouched(near), 20);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(far.At(x, y), near.At(x, y)) << x << ", " << y;

  // A far-out streak that passes beside the image draws nothing.
  Canvas beside(32, 24);
  PixelTarget tb(&beside.bitmap, PixelTarget::kSimpleAdditive);
  tb.DrawCapsule({-1e12f, -5.0f}, {1e12f, -5.0f}, kWhite, 3.0f);
  EXPECT_EQ(CountTouched(beside), 0);
}

TEST(TrailPixel, ZeroDivisorCornerLeavesThePixelToTheDisc) {
  // Star alpha 65280 and disc coverage c2 = 1 - 2^-24 make the alpha
  // correction's divisor exactly 0 for methods 0 and 3. The pixel beside b
  // counts as fully covered by the disc: the trail leaves it as the disc left it.
  const float justBelowOne = std::nextafter(1.0f, 0.0f);
  const Point2 b(1.0f, justBelowOne);  // pixel (1, 1) lies 2^-24 from b
  const BMM_Color_64 star{30000, 40000, 50000, 65280};
  for (UBYTE method = 0; method <= 4; ++method) {
    for (int writeAlpha : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "method " << int(method) << " writeAlpha " << writeAlpha);
      Canvas canvas(3, 8, {1000, 2000, 3000, 20000});
      PixelTarget target(&canvas.bitmap, method);
      target.writeAlpha = writeAlpha;
      target.DrawSplat(b, star, 1.0f);
      const BMM_Color_64 afterDisc = canvas.At(1, 1);
      target.DrawTrail({1.0f, 6.0f}, b, star, 1.0f);
      const BMM_Color_64 out = canvas.At(1, 1);
      for (WORD v : {out.r, out.g, out.b, out.a}) EXPECT_LE(v, kFull);
      if ((method == 0 || method == 3) && writeAlpha) {
        EXPECT_EQ(out, afterDisc);
      }
      // The rest of the trail is drawn.
      EXPECT_NE(canvas.At(1, 4), (BMM_Color_64{1000, 2000, 3000, 20000}));
    }
  }
}

}  // namespace
