// PNG images for the velumbra command: the rendered frame (RGBA) and the
// G-buffer ID images (grey).
//
// Colour images convert as png_samples.h states: file white is the effect's
// full intensity 65280 (8-bit v <-> v * 256, 16-bit 65535 <-> 65280 scaled
// and rounded), and the file's straight alpha is premultiplied on reading and
// un-premultiplied on writing unless PngAlpha::Premultiplied is asked for.
// Every colour type is read: grey, grey+alpha, RGB, RGBA and palette, at any
// bit depth (palettes and 1/2/4-bit grey are expanded to 8 bits, grey is
// copied to red, green and blue; a tRNS chunk becomes alpha). An image
// without alpha reads as opaque (65280). No gamma or colour-space transform
// is applied: values are taken as stored.
//
// ID images hold raw values, not on the 8.8 scale: object IDs are 16-bit,
// material IDs 8-bit. Both read from grey PNGs of any bit depth (1/2/4-bit
// values unpacked, not scaled); a 16-bit image read as material IDs must
// hold values 0..255 only.
//
// Errors: anything wrong with a file being read (missing, not a PNG,
// truncated, bad CRC, too large, wrong kind of image) throws InputError
// naming the file; a failed write throws SystemError naming the file and
// the system's reason, and leaves any existing file untouched (writes go
// through AtomicFile).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "host/app/image/image.h"
#include "host/app/image/png_samples.h"
#include "host/sdk/color.h"
#include "host/sdk/max_types.h"

namespace velumbra {

RgbaImage ReadPngRgba(const std::filesystem::path& file, const ImageReadOptions& options = {});

// How PNG files are compressed; the pixels are the same in every case.
// Measured on 1080p 16-bit star frames: Fast writes about ten times faster
// than zlib's defaults and, on frames that are mostly black, also smaller
// files (zlib's run-length strategy on unfiltered rows: runs of black are
// what such frames hold); Small takes longest for the smallest files of
// busy images.
enum class PngCompression {
  Fast,     // rows unfiltered, zlib's run-length strategy (the default)
  Default,  // libpng's adaptive filters, zlib level 6
  Small,    // adaptive filters, zlib level 9
  None,     // stored, not compressed (zlib level 0)
};

struct PngWriteOptions {
  int bitDepth = 16;  // 8 or 16 bits per sample
  PngCompression compression = PngCompression::Fast;
  PngAlpha alpha = PngAlpha::Straight;
};

// The PNG file of `width` x `height` pixels (rows top to bottom) as bytes in
// memory, for a browser or a pipe.
std::string EncodePngRgba(int width, int height, const BMM_Color_64* pixels, const PngWriteOptions& options);

// Writes `width` x `height` pixels (rows top to bottom) as an RGBA PNG of
// `bitDepth` 8 or 16 bits per sample, straight alpha, fast compression.
void WritePngRgba(const std::filesystem::path& file, int width, int height,
                  const BMM_Color_64* pixels, int bitDepth);
void WritePngRgba(const std::filesystem::path& file, int width, int height, const BMM_Color_64* pixels,
                  const PngWriteOptions& options);

// The name `--compression` gives each (fast, default, small, none); nullopt
// for another name.
std::optional<PngCompression> ParsePngCompression(std::string_view name);
inline void WritePngRgba(const std::filesystem::path& file, const RgbaImage& image, int bitDepth) {
  WritePngRgba(file, image.width, image.height, image.pixels.data(), bitDepth);
}

IdImage<WORD> ReadObjectIdPng(const std::filesystem::path& file, const ImageReadOptions& options = {});
IdImage<UBYTE> ReadMaterialIdPng(const std::filesystem::path& file,
                                 const ImageReadOptions& options = {});
// The one of the two above for T (WORD: object IDs, UBYTE: material IDs).
template <class T>
IdImage<T> ReadIdPng(const std::filesystem::path& file, const ImageReadOptions& options = {}) {
  if constexpr (kIdKind<T> == IdKind::Object) return ReadObjectIdPng(file, options);
  else return ReadMaterialIdPng(file, options);
}

// 16-bit grey of raw object IDs; 8-bit grey of raw material IDs.
void WriteObjectIdPng(const std::filesystem::path& file, int width, int height, const WORD* ids);
void WriteMaterialIdPng(const std::filesystem::path& file, int width, int height, const UBYTE* ids);

}  // namespace velumbra
