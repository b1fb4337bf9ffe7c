// One frei0r instance: a host of the effect module for a video tool. It
// owns a small scene (a camera rig of three nodes) and one effect object,
// made by the module's class descriptor, for the instance's whole life, so
// that the effect's generated star field stays cached across frames and is
// regenerated only when a generation parameter changes.
//
// Each update:
//   1. the frame: round(time x frame rate), at the host's whole ticks per
//      frame (4800 / rate, NTSC rates taking those of the whole rate), the
//      time velumbra render gives the same frame number;
//   2. the parameters the editor changed are set on the effect's block (as
//      constants: the editor keys them, the plug-in sees the value of each
//      frame);
//   3. the camera: pan about world Z, tilt (a look-at from the origin
//      towards (0, cos tilt, sin tilt), +Y up: at 0 the default scene's
//      camera; exactly at +-90 degrees the picture's up is world +Y), roll
//      about the view axis, as three nested nodes keyed at this frame and,
//      when the previous update was the frame before, at that frame's
//      camera too (kept when a frame is rendered again). The effect's
//      motion blur follows the camera over its duration: between the two
//      keys it sees the camera move, before the earlier key it sees it
//      still. After a seek (no update of the frame before) the camera is
//      still;
//   4. the pixels: 8-bit RGBA (straight alpha) into the frame as a PNG
//      plate is read, the effect's Apply, back as an 8-bit PNG is written
//      (png_samples.h), so a frame equals `velumbra render` of the same
//      8-bit plate and settings.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "host/sdk/bitmap.h"
#include "host/sdk/classdesc.h"
#include "host/sdk/effect.h"
#include "host/sdk/inode.h"
#include "integrations/frei0r/frei0r_params.h"

namespace velumbra::frei0r {

// One parameter's current value as frei0r holds it.
struct Value {
  double x = 0.0;
  Color colour;
};

class StarFilter {
 public:
  // `cd` and `params` outlive the filter (the module stays loaded).
  StarFilter(ClassDesc2& cd, const std::vector<Param>& params, int width, int height);
  ~StarFilter();
  StarFilter(const StarFilter&) = delete;
  StarFilter& operator=(const StarFilter&) = delete;

  // False when the module could not make an effect.
  bool Valid() const { return effect_ != nullptr; }

  Value& At(int index) { return values_[index]; }

  // Renders the frame at `time` (seconds) over `in` (null: transparent
  // black, the source) into `out`, width x height RGBA pixels.
  void Update(double time, const std::uint32_t* in, std::uint32_t* out);

 private:
  struct Camera {
    TimeValue t = 0;
    float pan = 0, tilt = 0, roll = 0, fov = 0;  // degrees
    bool operator==(const Camera&) const = default;
  };
  double Own(Own which) const;
  void SetBlock(TimeValue t);
  void SetCamera(const Camera& now);

  const std::vector<Param>& params_;
  std::vector<Value> values_;
  int width_, height_;
  Interface ip_;
  BitmapManager manager_;
  INode* pan_ = nullptr;
  INode* tilt_ = nullptr;
  INode* camera_ = nullptr;
  Effect* effect_ = nullptr;
  IParamBlock2* block_ = nullptr;
  std::vector<std::optional<Value>> applied_;  // the values last set on the block
  std::optional<Camera> last_;      // the camera of the last update
  std::optional<Camera> previous_;  // the frame before's, keyed for the blur
  std::unique_ptr<Bitmap> bitmap_;
};

}  // namespace velumbra::frei0r
