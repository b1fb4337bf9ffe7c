// The model behind `velumbra panel`: a scene's effects with their rollouts
// open in the host's automatic UI, driven by requests from the browser.
//
// The panel holds a RenderSession (nodes, effects with their bound
// parameters, input images) and, for each effect, one IRendParams (the
// effect's panel) with the dialog the effect built in it. Every edit is
// user input on a control of a rollout (host/sdk/custom_controls.h), so the
// parameter maps write the block exactly as they do in the host: ranges
// clamp, enable lists apply, pick buttons take only the nodes their filter
// accepts. The preview renders the scene's frame with the blocks as they
// are; render-pass writes (the scintillation lock, the recognised camera)
// show in the controls afterwards.
//
// Colour: the preview is what `velumbra render` writes to PNG without colour
// options (host/app/colour/colour_plan.h). With an OpenEXR plate the frame
// is scene-linear: the colours the controls edit (display values) are
// converted into it for each preview render and put back afterwards, so the
// controls and a saved scene keep the values the user chose; the preview
// and the plate are shown through the config's default display.
//
// Not thread-safe: the server serialises every call.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/app/base/app_error.h"
#include "host/app/colour/colour_plan.h"
#include "host/app/render_frame.h"
#include "host/app/scene/scene_file.h"
#include "host/sdk/iparamm2.h"

namespace velumbra {

// What the preview shows through the frame's transparent pixels: a
// checkerboard (where transparency is), black (how faint stars look over a
// dark plate; the default), or the scene's plate (render.image).
enum class PreviewBackground { Checkerboard, Black, Plate };

// "checkerboard", "black", "plate".
const char* PreviewBackgroundName(PreviewBackground background);

// Save as would replace an existing file that the request did not agree
// to overwrite.
class FileExists : public InputError {
 public:
  using InputError::InputError;
};

// The whole number request[name], in lo..hi. InputError naming the field
// when it is missing, not a whole number (a string, 1.5, 1e300) or out of
// the range, so that no request value wraps into another.
int RequestInt(const nlohmann::json& request, const char* name, int lo, int hi);

class PanelModel {
 public:
  // Builds the session and opens every effect's rollouts at the scene's
  // render frame. `sceneFile` is where Save writes by default (empty for
  // the built-in scene: Save then needs a path). Throws InputError when the
  // scene cannot be built or an effect's rollouts cannot (the message of
  // the automatic UI names the template control and the parameter).
  PanelModel(const SceneDesc& scene, const ClassLookup& lookup, std::filesystem::path sceneFile);
  ~PanelModel();
  PanelModel(const PanelModel&) = delete;
  PanelModel& operator=(const PanelModel&) = delete;

  // The whole panel as JSON: scene, frame, the effects with their rollouts
  // (title, open state, size in pixels) and every control (kind, text,
  // pixel rectangle, enabled, value, bound parameter), and the pick mode
  // with its prompt and candidate nodes.
  nlohmann::json State() const;

  // User input on one control:
  //   {"effect": 0, "map": 0, "id": 1491, "action": A, "value": V}
  // with A one of "text" (V the typed text), "spin" (V arrow clicks, +/-),
  // "slide" (V the slider position), "reset", "color" (V [r, g, b] in
  // 0..1 or "#rrggbb"), "click". Throws InputError naming the request for
  // an unknown effect, map, control or action, a malformed value, and
  // input the control refuses (disabled, not a number).
  void Input(const nlohmann::json& request);
  // Completes the pick mode of effect `effect` with the node named `node`,
  // or cancels it when `node` is empty. InputError when there is no pick
  // mode, no such node, or the button's filter refuses the node.
  void Pick(int effect, const std::string& node);
  // Rolls rollout `map` of `effect` up (open = false) or down.
  void SetRollupOpen(int effect, MapID map, bool open);
  // The panel's close-all command (About stays open: DONTAUTOCLOSE).
  void CloseAll(int effect);

  int Frame() const { return frame_; }
  // Shows and edits the parameters at `frame`. InputError when the frame
  // does not fit the host's time.
  void SetFrame(int frame);
  // First and last frame of the time slider: 0 .. 100, widened to every key
  // of the effects' blocks and of the scene's nodes.
  std::pair<int, int> FrameRange() const;

  // Renders the current frame and encodes it as an 8-bit RGBA PNG (straight
  // alpha: the page lays it over the chosen background).
  std::string RenderPreviewPng();

  PreviewBackground Background() const { return background_; }
  // By name (PreviewBackgroundName). InputError for another name, and for
  // "plate" when the scene has no input image.
  void SetBackground(const std::string& name);
  bool HasPlate() const { return session_->InputImage() != nullptr; }
  // The scene's input image as an 8-bit RGBA PNG; InputError without one.
  std::string PlatePng() const;
  // Bitmap resource `id` of effect `effect`'s module (the About picture) as
  // a PNG; InputError when the module has no such bitmap.
  std::string BitmapPng(int effect, int id) const;

  // The scene with each effect's params as its block holds them now: the
  // params the scene gave, in their order, then every other parameter that
  // differs from its default (node parameters without a node are left out).
  SceneDesc CurrentScene() const;
  // Save: writes CurrentScene atomically to the scene file the panel was
  // opened with, and returns it. InputError when there is none (the
  // built-in scene: save it as a file first); SystemError when the write
  // fails (the old file is untouched).
  std::filesystem::path Save();
  // Save as: writes CurrentScene to `file`, whose folder must exist (no
  // folder is made on a request's word). Refuses with InputError the
  // scene's inputs (its image and ID images: a save would destroy them)
  // and a name that is a folder; an existing file only with `overwrite`
  // (else FileExists, so that the page can ask the user). An existing
  // file's mode is kept and a link is written through (AtomicFile). The
  // panel's own scene file stays what Save writes, unless it had none.
  std::filesystem::path SaveAs(const std::filesystem::path& file, bool overwrite);
  const std::filesystem::path& SceneFile() const { return sceneFile_; }
  // True after an edit (input or pick) that no Save has written yet.
  bool Dirty() const { return dirty_; }

  RenderSession& Session() { return *session_; }
  int NumEffects() const { return static_cast<int>(panels_.size()); }
  IRendParams& RendParams(int effect) const;
  // The open map of a rollout, or null.
  IParamMap2* Map(int effect, MapID map) const;

 private:
  struct EffectPanel;
  EffectPanel& PanelOf(int effect) const;
  TimeValue Time() const;

  SceneDesc scene_;
  std::filesystem::path sceneFile_;
  std::unique_ptr<RenderSession> session_;
  ColourPlan colour_;  // the preview's, as a PNG render of the scene has it
  std::vector<std::unique_ptr<EffectPanel>> panels_;
  int frame_ = 0;
  bool dirty_ = false;
  PreviewBackground background_ = PreviewBackground::Black;
};

}  // namespace velumbra
