// StreakSpan: for each pixel column, the rows that a streak's pixel loop can
// cover, so that the loop visits about the pixels it draws instead of its
// whole box.
//
// The span of column x is the column's cut through the capsule of radius
// rho = r + room around the segment a..b (a convex set, so the cut is one
// interval): the hull of its cuts through the two end discs and the two
// long sides of the rectangle between them. `room` bounds the distance by
// which the loop's own arithmetic can differ from the exact geometry: the
// loop measures in single precision from its nearest point q, which lies
// within about 1.5e-6 x (largest coordinate) pixels of the segment, and
// Length errs by about 3e-7 x r. Spans are therefore conservative: every
// pixel the loop can give positive coverage lies in them, and the
// per-pixel arithmetic still decides.
//
// Coordinates are pixels (x right, y down, integral values on pixels), as
// the loop uses them: ends finite and within about 1e7 pixels of the image
// (the drawing brings far-out ends in first). A radius too large to bound
// in double (or not finite) gives the whole box column.
#pragma once

#include <algorithm>
#include <cmath>

#include "plugin/host.h"
#include "raster/square_root.h"

// Rows first..last of a column; empty when first > last.
struct RowSpan {
  int first, last;
};

class StreakSpan {
 public:
  // The streak a..b of radius r (above 0) drawn into rows y0..y1 (0 <= y0).
  StreakSpan(Point2 a, Point2 b, float r, int y0, int y1);

  // The rows (within y0..y1) of column x that can be covered.
  RowSpan Rows(int x) const;

 private:
  // One long side of the rectangle, from its left end (px, py) to its right
  // end at qx; rows kept within ylo..yhi. Vertical sides are left out (a
  // column meets such a side only along the rectangle's boundary, at
  // distance rho, never covered): px = +inf, qx = -inf.
  struct Side {
    double px, py, qx, slope, ylo, yhi;
  };

  int y0_, y1_;
  double top_, bottom_;  // y0, y1
  bool whole_;           // every row of the box
  double ax_, ay_, bx_, by_, rho2_;
  Side sides_[2];
};

#if defined(__GNUC__)
[[gnu::always_inline]]
#endif
inline RowSpan StreakSpan::Rows(int x) const {
  if (whole_) return {y0_, y1_};
  const double X = x;
  double lo = bottom_ + 1.0, hi = top_ - 1.0;  // empty
  for (const Side& s : sides_) {
    if (!(X >= s.px && X <= s.qx)) continue;
    // Kept within the side's own rows: a steep side's slope is large.
    const double y = std::clamp(s.py + (X - s.px) * s.slope, s.ylo, s.yhi);
    lo = std::min(lo, y);
    hi = std::max(hi, y);
  }
  // Inlined by force: GCC otherwise calls it, twice a column.
  const auto disc = [&](double cx, double cy)
#if defined(__GNUC__)
                        __attribute__((always_inline))
#endif
  {
    const double d = X - cx;
    const double h2 = rho2_ - d * d;
    if (!(h2 > 0.0)) return;
    const double h = raster::SquareRoot(h2);
    lo = std::min(lo, cy - h);
    hi = std::max(hi, cy + h);
  };
  disc(ax_, ay_);
  disc(bx_, by_);
  // Clipped to the box in double, then converted: both are at least y0,
  // so truncation is floor.
  lo = std::max(lo, top_);
  hi = std::min(hi, bottom_);
  if (!(lo <= hi)) return {1, 0};
  RowSpan span{static_cast<int>(lo), static_cast<int>(hi)};
  span.last += static_cast<double>(span.last) < hi;  // ceil
  return span;
}
