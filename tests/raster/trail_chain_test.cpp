// A disc at b followed by a trail into b composites every pixel as one
// drawing at the streak's coverage would: the property that lets a motion
// path be drawn as a chain of segments without doubling the joints.
//
// The expected pixel is the closed form of each apply method at coverage
// min(r - distance to the segment, 1), in double precision, independent of
// the code under test. Colours are chosen so that no sum reaches the 65280
// limit, where the chain and the single drawing legitimately part.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "raster/pixel_target.h"
#include "canvas.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Pixel {
  double r, g, b, a;
};

// One compositing of star `s` at coverage `cov` (0..1) over image `e`.
Pixel CompositeOnce(int method, bool writeAlpha, BMM_Color_64 e, BMM_Color_64 s, double cov) {
  const double k = 1.0 / kFull;
  const double er = e.r, eg = e.g, eb = e.b, ea = e.a;
  const double sr = s.r * cov, sg = s.g * cov, sb = s.b * cov, sa = s.a * cov;
  switch (method) {
    case 0: {
      const double f = 1.0 - ea * k;
      return {er + sr * f, eg + sg * f, eb + sb * f, writeAlpha ? ea + sa * f : ea};
    }
    case 1: {
      const double g = ea * k;
      return {er + sr * g, eg + sg * g, eb + sb * g, writeAlpha ? ea + sa * g : ea};
    }
    case 2:
      return {er + sr, eg + sg, eb + sb, writeAlpha ? ea + sa : ea};
    case 3:
      if (!writeAlpha) return {er + sr, eg + sg, eb + sb, ea};
      {
        const double h = 1.0 - sa * k;
        return {er * h + sr, eg * h + sg, eb * h + sb, ea * h + sa};
      }
    default: {
      // The filter value of a partly covered pixel tends to neutral 65280.
      const double rest = (1.0 - cov) * kFull;
      return {er * (sr + rest) * k, eg * (sg + rest) * k, eb * (sb + rest) * k,
              writeAlpha ? ea * (sa + rest) * k : ea};
    }
  }
}

double DistanceToSegment(double px, double py, Point2 a, Point2 b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double t = std::clamp(((px - a.x) * dx + (py - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
  return std::hypot(px - (a.x + t * dx), py - (a.y + t * dy));
}

TEST(TrailChain, DiscThenTrailCompositesAsOneDrawing) {
  // Rounding only: every channel result is truncated at each of about four
  // steps (coverage scaling and compositing, for the disc and the trail).
  constexpr double kTolerance = 4.0;
  constexpr int kSize = 48;
  Random rng;
  rng.srand(77);
  const auto uniform = [&](double lo, double hi) {
    return lo + (hi - lo) * rng.rand() / static_cast<double>(Random::s_rand_max);
  };
  const auto channel = [&](double hi) { return static_cast<WORD>(uniform(0.0, hi)); };

  for (int method = 0; method <= 4; ++method) {
    for (bool writeAlpha : {false, true}) {
      SCOPED_TRACE(testing::Message() << "method " << method << " writeAlpha " << writeAlpha);
      double worst = 0.0;
      int jointPixels = 0;  // pixels both the disc and the trail partly cover
      for (int round = 0; round < 40; ++round) {
        // Additive sums stay below the limit: colours up to 32000, the
        // image alpha up to 32000 where the method can double it.
        const double alphaLimit = method == 1 || method == 2 ? 32000.0 : kFull;
        const BMM_Color_64 image{channel(32000), channel(32000), channel(32000), channel(alphaLimit)};
        const BMM_Color_64 star{channel(32000), channel(32000), channel(32000),
                                channel(method == 2 ? 32000.0 : kFull + 1.0)};
        const float r = static_cast<float>(uniform(0.5, 4.0));
        const Point2 b(static_cast<float>(uniform(6, kSize - 6)), static_cast<float>(uniform(6, kSize - 6)));
        const double angle = uniform(0.0, 2.0 * kPi);
        const double length = round % 3 == 0 ? uniform(0.01, 1.5) : uniform(1.5, 16.0);
        const Point2 a(b.x + static_cast<float>(length * std::cos(angle)),
                       b.y + static_cast<float>(length * std::sin(angle)));

        Canvas canvas(kSize, kSize, image);
        PixelTarget target(&canvas.bitmap, static_cast<UBYTE>(method));
        target.writeAlpha = writeAlpha;
        target.DrawSplat(b, star, r);
        target.DrawTrail(a, b, star, r);

        for (int y = 0; y < kSize; ++y)
          for (int x = 0; x < kSize; ++x) {
            const double cov = std::min(1.0, r - DistanceToSegment(x, y, a, b));
            const double discCov = r - std::hypot(x - b.x, y - b.y);
            jointPixels += discCov > 0.0 && discCov < 1.0 && cov > discCov + 0.05;
            const Pixel want = cov > 0.0 ? CompositeOnce(method, writeAlpha, image, star, cov)
                                         : Pixel{double(image.r), double(image.g), double(image.b), double(image.a)};
            const BMM_Color_64 got = canvas.At(x, y);
            const double err = std::max({std::abs(got.r - want.r), std::abs(got.g - want.g),
                                         std::abs(got.b - want.b), std::abs(got.a - want.a)});
            worst = std::max(worst, err);
            if (err > kTolerance)
              ADD_FAILURE() << "round " << round << " pixel (" << x << ", " << y << ") got " << got << " want ("
                            << want.r << ", " << want.g << ", " << want.b << ", " << want.a << ") coverage "
                            << cov << " disc " << discCov;
          }
      }
      EXPECT_GT(jointPixels, 100) << "the joint correction must be exercised";
      RecordProperty("worst_" + std::to_string(method) + (writeAlpha ? "_alpha" : ""), std::to_string(worst));
      std::printf("method %d writeAlpha %d: worst deviation %.3f over %d joint pixels\n", method, int(writeAlpha),
                  worst, jointPixels);
    }
  }
}

// The same relation is what makes the correction necessary: without it the
// joint would be composited twice. Drawing the trail as a full capsule after
// the disc must differ measurably from one drawing, so the property above
// cannot hold by accident.
TEST(TrailChain, CapsuleAfterDiscWouldDoubleTheJoint) {
  const BMM_Color_64 star{20000, 20000, 20000, 40000};
  Canvas chain(32, 32), doubled(32, 32);
  PixelTarget t1(&chain.bitmap, PixelTarget::kSimpleAdditive), t2(&doubled.bitmap, PixelTarget::kSimpleAdditive);
  t1.DrawSplat({10, 10}, star, 2.5f);
  t1.DrawTrail({20, 10}, {10, 10}, star, 2.5f);
  t2.DrawSplat({10, 10}, star, 2.5f);
  t2.DrawCapsule({20, 10}, {10, 10}, star, 2.5f);
  // Pixel (10, 10): full coverage once in the chain, twice with the capsule.
  EXPECT_EQ(chain.At(10, 10).r, 20000);
  EXPECT_EQ(doubled.At(10, 10).r, 40000);
}

}  // namespace
