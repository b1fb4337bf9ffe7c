// Motion blur: every star drawn as the path it travels on screen during the
// `duration` frames that end at the render time.
//
// The interval is cut into n equal steps; sample k (k = 0..n) lies at
// t - k * step, so sample 0 is the render time and sample n the oldest. The
// star is placed at every sample, consecutive positions are joined by
// streaks, oldest first: one capsule for the oldest segment, then trails
// given the newer end first, which leave out the disc the previous segment
// already drew at their shared end.
#pragma once

#include <cstdint>
#include <memory>

#include "plugin/host.h"
#include "raster/pixel_target.h"
#include "render/hyperspace.h"
#include "render/star_loop.h"
#include "starfield/star_record.h"
#include "starfield/view_transforms.h"

// The near plane at which segments are clipped (camera space, in front of
// the camera z < 0).
inline constexpr float kNearPlaneZ = -0.0001f;

// Sample k's time: float(t) - float(k) * step, truncated toward zero. Times
// beyond the 32-bit tick range are held at its ends.
TimeValue SampleTime(TimeValue t, int k, float step);

// Per-channel streak dimming of a pass: D = n x dimming, times one minus
// the filter per colour channel; alpha takes the mean of the three.
void StreakDimming(int subdivisions, float dimming, const Color& filter, float out[4]);

class MotionBlurPath {
 public:
  // Allocates the samples of n subdivisions (n + 1 samples). False when the
  // size overflows or memory cannot be had; nothing is kept then.
  bool Allocate(int subdivisions);

  int subdivisions() const { return n_; }
  // The bytes a sample takes: the two matrices, its time, the placement and
  // the "same inputs" flag.
  static constexpr std::uint64_t kSampleBytes =
      2 * sizeof(Matrix3) + sizeof(TimeValue) + sizeof(StarPlacement) + sizeof(bool);

  // Sample k: its time, the origin and view matrices at that time, and the
  // placement parameters read at that time.
  void SetSample(int k, TimeValue time, const Matrix3& origin, const Matrix3& view,
                 const StarPlacement& placement);
  TimeValue Time(int k) const { return time_[k]; }
  const Matrix3& Origin(int k) const { return origin_[k]; }
  const Matrix3& View(int k) const { return view_[k]; }
  const StarPlacement& Placement(int k) const { return placement_[k]; }

  // Draws one star's path. `hyperspace` null: no shift.
  void DrawStarPath(const StarRecord& s, PixelTarget& target, const RenderInfo& ri,
                    const Hyperspace* hyperspace) const {
    TargetSink sink{target};
    EmitStarPath(s, ri, hyperspace, Point2(static_cast<float>(target.maxX), static_cast<float>(target.maxY)), sink);
  }

  // The same path handed to `sink` as the drawing calls it makes, in order:
  // sink.Capsule(a, b, colour, r) for the oldest segment, then
  // sink.Trail(newer, older, colour, r) for each later one. Calls that
  // cannot draw a pixel of an image whose last pixel is `imageMax` (a trail
  // of length 0; a splat of a still star far off the image) are left out.
  template <typename Sink>
  void EmitStarPath(const StarRecord& s, const RenderInfo& ri, const Hyperspace* hyperspace, Point2 imageMax,
                    Sink& sink) const;

 private:
  int n_ = 0;
  std::unique_ptr<Matrix3[]> origin_;
  std::unique_ptr<Matrix3[]> view_;
  std::unique_ptr<TimeValue[]> time_;
  std::unique_ptr<StarPlacement[]> placement_;
  // same_[k]: sample k has exactly the inputs of sample k + 1 (bit for bit),
  // so a star's point there is the one already computed for k + 1.
  std::unique_ptr<bool[]> same_;

  bool SameInputs(int k, int older) const;
};

template <typename Sink>
void MotionBlurPath::EmitStarPath(const StarRecord& s, const RenderInfo& ri, const Hyperspace* hyperspace,
                                  Point2 imageMax, Sink& sink) const {
  const int n = n_;
  // P: the unshifted, unclipped point of the previous (older) sample.
  Point3 p;
  bool pValid = StarToCamera(s.pos, placement_[n], origin_[n], view_[n], p);
  for (int k = n - 1; k >= 0; --k) {
    Point3 prev = p;
    const bool prevValid = pValid;
    Point3 cur = p;
    // A sample with the older sample's inputs gives the same point: reused.
    if (!same_[k]) pValid = StarToCamera(s.pos, placement_[k], origin_[k], view_[k], cur);
    p = cur;
    // A point without a placement (flattened onto the 3D domain's centre)
    // takes no part: the segments that touch it are skipped.
    if (!prevValid || !pValid) continue;
    if (!hyperspace && same_[k]) {
      // Both ends are the same point: a later segment is a trail of length
      // 0, which draws nothing; the oldest is a splat at the point when it
      // is in front of the camera, and a splat reaches no pixel from more
      // than its radius + 1 outside the image. Tested together, so that the
      // one branch is predictable for the many stars outside the view.
      if (k != n - 1) continue;
      const Point2 a = ri.MapCamToScreen(prev);
      const float m = s.size + 2.0f;
      const bool draw = (prev.z < 0.0f) & (a.x >= -m) & (a.x <= imageMax.x + m) & (a.y >= -m) &
                        (a.y <= imageMax.y + m);
      if (draw) sink.Capsule(a, a, s.color, s.size);
      continue;
    }
    if (hyperspace) cur = hyperspace->Shift(cur, view_[k]);

    // Near-plane clipping; only this segment's copies change.
    if (prev.z >= 0.0f && cur.z >= 0.0f) continue;
    if (prev.z >= 0.0f) {
      const float f = (kNearPlaneZ - prev.z) / (cur.z - prev.z);
      prev.x = prev.x + (cur.x - prev.x) * f;
      prev.y = prev.y + (cur.y - prev.y) * f;
      prev.z = kNearPlaneZ;
    } else if (cur.z >= 0.0f) {
      const float f = (kNearPlaneZ - prev.z) / (cur.z - prev.z);
      cur.x = prev.x + (cur.x - prev.x) * f;
      cur.y = prev.y + (cur.y - prev.y) * f;
      cur.z = kNearPlaneZ;
    }

    const Point2 a = ri.MapCamToScreen(prev);
    const Point2 b = ri.MapCamToScreen(cur);
    if (k == n - 1)
      sink.Capsule(a, b, s.color, s.size);
    else
      sink.Trail(b, a, s.color, s.size);
  }
}
