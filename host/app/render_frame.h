// The frame driver of the velumbra command: a scene made into host nodes
// and effects, rendered one frame at a time.
//
// A RenderSession builds the scene's nodes, creates each effect through its
// class descriptor, binds the effect's parameters (the scene's, then the
// --set options), and reads the input image and ID images: once when their
// names are fixed, or, when any of them has a frame pattern (output_name.h),
// for each frame as it renders (a missing frame is an InputError naming the
// file and the frame). Each RenderFrame then makes the frame's bitmap:
//   1. the pixels: the input image, or the background colour (1.0 = 65280);
//      the background and the effects' colour parameters are converted
//      into the frame's space first when InputOptions::sceneColours says so
//      (colour_plan.h);
//   2. the G-buffer channels the active effects ask for
//      (GBufferChannelsRequired), plus any the caller needs, filled from the
//      ID images where the scene gives them and zero elsewhere;
//   3. the RenderInfo of the render camera at the frame's time:
//      worldToCam = Inverse of the camera's world transform, the perspective
//      projection of its field of view, renderTime = the time; or, when the
//      scene names no render camera and the input image is an OpenEXR file
//      with worldToCamera and worldToNDC attributes, the file's camera
//      (exr_camera.h);
//   4. the bitmap's manager reaches the scene's Interface (and so the root);
//   5. every active effect's Apply, in scene order, with the caller's abort
//      callback. When the callback answers Check() nonzero after an effect,
//      the frame counts as aborted;
//   6. the host's log (log_sys.h): effects cannot fail Apply, so they write
//      what went wrong there. An error entry fails the frame (SystemError
//      "frame N: <effect>: <message>"; nothing of it is to be written);
//      warnings are kept for the caller (TakeLogWarnings);
//   7. for an OpenEXR input, the floats of the output (MergeEffectOutput):
//      the file's own floats where the effects changed nothing, and colour
//      channels beyond the 16-bit range carried through the effects by a
//      second, probe pass (HdrEffectFrame), so that a star adds its light to
//      an HDR pixel instead of clamping it to 1.0;
//   8. with a star light layer (SetStarLightLayer, for an OpenEXR output's
//      stars.* layer): the layer is allocated (zeroed) before the effects
//      run, and where their light took a colour channel to full value the
//      output keeps it above 1.0 (hdr_merge.h: OutputFloats for an OpenEXR
//      input, LightAboveFull for any other), while every effect uses an
//      additive apply method.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/app/frame_inputs.h"
#include "host/app/image/exr_camera.h"
#include "host/app/image/exr_frame.h"
#include "host/app/image/exr_io.h"
#include "host/app/image/hdr_merge.h"
#include "host/app/scene/param_binding.h"
#include "host/app/image/png_io.h"
#include "host/app/render_camera.h"
#include "host/app/scene/scene_file.h"
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
  //
  // The inputs: the image (inputs.image, else render.image) and the ID
  // channels render.objectId and render.materialId name. When the image is
  // an EXR and an ID source is not named, the image's own channel of a
  // common name is used (FindIdChannel), and inputs.note says which. When
  // render.camera is empty and the EXR image has camera attributes, they
  // give the view and projection; without them the first camera node
  // renders, and a scene with neither is an error that says what is
  // missing.
  RenderSession(const SceneDesc& scene, const ClassLookup& lookup, const std::vector<SetOption>& sets = {},
                const InputOptions& inputs = {});
  // Deletes the effects (and with them their parameter blocks). The
  // session must die before the modules that made its effects are unloaded.
  ~RenderSession();
  RenderSession(const RenderSession&) = delete;
  RenderSession& operator=(const RenderSession&) = delete;

  const SceneDesc& Scene() const { return scene_; }
  Interface& Host() { return ip_; }
  // The camera node that renders; null when the input file's camera does.
  INode* Camera() const { return camera_; }
  // The input file's camera when it renders.
  const std::optional<FileCamera>& InputCamera() const { return fileCamera_; }
  // The render size: the scene's, or, for the built-in scene, the size of
  // the input image read last.
  int Width() const { return scene_.render.width; }
  int Height() const { return scene_.render.height; }
  // The scene's ticks per frame (BuildScene's 4800 / fps; 160 at 30 fps),
  // which places keys and frame times.
  int TicksPerFrame() const { return ticksPerFrame_; }
  // True when the inputs are read for each frame (a name with a frame
  // pattern); the input accessors below then describe the frame rendered
  // last.
  bool PerFrameInputs() const { return perFrameInputs_; }

  // The frame's time in ticks. Throws InputError when it does not fit the
  // host's 32-bit time.
  TimeValue FrameTime(int frame) const;

  // 8 for an 8-bit input image, else 16.
  int DefaultOutputDepth() const;

  // The input image as read (null without one), and, for an EXR input, the
  // file's own floats and sample type.
  const RgbaImage* InputImage() const { return in_.Image(); }
  const ExrRgbaImage* InputExr() const { return in_.Exr(); }
  // What an EXR output of the frame needs of its input (exr_frame.h).
  ExrFrameInput ExrInput() const;

  // The effects in scene order, each with its name and class as in the scene.
  const std::vector<Effect*>& Effects() const { return effects_; }

  // Reads the inputs of `frame` when they have frame patterns and are not
  // read yet (RenderFrame calls it). Throws InputError.
  void LoadFrameInputs(int frame);

  // Renders `frame`; `extraChannels` (BMM_CHAN_*) are allocated besides the
  // effects' own. Null when the callback asked to stop. Throws SystemError
  // naming the effect and its message when an effect logged an error to the
  // host's log during the frame (it could not do its work, e.g. "not enough
  // memory for 10000000 stars"): such a frame must not be written.
  std::unique_ptr<Bitmap> RenderFrame(int frame, CheckAbortCallback* abort, ULONG extraChannels = 0);

  // The floats of the frame RenderFrame made last, for an OpenEXR input
  // (1.0 = file white, premultiplied; see MergeEffectOutput); empty for any
  // other input.
  const std::vector<FloatRgba>& OutputFloats() const { return outputFloats_; }

  // Whether frames get the light layer (see 8. above). Off by default.
  void SetStarLightLayer(bool on) { starLightLayer_ = on; }
  bool StarLightLayer() const { return starLightLayer_; }
  // True when an effect takes its stars from a catalogue (its `starsource`
  // is 1) at any of `frames`: such a render writes the stars.* layer into
  // OpenEXR outputs unasked.
  bool UsesCatalogueStars(const std::vector<int>& frames) const;
  // Throws InputError naming the effect and the file when an effect that
  // draws catalogue stars at any of `frames` names a catalogue the host's
  // file service cannot open: what the first frame would stop on, found
  // before anything starts (a farm submission). The file's contents are
  // the effect's to check.
  void CheckCatalogues(const std::vector<int>& frames) const;
  // For a frame without an OpenEXR input: the pixels of the frame
  // RenderFrame made last whose floats keep star light above full value
  // (LightAboveFull); empty otherwise.
  const std::vector<PixelFloats>& LightAboveFullValue() const { return lightAboveFull_; }

  // The warnings the effects logged while rendering since the last call,
  // as "<effect>: <message>", oldest first.
  std::vector<std::string> TakeLogWarnings();

 private:
  // Reads the inputs: of `frame` (patterns filled in), or the fixed names;
  // then chooses the camera.
  void LoadInputs(std::optional<int> frame);
  void ChooseCamera();
  // The frame's bitmap before the effects: `pixels` (null: the background),
  // the G-buffer `channels` filled from the ID inputs, the render camera.
  std::unique_ptr<Bitmap> MakeFrameBitmap(TimeValue t, const BMM_Color_64* pixels, ULONG channels);
  // False when the abort callback asked to stop.
  // Reads the host's log after each effect (see 6. above).
  bool ApplyEffects(TimeValue t, int frame, Bitmap& bitmap, CheckAbortCallback* abort);
  void Note(const InputOptions& inputs, const std::string& line) const {
    if (inputs.note && !notesGiven_) inputs.note(line);
  }
  void CreateEffects(const ClassLookup& lookup, const std::vector<SetOption>& sets);
  // Whether every active effect at t composites by an additive apply
  // method, so that the plate's float plus the light layer is what a
  // clipped channel stands for (see hdr_merge.h).
  bool AdditiveLight(TimeValue t) const;

  SceneDesc scene_;
  Interface ip_;
  BitmapManager manager_;
  INode* camera_ = nullptr;
  std::optional<FileCamera> fileCamera_;
  InputOptions inputs_;
  bool perFrameInputs_ = false;
  std::optional<int> loadedFrame_;  // the frame whose inputs are read (per-frame inputs)
  bool notesGiven_ = false;         // notes are given for the first inputs read only
  int ticksPerFrame_ = 0;
  std::vector<Effect*> effects_;
  std::array<double, 4> background_{};  // render.background in the frame's space (InputOptions::sceneColours)
  FrameInputs in_;  // the input files read last
  std::vector<FloatRgba> outputFloats_;
  bool starLightLayer_ = false;
  std::vector<PixelFloats> lightAboveFull_;
  std::vector<std::string> logWarnings_;
};

// The background colour on the bitmap's 16-bit scale (1.0 = 65280, rounded).
BMM_Color_64 BackgroundPixel(const std::array<double, 4>& rgba);

}  // namespace velumbra
