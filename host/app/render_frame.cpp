#include "host/app/render_frame.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <string>
#include <utility>

#include "host/app/base/app_error.h"
#include "host/app/base/paths.h"
#include "host/app/base/quoting.h"
#include "host/app/colour/scene_colours.h"
#include "host/app/image/hdr_merge.h"
#include "host/app/output/output_name.h"
#include "host/app/params/radio_labels.h"
#include "host/app/scene/scene_build.h"
#include "host/app/scene/scene_check.h"
#include "host/sdk/file_service.h"
#include "host/sdk/log_sys.h"

namespace velumbra {

namespace {

// The abort callback an effect of a scene with several effects is given:
// its titles say which effect they belong to ("Glints: Computing stars"),
// everything else goes to the host's own callback.
class EffectTitles final : public CheckAbortCallback {
 public:
  EffectTitles(CheckAbortCallback& host, std::string prefix) : host_(host), prefix_(std::move(prefix)) {}
  BOOL Check() override { return host_.Check(); }
  BOOL Progress(int done, int total) override { return host_.Progress(done, total); }
  void SetTitle(const MCHAR* title) override {
    if (!title) return;
    const std::string text = prefix_ + title;
    host_.SetTitle(text.c_str());
  }

 private:
  CheckAbortCallback& host_;
  std::string prefix_;
};

}  // namespace

BMM_Color_64 BackgroundPixel(const std::array<double, 4>& rgba) {
  const auto channel = [](double v) {
    const double x = std::round(v * 65280.0);
    return static_cast<WORD>(std::clamp(x, 0.0, 65535.0));
  };
  return {channel(rgba[0]), channel(rgba[1]), channel(rgba[2]), channel(rgba[3])};
}

RenderSession::RenderSession(const SceneDesc& scene, const ClassLookup& lookup, const std::vector<SetOption>& sets,
                             const InputOptions& inputs)
    : scene_(scene), manager_(&ip_) {
  const BuiltScene built = BuildScene(scene_, ip_);
  camera_ = built.camera;
  ticksPerFrame_ = built.ticksPerFrame;
  // A camera node always carries a CameraObject (BuildScene makes them).
  if (camera_ && (!camera_->GetObjectRef() || camera_->GetObjectRef()->SuperClassID() != CAMERA_CLASS_ID))
    throw InputError(scene_.source + ": /render/camera: the render camera is not a camera");
  inputs_ = inputs;
  // Files the effects' parameters name (a star catalogue) resolve from the
  // scene file's folder, as the scene's own paths do.
  std::error_code ec;
  const std::filesystem::path source(scene_.source);
  GetFileService()->SetFolder(std::filesystem::is_regular_file(source, ec)
                                  ? std::filesystem::absolute(source, ec).parent_path().string()
                                  : std::string());
  const RenderDesc& rd = scene_.render;
  const auto patterned = [](const std::filesystem::path& p) { return HasFrameNumberField(p.string()); };
  perFrameInputs_ = (inputs.image ? patterned(*inputs.image) : rd.image && patterned(*rd.image)) ||
                    (rd.objectId && patterned(rd.objectId->path)) ||
                    (rd.materialId && patterned(rd.materialId->path));
  background_ = ConvertBackground(rd.background, inputs.sceneColours);
  try {
    CreateEffects(lookup, sets);
    // The scene's colours are display values; the effects paint in the frame's space.
    for (Effect* e : effects_)
      if (IParamBlock2* block = e->NumParamBlocks() > 0 ? e->GetParamBlock(0) : nullptr)
        ConvertColourParams(*block, inputs.sceneColours);
    // Fixed inputs are read once, here; inputs with a frame pattern each
    // time a frame renders.
    if (!perFrameInputs_) LoadInputs(std::nullopt);
    notesGiven_ = !perFrameInputs_;
  } catch (...) {
    for (Effect* e : effects_) e->DeleteMe();
    effects_.clear();
    throw;
  }
}

RenderSession::~RenderSession() {
  for (Effect* e : effects_) e->DeleteMe();
}

void RenderSession::CreateEffects(const ClassLookup& lookup, const std::vector<SetOption>& sets) {
  for (size_t i = 0; i < scene_.effects.size(); ++i) {
    const EffectDesc& fx = scene_.effects[i];
    const std::string path = scene_check::Join("/effects", i);
    ClassDesc* cd = lookup ? lookup(fx.className) : nullptr;
    if (!cd)
      throw InputError(scene_.source + ": " + path + "/class: no loaded module provides the class " +
                       Quoted(fx.className) + " (`velumbra info` lists the loaded classes)");
    if (cd->SuperClassID() != RENDER_EFFECT_CLASS_ID)
      throw InputError(scene_.source + ": " + path + "/class: " + Quoted(fx.className) +
                       " is not a render effect");
    // The descriptor's object, cast to the super class's base as the host does.
    auto* effect = static_cast<Effect*>(cd->Create(FALSE));
    if (!effect) throw SystemError("the module could not create an effect of class " + fx.className);
    effects_.push_back(effect);
    effect->name = fx.name;
    IParamBlock2* block = effect->NumParamBlocks() > 0 ? effect->GetParamBlock(0) : nullptr;
    if (!block) {
      if (!fx.params.empty())
        throw InputError(scene_.source + ": " + path + "/params: the class " + Quoted(fx.className) +
                         " has no parameters");
      continue;
    }
    BindParams(*block, fx.params, scene_.source, ip_, ticksPerFrame_);
  }
  // Each --set applies to every effect (or the one it names); at least one
  // must know the name.
  for (const SetOption& set : sets) {
    bool bound = false, named = false;
    for (Effect* effect : effects_) {
      if (!set.effect.empty() && effect->name != set.effect) continue;
      named = true;
      IParamBlock2* block = effect->NumParamBlocks() > 0 ? effect->GetParamBlock(0) : nullptr;
      if (!block || block->FindParamByName(set.param.name) < 0) continue;
      BindParam(*block, set.param, set.Where(), ip_, ticksPerFrame_);
      bound = true;
    }
    if (bound) continue;
    if (effects_.empty()) throw InputError(set.Where() + ": the scene has no effect to set a parameter of");
    if (!named) {
      std::string names;
      for (const EffectDesc& fx : scene_.effects) names += (names.empty() ? "" : ", ") + Quoted(fx.name);
      throw InputError(set.Where() + ": the scene has no effect named " + Quoted(set.effect) + " (its effects: " +
                       names + ")");
    }
    Effect* first = effects_.front();
    if (!set.effect.empty())
      for (Effect* effect : effects_)
        if (effect->name == set.effect) first = effect;
    IParamBlock2* block = first->GetParamBlock(0);
    if (block) BindParam(*block, set.param, set.Where(), ip_, ticksPerFrame_);  // reports the unknown name
    throw InputError(set.Where() + ": no effect of the scene has a parameter " + Quoted(set.param.name));
  }
}

void RenderSession::LoadInputs(std::optional<int> frame) {
  fileCamera_.reset();
  in_ = FrameInputs();  // the last frame's images go before the next are read
  in_ = FrameInputs(scene_.render, scene_.source, inputs_, frame, [this](const std::string& line) { Note(inputs_, line); });
  ChooseCamera();
}

void RenderSession::ChooseCamera() {
  const InputOptions& inputs = inputs_;
  const RenderDesc& rd = scene_.render;
  const std::string& src = scene_.source;
  if (!rd.camera.empty()) return;  // the scene names its camera: BuildScene found it
  const std::filesystem::path& file = in_.ImageFile();
  const ExrCamera none;
  const ExrCamera& attributes = in_.Exr() ? in_.Exr()->camera : none;
  const bool view = attributes.worldToCamera.has_value(), projection = attributes.worldToNDC.has_value();
  std::string instead;
  if (camera_ && !inputs.builtInScene)
    instead = std::string("; set render.camera to \"") + camera_->GetName() + "\" to render from the scene's camera";
  if (view && projection) {
    try {
      fileCamera_ = CameraFromExr(attributes, rd.width, rd.height, inputs.exrCamera, file.string());
    } catch (const InputError& e) {
      throw InputError(in_.ImageLabel() + ": " + e.what() + instead);
    }
    Note(inputs, "camera from " + file.string() + " (worldToCamera and worldToNDC, " +
                     ExrCameraConventionName(fileCamera_->convention) + " convention)");
    return;
  }
  if (view || projection) {
    const std::string missing = view ? "worldToNDC (the projection)" : "worldToCamera (the view)";
    if (!camera_)
      throw InputError(in_.ImageLabel() + ": " + file.string() + " has " + (view ? "worldToCamera" : "worldToNDC") +
                       " but no " + missing + " attribute, and " + src + " has no camera node to render from");
    Note(inputs, file.string() + " has no " + missing + " attribute: the scene's camera \"" + camera_->GetName() +
                     "\" renders");
    return;
  }
  if (camera_) return;
  std::string why;
  if (in_.Exr()) why = file.string() + " has neither a worldToCamera nor a worldToNDC attribute";
  else if (in_.Image()) why = "the input image " + file.string() + " is a PNG, which holds no camera";
  else why = "there is no input image to take a camera from (an OpenEXR image with worldToCamera and worldToNDC)";
  throw InputError(src + ": /render/camera: no camera to render from: the scene has no camera node, and " + why);
}

TimeValue RenderSession::FrameTime(int frame) const {
  const auto ticks = FrameToTicks(frame, ticksPerFrame_);
  if (!ticks)
    throw InputError("frame " + std::to_string(frame) + " is outside the host's time range at " +
                     scene_check::FormatNumber(scene_.fps) + " fps");
  return *ticks;
}

ExrFrameInput RenderSession::ExrInput() const {
  ExrFrameInput in;
  in.image = InputExr();
  in.plate = in_.Plate();
  in.objectChannel = in_.ObjectChannel();
  in.materialChannel = in_.MaterialChannel();
  in.objectIds = in_.ObjectIds() ? in_.ObjectIds()->values.data() : nullptr;
  in.materialIds = in_.MaterialIds() ? in_.MaterialIds()->values.data() : nullptr;
  in.keepInputCamera = fileCamera_.has_value();
  in.outputFloats = outputFloats_;
  in.lightAboveFull = lightAboveFull_;
  return in;
}

int RenderSession::DefaultOutputDepth() const {
  const RgbaImage* image = InputImage();
  return image ? image->DefaultOutputDepth() : 16;
}

void RenderSession::LoadFrameInputs(int frame) {
  if (!perFrameInputs_ || loadedFrame_ == frame) return;
  loadedFrame_.reset();
  LoadInputs(frame);
  loadedFrame_ = frame;
  notesGiven_ = true;
}

std::unique_ptr<Bitmap> RenderSession::MakeFrameBitmap(TimeValue t, const BMM_Color_64* pixels, ULONG channels) {
  const int w = Width(), h = Height();
  auto bitmap = std::make_unique<Bitmap>(w, h, &manager_);
  BitmapStorage* storage = bitmap->Storage();
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
  if (pixels) std::copy_n(pixels, count, storage->Pixels());
  else std::fill_n(storage->Pixels(), count, BackgroundPixel(background_));

  storage->CreateChannels(channels);
  ULONG type = 0;
  const auto fill = [&]<class T>(const std::optional<IdImage<T>>& ids, ULONG channel) {
    if (ids && (channels & channel))
      std::copy(ids->values.begin(), ids->values.end(), static_cast<T*>(storage->GetChannel(channel, type)));
  };
  fill(in_.ObjectIds(), BMM_CHAN_NODE_ID);
  fill(in_.MaterialIds(), BMM_CHAN_MTL_ID);

  if (fileCamera_) SetFileRenderInfo(*storage->AllocRenderInfo(), *fileCamera_, t);
  else SetRenderCamera(*storage->AllocRenderInfo(), *camera_, t, w, h);
  return bitmap;
}

bool RenderSession::ApplyEffects(TimeValue t, int frame, Bitmap& bitmap, CheckAbortCallback* abort) {
  LogSys& log = *GetHostLog();
  for (size_t i = 0; i < effects_.size(); ++i) {
    Effect* e = effects_[i];
    if (!e->Active(t)) continue;
    if (abort && effects_.size() > 1) {
      EffectTitles titled(*abort, (e->name.empty() ? "effect " + std::to_string(i + 1) : e->name) + ": ");
      e->Apply(t, &bitmap, nullptr, &titled);
    } else {
      e->Apply(t, &bitmap, nullptr, abort);
    }
    std::string errors;
    bool badInput = false;
    for (const LogRecord& entry : log.Take()) {
      const std::string text = (entry.title.empty() ? e->name : entry.title) + ": " + entry.message;
      if (entry.type & SYSLOG_ERROR) {
        errors += (errors.empty() ? "" : "; ") + text;
        badInput |= (entry.type & SYSLOG_INPUT) != 0;
      } else if (entry.type & SYSLOG_WARN) {
        logWarnings_.push_back(text);
      }
    }
    // The effect survived, but its result is wrong or missing: the frame
    // must not pass for a render. A file or text the user gave it is the
    // user's to fix.
    if (!errors.empty()) {
      const std::string message = "frame " + std::to_string(frame) + ": " + errors;
      if (badInput) throw InputError(message);
      throw SystemError(message);
    }
    if (abort && abort->Check()) return false;
  }
  return true;
}

std::unique_ptr<Bitmap> RenderSession::RenderFrame(int frame, CheckAbortCallback* abort, ULONG extraChannels) {
  const TimeValue t = FrameTime(frame);
  LoadFrameInputs(frame);
  ULONG channels = extraChannels;
  for (Effect* e : effects_)
    if (e->Active(t)) channels |= e->GBufferChannelsRequired(t);

  LogSys& log = *GetHostLog();
  log.Take();  // entries of earlier work are not this frame's

  outputFloats_.clear();
  lightAboveFull_.clear();
  const std::vector<BMM_Color_64>& hdr = in_.HdrFrame();
  const ExrRgbaImage* exr = in_.Exr();
  const BMM_Color_64* pixels = nullptr;
  if (!hdr.empty()) pixels = hdr.data();
  else if (const RgbaImage* image = InputImage()) pixels = image->pixels.data();
  std::unique_ptr<Bitmap> bitmap = MakeFrameBitmap(t, pixels, channels);
  if (starLightLayer_ && !bitmap->CreateLightLayer())
    throw SystemError("frame " + std::to_string(frame) + ": not enough memory for the star light layer (" +
                      std::to_string(Width()) + " x " + std::to_string(Height()) + " pixels of four floats)");
  if (!ApplyEffects(t, frame, *bitmap, abort)) return nullptr;
  BitmapStorage& storage = *bitmap->Storage();
  const size_t count = static_cast<size_t>(Width()) * static_cast<size_t>(Height());
  const std::span<const BMM_Color_64> output(storage.Pixels(), count);
  // The star light the 16-bit frame clipped (hdr_merge.h).
  const BMM_Color_fl* lightLayer = storage.LightLayer();
  const bool aboveFull = lightLayer && AdditiveLight(t);
  const std::span<const BMM_Color_fl> light(lightLayer, lightLayer ? count : 0);
  if (!exr) {
    if (aboveFull) {
      const BMM_Color_64 background = BackgroundPixel(background_);
      lightAboveFull_ = LightAboveFull(pixels ? std::span<const BMM_Color_64>(pixels, count)
                                              : std::span<const BMM_Color_64>(&background, 1),
                                       output, light);
    }
    return bitmap;
  }

  if (hdr.empty()) {
    outputFloats_ = MergeEffectOutput(exr->floats, exr->pixels, output);
    if (aboveFull) KeepLightAboveFull(outputFloats_, exr->floats, output, light);
    return bitmap;
  }
  // Channels beyond the 16-bit range go through the effects a second time at
  // the probe level (see HdrEffectFrame); the probe's G-buffer starts from
  // the inputs again, so both passes see the same masks.
  const std::vector<BMM_Color_64> probeIn = HdrEffectFrame(exr->floats, exr->pixels, kHdrProbeLevel);
  const std::unique_ptr<Bitmap> probe = MakeFrameBitmap(t, probeIn.data(), channels);
  if (!ApplyEffects(t, frame, *probe, abort)) return nullptr;
  outputFloats_ = MergeEffectOutput(exr->floats, hdr, output,
                                    std::span<const BMM_Color_64>(probe->Storage()->Pixels(), count));
  if (aboveFull) KeepLightAboveFull(outputFloats_, exr->floats, output, light);
  // The 16-bit frame (for PNG outputs and the preview) shows the merged
  // light, clamped as on reading.
  for (size_t i = 0; i < count; ++i) {
    BMM_Color_64& p = storage.Pixels()[i];
    const FloatRgba& f = exr->floats[i];
    if (BeyondFrameRange(f.r)) p.r = FloatTo16(outputFloats_[i].r);
    if (BeyondFrameRange(f.g)) p.g = FloatTo16(outputFloats_[i].g);
    if (BeyondFrameRange(f.b)) p.b = FloatTo16(outputFloats_[i].b);
  }
  return bitmap;
}

bool RenderSession::UsesCatalogueStars(const std::vector<int>& frames) const {
  for (Effect* e : effects_) {
    IParamBlock2* block = e->NumParamBlocks() > 0 ? e->GetParamBlock(0) : nullptr;
    const int index = block ? block->FindParamByName("starsource") : -1;
    if (index < 0) continue;
    for (int frame : frames) {
      const TimeValue t = FrameTime(frame);
      int source = 0;
      Interval valid = FOREVER;
      if (e->Active(t) && block->GetValue(block->IndexToID(index), t, source, valid) && source == 1) return true;
    }
  }
  return false;
}

void RenderSession::CheckCatalogues(const std::vector<int>& frames) const {
  for (size_t i = 0; i < effects_.size(); ++i) {
    Effect* e = effects_[i];
    IParamBlock2* block = e->NumParamBlocks() > 0 ? e->GetParamBlock(0) : nullptr;
    const int source = block ? block->FindParamByName("starsource") : -1;
    const int file = block ? block->FindParamByName("catalogfile") : -1;
    if (source < 0 || file < 0) continue;
    for (int frame : frames) {
      const TimeValue t = FrameTime(frame);
      int value = 0;
      Interval valid = FOREVER;
      if (!e->Active(t) || !block->GetValue(block->IndexToID(source), t, value, valid) || value != 1) continue;
      const MCHAR* name = block->GetStr(block->IndexToID(file), t);
      FileStamp stamp;
      std::string error;
      if (GetFileService()->Stamp(name ? name : "", stamp, error) != FILE_OK)
        throw InputError(scene_.source + ": " + scene_check::Join("/effects", i) + "/params/catalogfile: " +
                         (error.empty() ? std::string("no star catalogue named") : error) +
                         " (docs/sky.md names the catalogues and their Debian packages)");
      break;
    }
  }
}

bool RenderSession::AdditiveLight(TimeValue t) const {
  for (Effect* e : effects_) {
    if (!e->Active(t)) continue;
    IParamBlock2* block = e->NumParamBlocks() > 0 ? e->GetParamBlock(0) : nullptr;
    const int index = block ? block->FindParamByName("drawmode") : -1;
    if (index < 0) continue;
    int method = 0;
    Interval valid = FOREVER;
    const ParamDef& def = *block->GetDesc()->GetParamDefByIndex(index);
    if (!block->GetValue(def.id, t, method, valid)) return false;
    // The module names its apply methods ("Additive With Alpha", "Simple
    // Additive", ..., "Simple Apply", "Apply As Filter").
    const std::vector<std::string> labels = RadioLabels(*block->GetDesc(), def);
    if (method < 0 || static_cast<size_t>(method) >= labels.size() ||
        labels[static_cast<size_t>(method)].find("Additive") == std::string::npos)
      return false;
  }
  return true;
}

std::vector<std::string> RenderSession::TakeLogWarnings() {
  std::vector<std::string> out;
  out.swap(logWarnings_);
  return out;
}

}  // namespace velumbra
