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
#include <system_error>

#include "host/app/base/app_error.h"
#include "host/app/base/atomic_file.h"
#include "host/app/image/exr_memory_stream.h"

namespace velumbra {

// --- merging the effect's output ------------------------------------------------------

bool BeyondFrameRange(float f) { return f < 0.0f || FloatTo16(f) > 65280; }

bool AnyBeyondFrameRange(std::span<const FloatRgba> floats) {
  return std::any_of(floats.begin(), floats.end(), [](const FloatRgba& f) {
    return BeyondFrameRange(f.r) || BeyondFrameRange(f.g) || BeyondFrameRange(f.b);
  });
}

std::vector<BMM_Color_64> HdrEffectFrame(std::span<const FloatRgba> original,
                                         std::span<const BMM_Color_64> pixels16, WORD level) {
  if (original.size() != pixels16.size())
    throw std::invalid_argument("HdrEffectFrame: the floats and the pixels differ in size");
  std::vector<BMM_Color_64> frame(pixels16.begin(), pixels16.end());
  for (size_t i = 0; i < frame.size(); ++i) {
    if (BeyondFrameRange(original[i].r)) frame[i].r = level;
    if (BeyondFrameRange(original[i].g)) frame[i].g = level;
    if (BeyondFrameRange(original[i].b)) frame[i].b = level;
  }
  return frame;
}

namespace {

float MergeColour(float original, WORD in, WORD out, const WORD* probe) {
  if (BeyondFrameRange(original)) {
    // out = a * in + b, probe = a * kHdrProbeLevel + b (in is 0 in the
    // rendered frame); the result is a * original + b.
    float a = 1.0f;
    if (probe && *probe < 65280 && in < kHdrProbeLevel)
      a = static_cast<float>(static_cast<int>(*probe) - static_cast<int>(out)) /
          static_cast<float>(kHdrProbeLevel - in);
    const float b = static_cast<float>(static_cast<int>(out) - a * static_cast<float>(in));
    return a * original + b / 65280.0f;
  }
  return out == in ? original : Float16ToFloat(out);
}

float MergeAlpha(float original, WORD in, WORD out) {
  if (out == in) return original;
  if (original > 1.0f) return original * Float16ToFloat(out);
  return Float16ToFloat(out);
}

}  // namespace

std::vector<FloatRgba> MergeEffectOutput(std::span<const FloatRgba> original,
                                         std::span<const BMM_Color_64> input16,
                                         std::span<const BMM_Color_64> output16,
                                         std::span<const BMM_Color_64> probe16) {
  if (original.size() != input16.size() || input16.size() != output16.size() ||
      (!probe16.empty() && probe16.size() != output16.size()))
    throw std::invalid_argument("MergeEffectOutput: the original, input, output and probe differ in size");
  std::vector<FloatRgba> merged(output16.size());
  for (size_t i = 0; i < merged.size(); ++i) {
    const FloatRgba& f = original[i];
    const BMM_Color_64& in = input16[i];
    const BMM_Color_64& o = output16[i];
    const BMM_Color_64* p = probe16.empty() ? nullptr : &probe16[i];
    merged[i] = {MergeColour(f.r, in.r, o.r, p ? &p->r : nullptr), MergeColour(f.g, in.g, o.g, p ? &p->g : nullptr),
                 MergeColour(f.b, in.b, o.b, p ? &p->b : nullptr), MergeAlpha(f.a, in.a, o.a)};
  }
  return merged;
}

std::vector<FloatRgba> FloatsFrom16(std::span<const BMM_Color_64> pixels) {
  std::vector<FloatRgba> floats(pixels.size());
  for (size_t i = 0; i < pixels.size(); ++i) {
    const BMM_Color_64& p = pixels[i];
    floats[i] = {Float16ToFloat(p.r), Float16ToFloat(p.g), Float16ToFloat(p.b), Float16ToFloat(p.a)};
  }
  return floats;
}

// --- writing --------------------------------------------------------------------------

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
  if (width <= 0 || height <= 0 || !pixels)
    throw std::invalid_argument("cannot write " + file.string() + ": the image is empty");
  // Renaming over a device or a pipe would replace it with a file.
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(file, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    throw SystemError("cannot write " + file.string() + ": it exists and is not a regular file");

  const size_t count = size_t(width) * size_t(height);
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
