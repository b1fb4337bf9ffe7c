// The straightforward drawing, the reference the specialised loops of
// star_drawing.cpp are tested against: every pixel of a call's box, one at a
// time, through SplatPixel / TrailPixel and PlotPixel.
#include "raster/reference_drawing.h"

#include <algorithm>
#include <cmath>

#include "raster/pixel_kernel.h"

namespace raster {

namespace {

constexpr float kFullF = static_cast<float>(kFullChannel);

}  // namespace

void SplatPixel(PixelTarget& t, Point2 p, Point2 c, BMM_Color_64 colour, float r) {
  const float cov = r - Length(p - c);
  if (!(cov > 0.0f)) return;
  if (cov < 1.0f) {
    colour = ScaledColour(colour, cov);
    if (t.applyMethod == PixelTarget::kApplyAsFilter) {
      // A partly covered pixel tends to the neutral filter value, not black.
      const float neutral = (1.0f - cov) * kFullF;
      colour = {ToChannel(static_cast<float>(colour.r) + neutral), ToChannel(static_cast<float>(colour.g) + neutral),
                ToChannel(static_cast<float>(colour.b) + neutral), ToChannel(static_cast<float>(colour.a) + neutral)};
    }
  }
  t.PlotPixel(p.x, p.y, colour);
}

void TrailPixel(PixelTarget& t, Point2 p, Point2 q, Point2 b, BMM_Color_64 colour, float r) {
  const float c1 = r - Length(p - q);  // coverage by the streak
  if (!(c1 > 0.0f)) return;
  const float c2 = r - Length(p - b);  // coverage by the disc at b, already drawn
  if (!(c2 < 1.0f)) return;
  const bool filter = t.applyMethod == PixelTarget::kApplyAsFilter;
  float e = std::min(c1, 1.0f);
  if (c2 > 0.0f && !filter) {
    // Only the coverage the disc left over, and for the alpha-weighted
    // methods relative to the alpha the disc already changed.
    e = e - c2;
    if (t.writeAlpha) {
      const float alphaCovered = static_cast<float>(colour.a) * c2 * PixelTarget::kInvFull;
      if (t.applyMethod == PixelTarget::kAdditiveWithAlpha || t.applyMethod == PixelTarget::kSimpleApply) {
        // At star alpha 65280 and c2 one step below 1 this is exactly 0: the
        // disc has already made the pixel fully opaque (method 0 adds
        // nothing over full alpha; method 3 has laid the whole star over
        // it), so the pixel is taken as fully covered and left alone.
        const float divisor = 1.0f - alphaCovered;
        if (!(divisor > 0.0f)) return;
        e = e / divisor;
      } else if (t.applyMethod == PixelTarget::kAdditiveWithInverseAlpha) {
        e = e / (1.0f + alphaCovered);
      }
    }
  }
  if (!filter) {
    colour = ScaledColour(colour, e);
  } else {
    // The disc multiplied the pixel by its own filter value; dividing it out
    // leaves one filter at the combined coverage.
    const float neutral = (1.0f - e) * kFullF;
    const auto channel = [&](WORD v) {
      const float fv = static_cast<float>(v);
      if (c2 > 0.0f) return ToChannel((fv * e + neutral) * kFullF / (fv * c2 + (1.0f - c2) * kFullF));
      return ToChannel(fv * e + neutral);
    };
    colour = {channel(colour.r), channel(colour.g), channel(colour.b), channel(colour.a)};
  }
  t.PlotPixel(p.x, p.y, colour);
}

namespace {

class Reference final : public PixelTarget::BoxLoops {
 public:
  void Splat(PixelTarget& target, Point2 c, BMM_Color_64 colour, float r, int x0, int x1, int y0,
             int y1) const override {
    for (int x = x0; x <= x1; ++x)
      for (int y = y0; y <= y1; ++y)
        SplatPixel(target, Point2(static_cast<float>(x), static_cast<float>(y)), c, colour, r);
  }

  void Capsule(PixelTarget& target, const PixelTarget::Streak& s, float r) const override {
    for (int x = s.x0; x <= s.x1; ++x) {
      const float px = static_cast<float>(x);
      const float alongA = (px - s.a.x) * s.u.x;  // column terms of the projections
      const float alongB = (px - s.b.x) * s.u.x;
      for (int y = s.y0; y <= s.y1; ++y) {
        const float py = static_cast<float>(y);
        const float t = alongA + (py - s.a.y) * s.u.y;
        Point2 q;
        if (t <= 0.0f)
          q = s.a;
        else if (alongB + (py - s.b.y) * s.u.y >= 0.0f)
          q = s.b;
        else
          q = s.a + s.u * t;
        SplatPixel(target, Point2(px, py), q, s.colour, r);
      }
    }
  }

  void Trail(PixelTarget& target, const PixelTarget::Streak& s, Point2 b, float r) const override {
    for (int x = s.x0; x <= s.x1; ++x) {
      const float px = static_cast<float>(x);
      const float alongA = (px - s.a.x) * s.u.x;
      const float alongB = (px - s.b.x) * s.u.x;
      for (int y = s.y0; y <= s.y1; ++y) {
        const float py = static_cast<float>(y);
        const float t = alongA + (py - s.a.y) * s.u.y;
        if (t <= 0.0f) {
          TrailPixel(target, Point2(px, py), s.a, b, s.colour, r);
        } else if (alongB + (py - s.b.y) * s.u.y < 0.0f) {
          TrailPixel(target, Point2(px, py), s.a + s.u * t, b, s.colour, r);
        }
        // Beyond b the disc at b gives all the coverage.
      }
    }
  }
};

const Reference kReference;

}  // namespace

const PixelTarget::BoxLoops& ReferenceDrawing() { return kReference; }

}  // namespace raster
