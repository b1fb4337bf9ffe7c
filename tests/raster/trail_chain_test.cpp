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
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "raster/pixel_target.h"
#include "raster/reference_drawing.h"
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

// Chains as a panning camera's motion blur draws them (a disc at the oldest
// point, a capsule for the first segment, then trails back to the point
// before, up to eight segments) give the bytes of the straightforward loops:
// pans along the rows (the shallow streaks drawn row by row), exactly
// horizontal and 45 degree pans, steep ones, stops, sub-pixel steps and
// chains leaving the image on every side, for every apply method with alpha
// on and off, IDs stamped and a mask on.
TEST(TrailChain, PanningChainsGiveTheReferenceBytes) {
  constexpr int kW = 90, kH = 50;
  Random rng;
  rng.srand(4242);
  const auto unit = [&] { return static_cast<float>(rng.rand()) / static_cast<float>(Random::s_rand_max); };
  struct Chain {
    std::vector<Point2> points;
    BMM_Color_64 colour;
    float r;
  };
  std::vector<Chain> chains;
  for (int i = 0; i < 160; ++i) {
    Chain c;
    const int kind = i % 8;
    const float along = kind == 6 ? unit() : 4.0f + unit() * 26.0f;  // sub-pixel steps, or a pan's
    Point2 step = kind == 0   ? Point2(along, 0.0f)                   // exactly along the rows
                  : kind == 1 ? Point2(std::round(along), std::round(along))  // 45 degrees
                  : kind == 2 ? Point2((unit() - 0.5f) * 6.0f, along)          // steep
                              : Point2(along, (unit() - 0.5f) * 3.0f);         // a pan
    if (unit() < 0.5f) step = Point2(-step.x, -step.y);
    Point2 p(std::round(unit() * (kW + 60.0f)) - 30.0f + (kind == 3 ? 0.0f : unit()),
             std::round(unit() * (kH + 20.0f)) - 10.0f + (kind == 4 ? 0.5f : unit()));
    const int segments = 1 + static_cast<int>(rng.rand() % 8);
    c.points.push_back(p);
    for (int k = 0; k < segments; ++k) {
      if (kind != 0 && unit() < 0.1f) {
        c.points.push_back(p);  // a stop
        continue;
      }
      p = Point2(p.x + step.x, p.y + step.y);
      c.points.push_back(p);
    }
    c.colour = {static_cast<WORD>(rng.rand() % 65281), static_cast<WORD>(rng.rand() % 65281),
                static_cast<WORD>(rng.rand() % 65281), static_cast<WORD>(unit() < 0.3f ? 65280 : rng.rand() % 65281)};
    c.r = unit() < 0.8f ? (unit() < 0.5f ? 1.0f : 1.5f) : 0.3f + unit() * 5.0f;
    chains.push_back(c);
  }
  for (int method = 0; method <= 5; ++method) {
    for (bool writeAlpha : {false, true}) {
      SCOPED_TRACE(testing::Message() << "method " << method << " writeAlpha " << writeAlpha);
      const auto draw = [&](bool reference) {
        Canvas canvas(kW, kH);
        for (int y = 0; y < kH; ++y)
          for (int x = 0; x < kW; ++x) {
            canvas.Set(x, y, {static_cast<WORD>(x * 701 % 60000), static_cast<WORD>(y * 1301 % 60000), 2000,
                              static_cast<WORD>((x + 2 * y) % 7 * 10880)});
            canvas.ObjectIds()[y * kW + x] = static_cast<WORD>((x / 5 + y / 3) % 2);
          }
        PixelTarget t(&canvas.bitmap, static_cast<UBYTE>(method));
        t.writeAlpha = writeAlpha;
        t.matchObjectId = 1;
        t.objectIdToMatch = 1;
        t.writeMaterialId = 1;
        t.materialIdToWrite = 9;
        for (float& d : t.streakDimming) d = 0.05f;
        t.boxLoops = reference ? &raster::ReferenceDrawing() : nullptr;
        for (const Chain& c : chains) {
          t.DrawSplat(c.points[0], c.colour, c.r);
          t.DrawCapsule(c.points[1], c.points[0], c.colour, c.r);
          for (std::size_t k = 2; k < c.points.size(); ++k) t.DrawTrail(c.points[k], c.points[k - 1], c.colour, c.r);
        }
        const BMM_Color_64* px = canvas.bitmap.Storage()->Pixels();
        std::vector<std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(px),
                                        reinterpret_cast<const std::uint8_t*>(px + kW * kH));
        bytes.insert(bytes.end(), canvas.MaterialIds(), canvas.MaterialIds() + kW * kH);
        return bytes;
      };
      const std::vector<std::uint8_t> fast = draw(false), reference = draw(true);
      ASSERT_EQ(fast.size(), reference.size());
      std::size_t first = 0;
      while (first < fast.size() && fast[first] == reference[first]) ++first;
      const std::size_t pixelBytes = sizeof(BMM_Color_64) * kW * kH;
      EXPECT_EQ(first, fast.size()) << "first difference in "
                                    << (first < pixelBytes ? "pixel " + std::to_string(first / 8)
                                                           : "material ID " + std::to_string(first - pixelBytes));
      // The chains must have drawn: IDs stamped in many places.
      int stamped = 0;
      for (std::size_t i = pixelBytes; i < reference.size(); ++i) stamped += reference[i] == 9;
      if (method < 5) {
        EXPECT_GT(stamped, 100);
      }
    }
  }
}

}  // namespace
