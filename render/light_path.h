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

#include "plugin/host.h"
#include "raster/coverage.h"

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
