#include <OpenEXR/ImfThreading.h>

#include <cmath>
#include <string>

#include "fuzz/targets/fuzz_targets.h"
#include "fuzz/targets/memory_file.h"
#include "host/app/base/app_error.h"
#include "host/app/image/exr_header_weight.h"
#include "host/app/image/exr_io.h"

namespace velumbra::fuzz {

namespace {

constexpr const char* kName = "exr_reader";

// A header claiming more is refused before anything is allocated; small
// enough to keep each run quick.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 12;

// Decoding on the calling thread only: each run is then deterministic, and
// no allocation of a pool thread is left over at its end (which would
// make libFuzzer's leak check run after every input).
void SingleThreaded() {
  static const bool once = [] {
    EnableExrThreads();  // sizes the pool once; later calls leave it alone
    Imf::setGlobalThreadCount(0);
    return true;
  }();
  static_cast<void>(once);
}

void CheckRefusal(const MemoryFile& file, const InputError& e) {
  const std::string message = e.what();
  if (message.find(file.Path().string()) == std::string::npos)
    Fault(kName, "an error that does not name the file: " + message);
}

void CheckFrame(const ExrReader& reader, const ExrFrame& frame) {
  const std::size_t count = std::size_t(reader.Width()) * std::size_t(reader.Height());
  const ExrRgbaImage& image = frame.image;
  if (image.width != reader.Width() || image.height != reader.Height() || image.floats.size() != count ||
      image.pixels.size() != count)
    Fault(kName, "the image's size does not match the file's display window");
  for (std::size_t i = 0; i < count; ++i)
    if (!(image.pixels[i] == FloatRgbaTo16(image.floats[i])))
      Fault(kName, "a 16-bit pixel is not the mapping of its floats at index " + std::to_string(i));
  if (frame.objectIds && frame.objectIds->values.size() != count) Fault(kName, "object IDs of the wrong size");
  if (frame.materialIds && frame.materialIds->values.size() != count) Fault(kName, "material IDs of the wrong size");
}

}  // namespace

int FuzzExrReader(const std::uint8_t* data, std::size_t size) {
  SingleThreaded();
  const MemoryFile file(data, size);
  ImageReadOptions options;
  options.maxPixels = kMaxPixels;
  // The budget's walk over the header (exr_header_weight.h) reads any bytes
  // soundly and agrees with the library on every file the reader accepts.
  const std::optional<ExrHeaderWeight> weight = WeighExrHeader(file.Path());
  try {
    ExrReader reader(file.Path(), options);
    if (reader.Width() <= 0 || reader.Height() <= 0) Fault(kName, "an accepted file with an empty display window");
    if (weight && (weight->displayWidth != std::uint64_t(reader.Width()) ||
                   weight->displayHeight != std::uint64_t(reader.Height())))
      Fault(kName, "the header's weight has another display window (" + std::to_string(weight->displayWidth) + " x " +
                       std::to_string(weight->displayHeight) + ") than the reader (" + std::to_string(reader.Width()) +
                       " x " + std::to_string(reader.Height()) + ")");
    const std::string objectChannel = reader.FindIdChannel(IdKind::Object).value_or("");
    const std::string materialChannel = reader.FindIdChannel(IdKind::Material).value_or("");
    // The colour and the IDs together, then the IDs alone from the same
    // reader (a second pass over the file), as the command reads them.
    try {
      CheckFrame(reader, reader.ReadFrame(objectChannel, materialChannel));
    } catch (const InputError& e) {
      CheckRefusal(file, e);
    }
    // One channel is enough: each pass decodes the whole file.
    if (!reader.Channels().empty()) {
      try {
        const IdImage<WORD> ids = reader.ReadIds<WORD>(reader.Channels().front());
        if (ids.values.size() != std::size_t(reader.Width()) * std::size_t(reader.Height()))
          Fault(kName, "object IDs of the wrong size");
      } catch (const InputError& e) {
        CheckRefusal(file, e);
      }
    }
  } catch (const InputError& e) {
    CheckRefusal(file, e);
  }
  return 0;
}

}  // namespace velumbra::fuzz
