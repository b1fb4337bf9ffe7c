// StreakSpan against an independent distance test in double precision: the
// span of every column holds each pixel within the radius of the segment
// (the loops may rely on it) and little more (the point of having spans).
#include "raster/streak_span.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "plugin/host.h"

namespace {

double DistanceToSegment(double px, double py, Point2 a, Point2 b) {
  const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
  const double len2 = dx * dx + dy * dy;
  const double t = len2 > 0.0 ? std::clamp(((px - a.x) * dx + (py - a.y) * dy) / len2, 0.0, 1.0) : 0.0;
  return std::hypot(px - (a.x + t * dx), py - (a.y + t * dy));
}

struct Case {
  Point2 a, b;
  float r;
};

// Segments of every direction (horizontal, vertical, steep, 45 degrees),
// points, ends on whole and half pixels, long ones reaching far past the
// rows.
std::vector<Case> Cases() {
  std::vector<Case> out = {
      {{10, 10}, {40, 10}, 1.5f},      {{10, 10}, {10, 40}, 1.5f},     {{10, 10}, {40, 40}, 1.0f},
      {{10.5f, 3.5f}, {11, 50}, 2.0f}, {{20, 20}, {20, 20}, 3.0f},      {{0, 0}, {60, 1}, 0.3f},
      {{-3000, -2000}, {4000, 2500}, 1.5f}, {{30, -500}, {31, 600}, 12.0f}, {{5, 5}, {5.0001f, 45}, 1.0f},
  };
  Random rng;
  rng.srand(31);
  const auto unit = [&] { return static_cast<float>(rng.rand()) / static_cast<float>(Random::s_rand_max); };
  for (int i = 0; i < 300; ++i) {
    const Point2 a(unit() * 80 - 10, unit() * 60 - 10);
    const Point2 b = unit() < 0.3f ? Point2(a.x + unit() * 2 - 1, a.y + unit() * 2 - 1) : Point2(unit() * 80 - 10, unit() * 60 - 10);
    out.push_back({a, b, 0.2f + unit() * (unit() < 0.8f ? 3.0f : 15.0f)});
  }
  return out;
}

TEST(StreakSpan, HoldsEveryPixelWithinTheRadiusAndLittleMore) {
  constexpr int kY0 = 0, kY1 = 49;
  long inside = 0, visited = 0;
  for (const Case& c : Cases()) {
    const StreakSpan span(c.a, c.b, c.r, kY0, kY1);
    for (int x = -20; x <= 80; ++x) {
      const RowSpan rows = span.Rows(x);
      for (int y = kY0; y <= kY1; ++y) {
        const double d = DistanceToSegment(x, y, c.a, c.b);
        const bool in = y >= rows.first && y <= rows.last;
        // Within the radius (and a margin beyond the float loop's error):
        // always in the span.
        if (d < c.r + 1e-3) {
          EXPECT_TRUE(in) << "pixel (" << x << ", " << y << ") at " << d << " of (" << c.a.x << ", " << c.a.y
                          << ") -> (" << c.b.x << ", " << c.b.y << ") r " << c.r;
        }
        // A span ends at most a row past the capsule's edge.
        if (in) {
          EXPECT_LT(d, c.r + 1.2) << "pixel (" << x << ", " << y << ") r " << c.r;
        }
        inside += d < c.r;
        visited += in;
      }
    }
  }
  // Spans visit about the pixels they cover: here well under twice.
  EXPECT_LT(visited, 2 * inside);
}

TEST(StreakSpan, EmptyWhereTheStreakIsFarAndClippedToTheRows) {
  const StreakSpan span({10, 10}, {20, 10}, 1.5f, 5, 9);
  EXPECT_GT(span.Rows(5).first, span.Rows(5).last);    // left of the streak
  EXPECT_GT(span.Rows(25).first, span.Rows(25).last);  // right of it
  const RowSpan middle = span.Rows(15);
  EXPECT_EQ(middle.first, 8);  // 10 - 1.5 rounded out, within 5..9
  EXPECT_EQ(middle.last, 9);   // clipped at the last row
  const StreakSpan above({10, 1}, {20, 1}, 1.5f, 5, 9);
  EXPECT_GT(above.Rows(15).first, above.Rows(15).last);
}

TEST(StreakSpan, RadiusTooLargeToBoundTakesTheWholeColumn) {
  for (float r : {2e7f, 1e30f, std::numeric_limits<float>::infinity()}) {
    const StreakSpan span({10, 10}, {20, 10}, r, 3, 40);
    const RowSpan rows = span.Rows(-100000);
    EXPECT_EQ(rows.first, 3);
    EXPECT_EQ(rows.last, 40);
  }
}

}  // namespace
