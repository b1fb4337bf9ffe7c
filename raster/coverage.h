// Coverage sums: how much of its colour a drawing call lays down, summed
// over every pixel it reaches, inside the image or not.
//
// A star drawn by its light (PixelTarget::DrawLightSplat and its kin) must
// bring the same total light however it is drawn: a disc of radius r at
// a sub-pixel offset covers a sum of pixel coverages that is not pi r^2
// (radius 1 on a pixel centre: 1.0; at (0.5, 0.5) off it: 1.17), and a
// motion-blurred path spreads it over a chain of streaks. The caller sums
// the coverage of a star's calls here and divides its light by the sum.
//
// Each sum adds, pixel by pixel, the coverage factor by which the drawing
// scales the star's colour for the light it adds (raster/reference_drawing.cpp
// forms it with the same single-precision operations):
//   disc, capsule  min(cov, 1) where cov = r - |p - q| > 0, q the point of
//                  the disc's centre or the segment nearest to p
//   trail a -> b   what the trail adds to the disc already drawn at b:
//                  min(c1, 1) where the disc does not reach the pixel, that
//                  minus the disc's own coverage c2 where it partly covers
//                  it, nothing where the disc covers it fully or beyond b
// Pixels outside the image count: a star near the edge keeps its light
// (the part in the image is its share). With an alpha-weighted apply method
// and the stars' alpha written, a joint's factor differs from these by the
// alpha's 16-bit truncation (about 1e-5 of the pixel).
//
// Cost: the pixels within r + 1 of the call, not its bounding box. A
// streak longer than kLongStreak pixels (one clipped at the near plane,
// projecting far out) is summed in closed form instead: length x (2r - 1)
// (r^2 below radius 1) plus the end discs' share, the limit the pixel sums
// tend to.
#pragma once

#include "plugin/host.h"

namespace raster {

inline constexpr double kLongStreak = 1 << 16;

// A disc of radius r at c (nothing for r <= 0 or a non-finite centre).
double DiscCoverage(Point2 c, float r);
// A capsule from a to b (the disc at a when Length(b - a) is 0).
double CapsuleCoverage(Point2 a, Point2 b, float r);
// A trail from a to b (nothing when Length(b - a) is 0).
double TrailCoverage(Point2 a, Point2 b, float r);

// The closed forms: the coverage profile min(r - d, 1) integrated over the
// plane (a disc) and across a line (a streak's width).
double DiscIntegral(double r);
double StreakWidthIntegral(double r);

}  // namespace raster
