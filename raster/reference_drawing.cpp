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

namespace {

// The call's colour as floats: plain, or r, g, b times the gain of a light
// call (alpha as given).
void Floats(const Paint& paint, float out[4]) {
  const BMM_Color_64 c = paint.colour;
  out[0] = static_cast<float>(c.r);
  out[1] = static_cast<float>(c.g);
  out[2] = static_cast<float>(c.b);
  out[3] = static_cast<float>(c.a);
  if (!paint.light) return;
  for (int k = 0; k < 3; ++k) out[k] = out[k] * paint.gain;
}

BMM_Color_fl Scaled(const float f[4], float factor) {
  return {f[0] * factor, f[1] * factor, f[2] * factor, f[3] * factor};
}

}  // namespace

void SplatPixel(PixelTarget& t, Point2 p, Point2 c, BMM_Color_64 colour, float r) {
  SplatPixel(t, p, c, Paint{colour}, r);
}

void SplatPixel(PixelTarget& t, Point2 p, Point2 c, const Paint& paint, float r) {
  const float cov = r - Length(p - c);
  if (!(cov > 0.0f)) return;
  float f[4];
  Floats(paint, f);
  BMM_Color_64 colour = paint.colour;
  if (cov < 1.0f) {
    colour = {ToChannel(f[0] * cov), ToChannel(f[1] * cov), ToChannel(f[2] * cov), ToChannel(f[3] * cov)};
    if (t.applyMethod == PixelTarget::kApplyAsFilter) {
      // A partly covered pixel tends to the neutral filter value, not black.
      const float neutral = (1.0f - cov) * kFullF;
      colour = {ToChannel(static_cast<float>(colour.r) + neutral), ToChannel(static_cast<float>(colour.g) + neutral),
                ToChannel(static_cast<float>(colour.b) + neutral), ToChannel(static_cast<float>(colour.a) + neutral)};
    }
  } else if (paint.light) {
    colour = {ToChannel(f[0]), ToChannel(f[1]), ToChannel(f[2]), ToChannel(f[3])};
  }
  t.PlotPixel(p.x, p.y, colour, Scaled(f, std::min(cov, 1.0f)));
}

void TrailPixel(PixelTarget& t, Point2 p, Point2 q, Point2 b, BMM_Color_64 colour, float r) {
  TrailPixel(t, p, q, b, Paint{colour}, r);
}

void TrailPixel(PixelTarget& t, Point2 p, Point2 q, Point2 b, const Paint& paint, float r) {
  const float c1 = r - Length(p - q);  // coverage by the streak
  if (!(c1 > 0.0f)) return;
  const float c2 = r - Length(p - b);  // coverage by the disc at b, already drawn
  if (!(c2 < 1.0f)) return;
  float f[4];
  Floats(paint, f);
  const bool filter = t.applyMethod == PixelTarget::kApplyAsFilter;
  float e = std::min(c1, 1.0f);
  if (c2 > 0.0f && !filter) {
    // Only the coverage the disc left over, and for the alpha-weighted
    // methods relative to the alpha the disc already changed.
    e = e - c2;
    if (t.writeAlpha) {
      const float alphaCovered = f[3] * c2 * PixelTarget::kInvFull;
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
  BMM_Color_64 colour;
  if (!filter) {
    colour = {ToChannel(f[0] * e), ToChannel(f[1] * e), ToChannel(f[2] * e), ToChannel(f[3] * e)};
  } else {
    // The disc multiplied the pixel by its own filter value; dividing it out
    // leaves one filter at the combined coverage.
    const float neutral = (1.0f - e) * kFullF;
    const auto channel = [&](float fv) {
      if (c2 > 0.0f) return ToChannel((fv * e + neutral) * kFullF / (fv * c2 + (1.0f - c2) * kFullF));
      return ToChannel(fv * e + neutral);
    };
    colour = {channel(f[0]), channel(f[1]), channel(f[2]), channel(f[3])};
  }
  t.PlotPixel(p.x, p.y, colour, Scaled(f, e));
}

namespace {

class Reference final : public PixelTarget::BoxLoops {
 public:
  void Splat(PixelTarget& target, Point2 c, const Paint& paint, float r, int x0, int x1, int y0,
             int y1) const override {
    for (int x = x0; x <= x1; ++x)
      for (int y = y0; y <= y1; ++y)
        SplatPixel(target, Point2(static_cast<float>(x), static_cast<float>(y)), c, paint, r);
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
        SplatPixel(target, Point2(px, py), q, s.paint, r);
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
          TrailPixel(target, Point2(px, py), s.a, b, s.paint, r);
        } else if (alongB + (py - s.b.y) * s.u.y < 0.0f) {
          TrailPixel(target, Point2(px, py), s.a + s.u * t, b, s.paint, r);
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
