#include "host/app/render_frame.h"

#include <algorithm>
#include <cmath>

#include "host/app/app_error.h"
#include "host/app/scene_build.h"
#include "host/app/scene_check.h"

namespace velumbra {

namespace {

// Re-throws an image reader's error with the scene's place of the file.
template <class Fn>
auto ReadInput(const std::string& where, Fn&& read) {
  try {
    return read();
  } catch (const InputError& e) {
    throw InputError(where + ": " + e.what());
  }
}

void CheckSize(const std::string& where, const std::filesystem::path& file, int width, int height,
               const RenderDesc& rd) {
  if (width != rd.width || height != rd.height)
    throw InputError(where + ": " + file.string() + " is " + std::to_string(width) + " x " + std::to_string(height) +
                     " pixels, but the render is " + std::to_string(rd.width) + " x " + std::to_string(rd.height) +
                     " (/render/width, /render/height)");
}

}  // namespace

BMM_Color_64 BackgroundPixel(const std::array<double, 4>& rgba) {
  const auto channel = [](double v) {
    const double x = std::round(v * 65280.0);
    return static_cast<WORD>(std::clamp(x, 0.0, 65535.0));
  };
  return {channel(rgba[0]), channel(rgba[1]), channel(rgba[2]), channel(rgba[3])};
}

void SetRenderCamera(RenderInfo& info, INode& camera, TimeValue t, int width, int height) {
  const Matrix3 camToWorld = camera.GetNodeTM(t);
  const Matrix3 worldToCam = Inverse(camToWorld);
  info.worldToCam[0] = info.worldToCam[1] = worldToCam;
  info.camToWorld[0] = info.camToWorld[1] = camToWorld;
  info.renderTime[0] = info.renderTime[1] = t;
  info.fieldRender = FALSE;
  const auto* object = static_cast<const CameraObject*>(camera.GetObjectRef());
  info.SetPerspective(width, height, object->GetFOV());
}

RenderSession::RenderSession(const SceneDesc& scene, const ClassLookup& lookup, const std::vector<SetOption>& sets)
    : scene_(scene), manager_(&ip_) {
  const BuiltScene built = BuildScene(scene_, ip_);
  camera_ = built.camera;
  ticksPerFrame_ = built.ticksPerFrame;
  // A camera node always carries a CameraObject (BuildScene makes them).
  if (!camera_ || !camera_->GetObjectRef() || camera_->GetObjectRef()->SuperClassID() != CAMERA_CLASS_ID)
    throw InputError(scene_.source + ": /render/camera: the render camera is not a camera");
  try {
    CreateEffects(lookup, sets);
    LoadInputs();
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
                       scene_check::Quoted(fx.className) + " (`velumbra info` lists the loaded classes)");
    if (cd->SuperClassID() != RENDER_EFFECT_CLASS_ID)
      throw InputError(scene_.source + ": " + path + "/class: " + scene_check::Quoted(fx.className) +
                       " is not a render effect");
    // The descriptor's object, cast to the super class's base as the host does.
    auto* effect = static_cast<Effect*>(cd->Create(FALSE));
    if (!effect) throw SystemError("the module could not create an effect of class " + fx.className);
    effects_.push_back(effect);
    effect->name = fx.name;
    IParamBlock2* block = effect->NumParamBlocks() > 0 ? effect->GetParamBlock(0) : nullptr;
    if (!block) {
      if (!fx.params.empty())
        throw InputError(scene_.source + ": " + path + "/params: the class " + scene_check::Quoted(fx.className) +
                         " has no parameters");
      continue;
    }
    BindParams(*block, fx.params, scene_.source, ip_, ticksPerFrame_);
  }
  // Each --set applies to every effect; at least one must know the name.
  for (const SetOption& set : sets) {
    bool bound = false;
    for (Effect* effect : effects_) {
      IParamBlock2* block = effect->NumParamBlocks() > 0 ? effect->GetParamBlock(0) : nullptr;
      if (!block || block->FindParamByName(set.param.name) < 0) continue;
      BindParam(*block, set.param, set.Where(), ip_, ticksPerFrame_);
      bound = true;
    }
    if (bound) continue;
    if (effects_.empty()) throw InputError(set.Where() + ": the scene has no effect to set a parameter of");
    IParamBlock2* block = effects_.front()->GetParamBlock(0);
    if (block) BindParam(*block, set.param, set.Where(), ip_, ticksPerFrame_);  // reports the unknown name
    throw InputError(set.Where() + ": no effect of the scene has a parameter " + scene_check::Quoted(set.param.name));
  }
}

