// The frame driver of the velumbra command: a scene made into host nodes
// and effects, rendered one frame at a time.
//
// A RenderSession builds the scene's nodes, creates each effect through its
// class descriptor, binds the effect's parameters (the scene's, then the
// --set options), and reads the input image and ID images once. Each
// RenderFrame then makes the frame's bitmap:
//   1. the pixels: the input image, or the background colour (1.0 = 65280);
//   2. the G-buffer channels the active effects ask for
//      (GBufferChannelsRequired), plus any the caller needs, filled from the
//      ID images where the scene gives them and zero elsewhere;
//   3. the RenderInfo of the render camera at the frame's time:
//      worldToCam = Inverse of the camera's world transform, the perspective
//      projection of its field of view, renderTime = the time;
//   4. the bitmap's manager reaches the scene's Interface (and so the root);
//   5. every active effect's Apply, in scene order, with the caller's abort
//      callback. When the callback answers Check() nonzero after an effect,
//      the frame counts as aborted.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/app/exr_io.h"
#include "host/app/param_binding.h"
#include "host/app/png_io.h"
#include "host/app/scene_file.h"
#include "host/sdk/bitmap.h"
#include "host/sdk/classdesc.h"
#include "host/sdk/effect.h"
#include "host/sdk/inode.h"

namespace velumbra {

// The class descriptor of an effect class by name, as a loaded module
// provides it; null when none does.
using ClassLookup = std::function<ClassDesc*(const std::string& className)>;

class RenderSession {
 public:
  // Throws InputError naming the scene file and JSON path (or the --set
  // option, or the image file) of the first problem; nothing is rendered
  // then.
  RenderSession(const SceneDesc& scene, const ClassLookup& lookup, const std::vector<SetOption>& sets = {});
  // Deletes the effects (and with them their parameter blocks). The
  // session must die before the modules that made its effects are unloaded.
  ~RenderSession();
  RenderSession(const RenderSession&) = delete;
  RenderSession& operator=(const RenderSession&) = delete;

  const SceneDesc& Scene() const { return scene_; }
  Interface& Host() { return ip_; }
  INode* Camera() const { return camera_; }
  int Width() const { return scene_.render.width; }
  int Height() const { return scene_.render.height; }
  int TicksPerFrame() const { return ticksPerFrame_; }

  // The frame's time in ticks. Throws InputError when it does not fit the
  // host's 32-bit time.
  TimeValue FrameTime(int frame) const;

  // 8 for an 8-bit input image, else 16.
  int DefaultOutputDepth() const;

  // The input image as read (null without one), and, for an EXR input, the
  // file's own floats and sample type.
  const RgbaImage* InputImage() const { return image_ ? &*image_ : nullptr; }
  const ExrRgbaImage* InputExr() const { return exrImage_ ? &*exrImage_ : nullptr; }

  // The effects in scene order, each with its name and class as in the scene.
  const std::vector<Effect*>& Effects() const { return effects_; }

  // Renders `frame`; `extraChannels` (BMM_CHAN_*) are allocated besides the
  // effects' own. Null when the callback asked to stop.
  std::unique_ptr<Bitmap> RenderFrame(int frame, CheckAbortCallback* abort, ULONG extraChannels = 0);

 private:
  void LoadInputs();
  void CreateEffects(const ClassLookup& lookup, const std::vector<SetOption>& sets);

  SceneDesc scene_;
  Interface ip_;
  BitmapManager manager_;
  INode* camera_ = nullptr;
  int ticksPerFrame_ = 0;
  std::vector<Effect*> effects_;
  std::optional<RgbaImage> image_;
  // The input image's own floats when it is an EXR (for EXR outputs).
  std::optional<ExrRgbaImage> exrImage_;
  std::optional<IdImage<WORD>> objectIds_;
  std::optional<IdImage<UBYTE>> materialIds_;
};

// The background colour on the bitmap's 16-bit scale (1.0 = 65280, rounded).
BMM_Color_64 BackgroundPixel(const std::array<double, 4>& rgba);

// Fills the render information of `camera` at time t for a width x height
// image.
void SetRenderCamera(RenderInfo& info, INode& camera, TimeValue t, int width, int height);

}  // namespace velumbra
