#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/targets/fuzz_targets.h"
#include "fuzz/targets/memory_file.h"
#include "host/app/base/app_error.h"
#include "host/app/image/png_io.h"

namespace velumbra::fuzz {

namespace {

constexpr const char* kName = "png_reader";

// Small enough that a header claiming a huge image is refused before the
// allocation, as the command refuses one above its own limit.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 20;

// Images up to this size are also written back and read again.
constexpr std::uint64_t kRoundTripPixels = 4096;

// A folder for the round trip's files, made once per process and removed
// when it exits.
const std::filesystem::path& ScratchFolder() {
  static const struct Folder {
    std::filesystem::path path;
    Folder() {
      std::string pattern = (std::filesystem::temp_directory_path() / "velumbra-fuzz-png-XXXXXX").string();
      if (!::mkdtemp(pattern.data())) Fault(kName, "cannot make a scratch folder");
      path = pattern;
    }
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  } folder;
  return folder.path;
}

template <class Image>
void CheckShape(const Image& image, std::size_t count, const char* what) {
  if (image.width <= 0 || image.height <= 0)
    Fault(kName, std::string(what) + ": an accepted image of " + std::to_string(image.width) + " x " +
                     std::to_string(image.height) + " pixels");
  if (count != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height))
    Fault(kName, std::string(what) + ": the pixel count does not match the size");
}

// Reads with `read`; false for an InputError (a sound refusal), which must
// name the file.
template <class Read>
bool Accepts(const MemoryFile& file, Read&& read) {
  try {
    read();
    return true;
  } catch (const InputError& e) {
    const std::string message = e.what();
    if (message.find(file.Path().string()) == std::string::npos)
      Fault(kName, "an error that does not name the file: " + message);
    return false;
  }
}

}  // namespace

int FuzzPngReader(const std::uint8_t* data, std::size_t size) {
  const MemoryFile file(data, size);
  PngReadOptions options;
  options.maxPixels = kMaxPixels;

  RgbaImage rgba;
  if (Accepts(file, [&] { rgba = ReadPngRgba(file.Path(), options); })) {
    CheckShape(rgba, rgba.pixels.size(), "RGBA");
    const std::uint64_t pixels = std::uint64_t(rgba.width) * std::uint64_t(rgba.height);
    if (rgba.fileBitDepth == 16 && pixels <= kRoundTripPixels) {
      // Read as premultiplied, 16-bit samples map one to one onto the frame
      // (every 0..65280 survives), so they must survive a round trip.
      PngReadOptions asIs = options;
      asIs.alpha = PngAlpha::Premultiplied;
      const RgbaImage frame = ReadPngRgba(file.Path(), asIs);
      PngWriteOptions write;
      write.alpha = PngAlpha::Premultiplied;
      const std::filesystem::path out = ScratchFolder() / "round-trip.png";
      WritePngRgba(out, frame.width, frame.height, frame.pixels.data(), write);
      const RgbaImage back = ReadPngRgba(out, asIs);
      if (back.width != frame.width || back.height != frame.height || back.pixels != frame.pixels)
        Fault(kName, "a 16-bit image does not survive a write and a read");
      // Straight alpha: opaque pixels and alpha itself survive exactly.
      WritePngRgba(out, rgba, 16);
      const RgbaImage straight = ReadPngRgba(out, options);
      for (std::size_t i = 0; i < rgba.pixels.size(); ++i)
        if (straight.pixels[i].a != rgba.pixels[i].a || (rgba.pixels[i].a == 65280 && straight.pixels[i] != rgba.pixels[i]))
          Fault(kName, "a straight-alpha pixel does not survive a write and a read at index " + std::to_string(i));
    }
  }
  IdImage<WORD> objectIds;
  if (Accepts(file, [&] { objectIds = ReadObjectIdPng(file.Path(), options); }))
    CheckShape(objectIds, objectIds.values.size(), "object IDs");
  IdImage<UBYTE> materialIds;
  if (Accepts(file, [&] { materialIds = ReadMaterialIdPng(file.Path(), options); })) {
    CheckShape(materialIds, materialIds.values.size(), "material IDs");
    // Where both readers accept the same grey image, an ID below 256 is
    // the same number in both.
    if (objectIds.values.size() == materialIds.values.size())
      for (std::size_t i = 0; i < materialIds.values.size(); ++i)
        if (objectIds.values[i] != materialIds.values[i])
          Fault(kName, "the object and material ID readers disagree at index " + std::to_string(i));
  }
  return 0;
}

}  // namespace velumbra::fuzz
