// Writing OpenEXR files, and the floats written for the effect's output.
#include "host/app/image/exr_io.h"

#include <Imath/half.h>
#include <OpenEXR/Iex.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfCompression.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfMatrixAttribute.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfThreading.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>

#include "host/app/base/app_error.h"
#include "host/app/base/atomic_file.h"
#include "host/app/image/exr_memory_stream.h"
#include "host/app/image/exr_scanlines.h"

namespace velumbra {

namespace {

Imath::M44f ToImath(const ExrMatrix& m) {
  Imath::M44f out;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[i][j] = m.m[i][j];
  return out;
}

// The library's slices take a char* for reading and writing alike; a write
// only reads through it.
template <class T>
char* SliceBase(const T* p) {
  return const_cast<char*>(reinterpret_cast<const char*>(p));
}

}  // namespace

Imf::Compression ImfCompressionOf(ExrCompression c) {
  switch (c) {
    case ExrCompression::Zip: return Imf::ZIP_COMPRESSION;
    case ExrCompression::Zips: return Imf::ZIPS_COMPRESSION;
    case ExrCompression::Piz: return Imf::PIZ_COMPRESSION;
    case ExrCompression::Dwaa: return Imf::DWAA_COMPRESSION;
    case ExrCompression::Rle: return Imf::RLE_COMPRESSION;
    case ExrCompression::None: return Imf::NO_COMPRESSION;
  }
  return Imf::ZIP_COMPRESSION;
}

std::optional<ExrCompression> ParseExrCompression(std::string_view name) {
  if (name == "zip") return ExrCompression::Zip;
  if (name == "zips") return ExrCompression::Zips;
  if (name == "piz") return ExrCompression::Piz;
  if (name == "dwaa") return ExrCompression::Dwaa;
  if (name == "rle") return ExrCompression::Rle;
  if (name == "none") return ExrCompression::None;
  return std::nullopt;
}

void WriteExr(const std::filesystem::path& file, int width, int height, const FloatRgba* pixels,
              const WORD* objectIds, const UBYTE* materialIds, const ExrWriteOptions& options) {
  if (!pixels) throw std::invalid_argument("cannot write " + file.string() + ": the image is empty");
  const size_t w = static_cast<size_t>(std::max(width, 0));
  WriteExr(
      file, width, height,
      [&](int y, FloatRgba* row) { std::copy_n(pixels + static_cast<size_t>(y) * w, w, row); }, objectIds,
      materialIds, options);
}

void WriteExr(const std::filesystem::path& file, int width, int height, const ExrColourRows& colour,
              const WORD* objectIds, const UBYTE* materialIds, const ExrWriteOptions& options) {
  if (width <= 0 || height <= 0 || !colour)
    throw std::invalid_argument("cannot write " + file.string() + ": the image is empty");
  // Renaming over a device or a pipe would replace it with a file.
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(file, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    throw SystemError("cannot write " + file.string() + ": it exists and is not a regular file");
  if (WritesExrScanlines(options.compression)) {
    WriteExrScanlines(file, width, height, colour, objectIds, materialIds, options);
    return;
  }

  const size_t count = size_t(width) * size_t(height);
  // The library's other compressions read the frame's floats whole.
  std::vector<FloatRgba> floats(count);
  for (int y = 0; y < height; ++y) colour(y, floats.data() + static_cast<size_t>(y) * size_t(width));
  const FloatRgba* pixels = floats.data();
  ExrMemoryStream encoded(file.string());
  try {
    EnableExrThreads();
    Imf::Header header(width, height);
    header.compression() = ImfCompressionOf(options.compression);
    const Imf::PixelType colourType = options.colour == ExrColourType::Half ? Imf::HALF : Imf::FLOAT;
    const Imf::PixelType idType = options.ids == ExrIdType::Uint ? Imf::UINT : Imf::FLOAT;
    Imf::FrameBuffer fb;
    // The library writes each channel from a slice of its own type: HALF
    // colour is converted here (to nearest, ties to even).
    std::vector<half> halves;
    if (colourType == Imf::HALF) {
      halves.resize(4 * count);
      for (size_t i = 0; i < count; ++i) {
        halves[4 * i + 0] = half(pixels[i].r);
        halves[4 * i + 1] = half(pixels[i].g);
        halves[4 * i + 2] = half(pixels[i].b);
        halves[4 * i + 3] = half(pixels[i].a);
      }
    }
    const char* const colourNames[] = {"R", "G", "B", "A"};
    for (int c = 0; c < 4; ++c) {
      header.channels().insert(colourNames[c], Imf::Channel(colourType));
      if (colourType == Imf::HALF)
        fb.insert(colourNames[c], Imf::Slice(Imf::HALF, SliceBase(halves.data() + c), 4 * sizeof(half),
                                             4 * sizeof(half) * size_t(width)));
      else
        fb.insert(colourNames[c], Imf::Slice(Imf::FLOAT, SliceBase(&pixels->r + c), sizeof(FloatRgba),
                                             sizeof(FloatRgba) * size_t(width)));
    }
    // The IDs widened to the written type.
    std::vector<std::uint32_t> objectUint, materialUint;
    std::vector<float> objectFloat, materialFloat;
    const auto addIds = [&](const char* name, const auto* ids, std::vector<std::uint32_t>& asUint,
                            std::vector<float>& asFloat) {
      if (!ids) return;
      header.channels().insert(name, Imf::Channel(idType));
      if (idType == Imf::UINT) {
        asUint.assign(ids, ids + count);
        fb.insert(name, Imf::Slice(Imf::UINT, SliceBase(asUint.data()), sizeof(std::uint32_t),
                                   sizeof(std::uint32_t) * size_t(width)));
      } else {
        asFloat.assign(ids, ids + count);
        fb.insert(name, Imf::Slice(Imf::FLOAT, SliceBase(asFloat.data()), sizeof(float),
                                   sizeof(float) * size_t(width)));
      }
    };
    addIds("ObjectID", objectIds, objectUint, objectFloat);
    addIds("MaterialID", materialIds, materialUint, materialFloat);
    // The added layer, FLOAT.
    std::vector<FloatRgba> layer;
    if (options.addedLayerRows) {
      layer.resize(count);
      for (int y = 0; y < height; ++y) options.addedLayerRows(y, layer.data() + static_cast<size_t>(y) * size_t(width));
      for (int c = 0; c < 4; ++c) {
        const std::string name = options.addedLayer + "." + colourNames[c];
        header.channels().insert(name, Imf::Channel(Imf::FLOAT));
        fb.insert(name, Imf::Slice(Imf::FLOAT, SliceBase(&layer.data()->r + c), sizeof(FloatRgba),
                                   sizeof(FloatRgba) * size_t(width)));
      }
    }
    if (options.camera.worldToCamera)
      header.insert("worldToCamera", Imf::M44fAttribute(ToImath(*options.camera.worldToCamera)));
    if (options.camera.worldToNDC)
      header.insert("worldToNDC", Imf::M44fAttribute(ToImath(*options.camera.worldToNDC)));

    Imf::OutputFile out(encoded, header, Imf::globalThreadCount());
    out.setFrameBuffer(fb);
    out.writePixels(height);
  } catch (const Iex::BaseExc& e) {
    throw SystemError("cannot write " + file.string() + ": " + e.what());
  }
  encoded.CommitTo(file);
}

}  // namespace velumbra
