// The floor the drawing benchmarks are measured against: the pixels a
// drawing call actually covers (coverage above 0), found beforehand by an
// independent distance test in double precision, and a loop that reads and
// writes each of them once, directly in the pixel array, in the drawing's
// own order (columns, then rows).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "plugin/host.h"

namespace bench {

// Rows y0..y1 of column x.
struct Run {
  std::int16_t x, y0, y1;
};

enum class Shape { kDisc, kCapsule, kTrail };

// Distance from (px, py) to the segment a..b.
inline double SegmentDistance(double px, double py, Point2 a, Point2 b) {
  const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y, len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? ((px - a.x) * dx + (py - a.y) * dy) / len2 : 0.0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(px - (a.x + t * dx), py - (a.y + t * dy));
}

// Appends the covered runs of one call on a width x height image: a disc at
// a (b ignored), a capsule a..b, or a trail a..b, which covers what the disc
// at b has not fully covered (distance to b above r - 1) short of b.
inline void AddCovered(Shape shape, Point2 a, Point2 b, float r, int width, int height, std::vector<Run>& out) {
  if (!(r > 0.0f) || !std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) || !std::isfinite(b.y)) return;
  if (shape == Shape::kDisc) b = a;
  const double lx = std::max(0.0, std::floor(std::min(a.x, b.x) - static_cast<double>(r)));
  const double hx = std::min(width - 1.0, std::ceil(std::max(a.x, b.x) + static_cast<double>(r)));
  const double ly = std::max(0.0, std::floor(std::min(a.y, b.y) - static_cast<double>(r)));
  const double hy = std::min(height - 1.0, std::ceil(std::max(a.y, b.y) + static_cast<double>(r)));
  const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
  for (int x = static_cast<int>(lx); x <= static_cast<int>(hx); ++x) {
    int first = -1, last = -1;
    for (int y = static_cast<int>(ly); y <= static_cast<int>(hy); ++y) {
      if (!(SegmentDistance(x, y, a, b) < r)) continue;
      if (shape == Shape::kTrail &&
          ((x - b.x) * dx + (y - b.y) * dy >= 0.0 || !(std::hypot(x - b.x, y - b.y) > r - 1.0)))
        continue;
      if (first < 0) first = y;
      last = y;
    }
    if (first >= 0)
      out.push_back({static_cast<std::int16_t>(x), static_cast<std::int16_t>(first), static_cast<std::int16_t>(last)});
  }
}

inline std::uint64_t PixelsOf(const std::vector<Run>& runs) {
  std::uint64_t n = 0;
  for (const Run& run : runs) n += static_cast<std::uint64_t>(run.y1 - run.y0 + 1);
  return n;
}

// Reads and writes each pixel of the runs once.
inline void TouchRuns(BMM_Color_64* pixels, int width, const std::vector<Run>& runs) {
  for (const Run& run : runs)
    for (int y = run.y0; y <= run.y1; ++y) {
      BMM_Color_64& p = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(run.x)];
      p.r = static_cast<WORD>(p.r + 1);
    }
}

}  // namespace bench
