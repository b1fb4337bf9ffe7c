#include "host/app/frame_inputs.h"

#include <cstdint>
#include <fstream>
#include <utility>

#include "host/app/base/app_error.h"
#include "host/app/base/paths.h"
#include "host/app/base/quoting.h"
#include "host/app/farm/memory_estimate.h"
#include "host/app/image/exr_header_weight.h"
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

// Refuses `file` (of `where`) when reading it takes more than the budget.
void Weigh(const InputOptions& inputs, const std::string& where, const std::filesystem::path& file, bool keepPlate) {
  if (!inputs.budget) return;
  if (const std::optional<InputWeight> w = InputImageBytes(file, keepPlate))
    CheckMemoryBudget(w->bytes, *inputs.budget,
                      where + ": reading " + QuotedIfNeeded(file.string()) + " (" + std::to_string(w->width) + " x " +
                          std::to_string(w->height) + " pixels" + w->beyond + ")");
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

std::optional<InputWeight> InputImageBytes(const std::filesystem::path& file, bool keepPlate) {
  // Measured per pixel: a PNG is kept with its decoding rows; an OpenEXR
  // image is read as the file's floats, halves and the 16-bit frame.
  constexpr std::uint64_t kPngBytesPerPixel = 16;
  constexpr std::uint64_t kExrBytesPerPixel = 64;
  // The header's attributes are held by the reader, the plate, the output's
  // header and its bytes as written (measured: a 100 MB string, 628 MB peak).
  constexpr std::uint64_t kAttributeCopies = 7;
  // A plate's samples are held as read and once more as the output writes
  // them, with its line buffers (measured: a 4096 x 4096 data window of RGBA
  // halves, 128 MB of samples, 417 MB peak).
  constexpr std::uint64_t kPlateCopies = 4;
  InputWeight w;
  if (IsExrFile(file)) {
    const std::optional<ExrHeaderWeight> h = WeighExrHeader(file);
    if (!h) return std::nullopt;
    w.width = h->displayWidth;
    w.height = h->displayHeight;
    const auto sat = [](std::uint64_t a, std::uint64_t b) {  // saturating: headers claim anything
      return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
    };
    const auto add = [](std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; };
    w.bytes = add(sat(sat(w.width, w.height), kExrBytesPerPixel), sat(h->attributeBytes, kAttributeCopies));
    if (keepPlate) w.bytes = add(w.bytes, sat(sat(h->dataPixels, h->bytesPerDataPixel), kPlateCopies));
    if (keepPlate && h->dataPixels > w.width * w.height)
      w.beyond += ", a data window of " + std::to_string(h->dataPixels) + " pixels";
    if (h->attributeBytes >= (std::uint64_t{1} << 20)) w.beyond += ", attributes of " + FormatBytes(h->attributeBytes);
    return w;
  }
  // A PNG's first chunk is IHDR: width and height, 4 bytes each, big-endian.
  unsigned char header[24] = {};
  std::ifstream in(file, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(header), sizeof header) || header[1] != 'P' || header[12] != 'I')
    return std::nullopt;
  const auto be32 = [&](int at) {
    return (std::uint64_t{header[at]} << 24) | (std::uint64_t{header[at + 1]} << 16) |
           (std::uint64_t{header[at + 2]} << 8) | std::uint64_t{header[at + 3]};
  };
  w.width = be32(16);
  w.height = be32(20);
  w.bytes = w.width * w.height * kPngBytesPerPixel;
  return w;
}

FrameInputs::FrameInputs(RenderDesc& rd, const std::string& src, const InputOptions& inputs,
                         std::optional<int> frame, const Notes& note) {
  // Each frame's files by the frame-number rule of every file name.
  const auto forFrame = [&](const std::filesystem::path& p) {
    return std::filesystem::path(frame ? OutputNameForFrame(p.string(), *frame) : FileOfName(p.string()));
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
  if (imageFile) Weigh(inputs, imageLabel_, *imageFile, inputs.keepExrPlate);
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
    Weigh(inputs, where, s.path, false);
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
