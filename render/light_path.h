// Drawing a star by its light: the star's drawing calls (a splat, or its
// motion-blur path of a capsule and trails, hyperspace included) are first
// handed to a CoverageSink, which sums the coverage they will lay down
// (raster/coverage.h); the same calls then go to the pass's sink as light
// calls whose gain is the star's light scale divided by that sum. However
// the star is drawn (any size, any sub-pixel offset, a still splat or a
// long streak, partly outside the image), the light it adds sums to its
// light.
//
// In frame units: a call of hue h (16-bit, largest channel 65280) and gain
// g adds, at a pixel of coverage c, h x g x c; its luminance summed over
// the star is Y(h) x g x (coverage sum). With g = L x 65280 / (Y(h) x
// coverage sum) that is L x 65280: L at 1.0 = 65280.
#pragma once

#include <algorithm>
#include <cmath>

#include "plugin/host.h"
#include "raster/coverage.h"

// Whether any of the calls it is given can touch the image 0..maxX x
// 0..maxY: a call's ends' box widened by r + 2 (more than the drawing's own
// margin of trunc(r + 1) pixels, the margin the star loop drops calls by)
// meets it. Ends that are not finite count as reaching. A star none of
// whose calls reaches the image draws nothing: its coverage need not be
// summed (a star far outside a wide frame has long streaks to sum).
struct ReachSink {
  float maxX, maxY;
  bool reaches = false;
  void Check(Point2 a, Point2 b, float r) {
    if (reaches || !(r > 0.0f)) return;
    const float m = r + 2.0f;
    const float xlo = std::min(a.x, b.x) - m, xhi = std::max(a.x, b.x) + m;
    const float ylo = std::min(a.y, b.y) - m, yhi = std::max(a.y, b.y) + m;
    if (std::isnan(xlo) || std::isnan(xhi) || std::isnan(ylo) || std::isnan(yhi)) {
      reaches = true;
      return;
    }
    reaches = !(xhi < 0.0f || xlo > maxX || yhi < 0.0f || ylo > maxY);
  }
  void Splat(Point2 c, BMM_Color_64, float r) { Check(c, c, r); }
  void Capsule(Point2 a, Point2 b, BMM_Color_64, float r) { Check(a, b, r); }
  void Trail(Point2 a, Point2 b, BMM_Color_64, float r) { Check(a, b, r); }
};

// Sums the coverage of the calls it is given (the colour plays no part).
struct CoverageSink {
  double sum = 0.0;
  void Splat(Point2 c, BMM_Color_64, float r) { sum += raster::DiscCoverage(c, r); }
  void Capsule(Point2 a, Point2 b, BMM_Color_64, float r) { sum += raster::CapsuleCoverage(a, b, r); }
  void Trail(Point2 a, Point2 b, BMM_Color_64, float r) { sum += raster::TrailCoverage(a, b, r); }
};

// Hands a star's calls on to `sink` as light calls of one gain, with the
// star's alpha.
template <class Sink>
struct LightSink {
  Sink& sink;
  float gain;
  WORD alpha;
  void Splat(Point2 c, BMM_Color_64 colour, float r) {
    colour.a = alpha;
    sink.LightSplat(c, colour, r, gain);
  }
  void Capsule(Point2 a, Point2 b, BMM_Color_64 colour, float r) {
    colour.a = alpha;
    sink.LightCapsule(a, b, colour, r, gain);
  }
  void Trail(Point2 a, Point2 b, BMM_Color_64 colour, float r) {
    colour.a = alpha;
    sink.LightTrail(a, b, colour, r, gain);
  }
};
