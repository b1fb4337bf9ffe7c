#include "host/app/frame_inputs.h"

#include <utility>

#include "host/app/base/app_error.h"
#include "host/app/base/paths.h"
#include "host/app/image/hdr_merge.h"
#include "host/app/image/png_io.h"
#include "host/app/output/output_name.h"

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

// `sizeWhere` names where the render's size comes from.
void CheckSize(const std::string& where, const std::filesystem::path& file, int width, int height,
               const RenderDesc& rd, const std::string& sizeWhere) {
  if (width != rd.width || height != rd.height)
    throw InputError(where + ": " + file.string() + " is " + std::to_string(width) + " x " + std::to_string(height) +
                     " pixels, but the render is " + std::to_string(rd.width) + " x " + std::to_string(rd.height) +
                     " (" + sizeWhere + ")");
}

// "object IDs" or "material IDs".
std::string IdsName(IdKind kind) { return kind == IdKind::Object ? "object IDs" : "material IDs"; }

}  // namespace

FrameInputs::FrameInputs(RenderDesc& rd, const std::string& src, const InputOptions& inputs,
                         std::optional<int> frame, const Notes& note) {
  // Each frame's files by the frame-number rule of every file name.
  const auto forFrame = [&](const std::filesystem::path& p) {
    return frame ? std::filesystem::path(OutputNameForFrame(p.string(), *frame)) : p;
  };
  const auto forFrameSource = [&](const std::optional<ImageSource>& s) {
    std::optional<ImageSource> out = s;
    if (out) out->path = forFrame(out->path);
    return out;
  };
  const std::string ofFrame = frame ? " (frame " + std::to_string(*frame) + ")" : "";
  std::optional<std::filesystem::path> imageFile = inputs.image ? inputs.image : rd.image;
  if (imageFile) imageFile = forFrame(*imageFile);
  const std::optional<ImageSource> objectSource = forFrameSource(rd.objectId);
  const std::optional<ImageSource> materialSource = forFrameSource(rd.materialId);
  imageLabel_ = (inputs.image ? std::string("--input") : src + ": /render/image") + ofFrame;
  imageFile_ = imageFile.value_or(std::filesystem::path());
  bool objectsRead = false, materialsRead = false;
  if (imageFile && IsExrFile(*imageFile)) {
    // The image and the ID channels it holds come in one pass over the file.
    ExrFrame frame = ReadInput(imageLabel_, [&] {
      ExrReader reader(*imageFile);
      const auto channelFor = [&](const std::optional<ImageSource>& named, IdKind kind, bool& read) {
        std::string channel;
        if (named && !(IsExrFile(named->path) && SameFile(named->path, *imageFile))) return channel;
        if (named && !named->channel.empty()) {
          channel = named->channel;
        } else if (std::optional<std::string> found = reader.FindIdChannel(kind)) {
          channel = *found;
          note(IdsName(kind) + " from " + imageFile->string() + ":" + channel + " (found by its name)");
        } else {
          return channel;  // named without a channel and none found: read below, which says why
        }
        read = true;
        return channel;
      };
      objectChannel_ = channelFor(objectSource, IdKind::Object, objectsRead);
      materialChannel_ = channelFor(materialSource, IdKind::Material, materialsRead);
      return reader.ReadFrame(objectChannel_, materialChannel_);
    });
    if (inputs.keepExrPlate) plate_ = ReadInput(imageLabel_, [&] { return ExrPlate::Read(*imageFile); });
    exrImage_ = std::move(frame.image);
    if (AnyBeyondFrameRange(exrImage_->floats)) hdrFrame_ = HdrEffectFrame(exrImage_->floats, exrImage_->pixels, 0);
    objectIds_ = std::move(frame.objectIds);
    materialIds_ = std::move(frame.materialIds);
  } else if (imageFile) {
    ImageReadOptions options;
    options.alpha = inputs.pngAlpha;
    pngImage_ = ReadInput(imageLabel_, [&] { return ReadPngRgba(*imageFile, options); });
  }
  if (const RgbaImage* image = Image()) {
    if (inputs.builtInScene) {
      if (image->width > 65535 || image->height > 65535)
        throw InputError(imageLabel_ + ": " + imageFile->string() + " is " + std::to_string(image->width) + " x " +
                         std::to_string(image->height) + " pixels; a render is at most 65535 pixels on a side");
      rd.width = image->width;
      rd.height = image->height;
    } else {
      CheckSize(imageLabel_, *imageFile, image->width, image->height, rd, src + ": /render/width, /render/height");
    }
  }
  const std::string sizeWhere = inputs.builtInScene ? "the size of the --input image"
                                                     : src + ": /render/width, /render/height";

  // An ID image named apart from the EXR image (or any ID image beside a PNG).
  const auto readIds = [&]<class T>(const std::optional<ImageSource>& source, bool read, const char* key,
                                    std::optional<IdImage<T>>& ids) {
    if (!source || read) return;
    const std::string where = src + ": /render/" + key + ofFrame;
    const ImageSource& s = *source;
    ids = ReadInput(where, [&] {
      if (!IsExrFile(s.path)) return ReadIdPng<T>(s.path);
      ExrIds<T> found = ReadExrIds<T>(s.path, s.channel);
      if (s.channel.empty()) note(IdsName(kIdKind<T>) + " from " + s.path.string() + ":" + found.channel);
      return IdImage<T>(std::move(found));
    });
    CheckSize(where, s.path, ids->width, ids->height, rd, sizeWhere);
  };
  readIds(objectSource, objectsRead, "objectId", objectIds_);
  readIds(materialSource, materialsRead, "materialId", materialIds_);
  if ((rd.objectId && !rd.objectId->channel.empty() && !IsExrFile(rd.objectId->path)) ||
      (rd.materialId && !rd.materialId->channel.empty() && !IsExrFile(rd.materialId->path)))
    throw InputError(src + ": /render: a channel name is only meaningful for an EXR file");
}

}  // namespace velumbra