void RenderSession::LoadInputs() {
  const RenderDesc& rd = scene_.render;
  const std::string& src = scene_.source;
  if (rd.image) {
    const std::string where = src + ": /render/image";
    if (IsExrFile(*rd.image)) {
      exrImage_ = ReadInput(where, [&] { return ReadExrRgba(*rd.image); });
      image_ = static_cast<const RgbaImage&>(*exrImage_);
    } else {
      image_ = ReadInput(where, [&] { return ReadPngRgba(*rd.image); });
    }
    CheckSize(where, *rd.image, image_->width, image_->height, rd);
  }
  if (rd.objectId) {
    const std::string where = src + ": /render/objectId";
    const ImageSource& s = *rd.objectId;
    objectIds_ = ReadInput(where, [&] {
      return IsExrFile(s.path) ? IdImage<WORD>(ReadExrObjectIds(s.path, s.channel)) : ReadObjectIdPng(s.path);
    });
    CheckSize(where, s.path, objectIds_->width, objectIds_->height, rd);
  }
  if (rd.materialId) {
    const std::string where = src + ": /render/materialId";
    const ImageSource& s = *rd.materialId;
    materialIds_ = ReadInput(where, [&] {
      return IsExrFile(s.path) ? IdImage<UBYTE>(ReadExrMaterialIds(s.path, s.channel)) : ReadMaterialIdPng(s.path);
    });
    CheckSize(where, s.path, materialIds_->width, materialIds_->height, rd);
  }
  if ((rd.objectId && !rd.objectId->channel.empty() && !IsExrFile(rd.objectId->path)) ||
      (rd.materialId && !rd.materialId->channel.empty() && !IsExrFile(rd.materialId->path)))
    throw InputError(src + ": /render: a channel name is only meaningful for an EXR file");
}

TimeValue RenderSession::FrameTime(int frame) const {
  const auto ticks = FrameToTicks(frame, ticksPerFrame_);
  if (!ticks)
    throw InputError("frame " + std::to_string(frame) + " is outside the host's time range at " +
                     scene_check::FormatNumber(scene_.fps) + " fps");
  return *ticks;
}

int RenderSession::DefaultOutputDepth() const { return image_ ? image_->DefaultOutputDepth() : 16; }

std::unique_ptr<Bitmap> RenderSession::RenderFrame(int frame, CheckAbortCallback* abort, ULONG extraChannels) {
  const TimeValue t = FrameTime(frame);
  const int w = Width(), h = Height();
  auto bitmap = std::make_unique<Bitmap>(w, h, &manager_);
  BitmapStorage* storage = bitmap->Storage();

  if (image_) {
    std::copy(image_->pixels.begin(), image_->pixels.end(), storage->Pixels());
  } else {
    std::fill_n(storage->Pixels(), static_cast<size_t>(w) * static_cast<size_t>(h),
                BackgroundPixel(scene_.render.background));
  }

  ULONG channels = extraChannels;
  for (Effect* e : effects_)
    if (e->Active(t)) channels |= e->GBufferChannelsRequired(t);
  storage->CreateChannels(channels);
  ULONG type = 0;
  if (objectIds_ && (channels & BMM_CHAN_NODE_ID)) {
    auto* ids = static_cast<WORD*>(storage->GetChannel(BMM_CHAN_NODE_ID, type));
    std::copy(objectIds_->values.begin(), objectIds_->values.end(), ids);
  }
  if (materialIds_ && (channels & BMM_CHAN_MTL_ID)) {
    auto* ids = static_cast<UBYTE*>(storage->GetChannel(BMM_CHAN_MTL_ID, type));
    std::copy(materialIds_->values.begin(), materialIds_->values.end(), ids);
  }

  SetRenderCamera(*storage->AllocRenderInfo(), *camera_, t, w, h);

  for (Effect* e : effects_) {
    if (!e->Active(t)) continue;
    e->Apply(t, bitmap.get(), nullptr, abort);
    if (abort && abort->Check()) return nullptr;
  }
  return bitmap;
}

}  // namespace velumbra
