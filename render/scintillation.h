// Scintillation: stars that twinkle.
//
// Each star has, per time cycle (1 / frequency seconds), a random key for
// each of four quantities: x offset, y offset, brightness multiplier and
// dimmer. The value at the render time is a Catmull-Rom spline through the
// four keys around it, at a per-star random phase, so consecutive frames are
// continuous and a re-render of a frame is identical.
//
// Randomness: six generators per pass, the key generators K(c-1)..K(c+3)
// of the cycles around the current cycle c (seeded with seed + cycle) and a
// phase generator (seeded with the seed). Star i takes draw i of the phase
// generator and draws 4i..4i+3 of every key generator, whether it is drawn
// or not; the host's counter-based Random reaches those draws directly, which
// gives exactly the values of drawing them in sequence.
#pragma once

#include <cstdint>

#include "plugin/host.h"
#include "raster/pixel_target.h"
#include "starfield/star_record.h"
#include "starfield/view_transforms.h"

struct ScintillationSettings {
  int seed = 12345;
  float frequency = 2.0f;  // key cycles per second, > 0
  float dx = 0.0f;         // x offset amplitude, pixels
  float dy = 0.0f;         // y offset amplitude, pixels (already locked to dx if so)
  float multiplier = 0.2f; // lower bound of the brightness multiplier
  float dimmer = 0.0f;     // upper bound of the value subtracted, 16-bit units (x 256)
};

// The Catmull-Rom spline through p0..p3 at u: p1 at u = 0, p2 at u = 1.
inline float CatmullRom(float p0, float p1, float p2, float p3, float u) {
  return p1 + 0.5f * u *
                  ((p2 - p0) +
                   u * ((2.0f * p0 - 5.0f * p1 + 4.0f * p2 - p3) + u * (3.0f * (p1 - p2) + p3 - p0)));
}

class ScintillationPass {
 public:
  // Seeds the generators for the render time t.
  ScintillationPass(const ScintillationSettings& settings, TimeValue t);

  // Draws star `index` (placed at the render time with `origin` and `view`)
  // as a jittered, dimmed splat. Stars not in front of the camera draw
  // nothing.
  void DrawStar(std::uint32_t index, const StarRecord& s, const StarPlacement& placement,
                const Matrix3& origin, const Matrix3& view, const RenderInfo& ri,
                PixelTarget& target) const {
    float x, y;
    BMM_Color_64 c;
    if (Place(index, s, placement, origin, view, ri, x, y, c)) target.DrawSplat(Point2(x, y), c, s.size);
  }

  // The splat DrawStar draws: its centre and colour; false when the star
  // draws nothing.
  bool Place(std::uint32_t index, const StarRecord& s, const StarPlacement& placement, const Matrix3& origin,
             const Matrix3& view, const RenderInfo& ri, float& x, float& y, BMM_Color_64& colour) const;

  int cycle() const { return cycle_; }
  float frac() const { return frac_; }

 private:
  // The draw of generator `g` (0 = K(c-1) .. 4 = K(c+3)) as a fraction 0..1.
  float KeyDraw(int g, std::uint64_t k) const {
    return static_cast<float>(keys_[g].Draw(k)) / static_cast<float>(Random::s_rand_max);
  }

  ScintillationSettings s_;
  int cycle_ = 0;
  float frac_ = 0.0f;
  Random keys_[5];
  Random phase_;
};
