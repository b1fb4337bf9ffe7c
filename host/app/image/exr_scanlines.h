// OpenEXR files of scanline chunks compressed here rather than by the
// library: zip, zips and none. Internal to host/app/image (WriteExr calls it).
//
// OpenEXR's own writer deflates each zip chunk with zlib at its default
// level, which cost about 0.6 s of processor time for a 1080p frame of
// RGBA and two ID channels (50 MB of samples, mostly zero) and made an EXR
// shot three times slower than the same shot to PNG. Here each chunk is
// laid out, reordered and predicted exactly as the format's zip
// compression defines, and its deflate stream comes from the image writers'
// fast deflate (fast_deflate.h): a valid zlib stream any reader inflates
// to the same samples. The library's core API writes the header and the
// chunk table; the bytes go straight to the AtomicFile.
#pragma once

#include <filesystem>

#include "host/app/image/exr_io.h"

namespace velumbra {

// Whether WriteExrScanlines writes `compression`.
bool WritesExrScanlines(ExrCompression compression);

// Writes the frame as WriteExr does (same channels, types and attributes);
// `compression` must be one WritesExrScanlines accepts.
void WriteExrScanlines(const std::filesystem::path& file, int width, int height, const ExrColourRows& colour,
                       const WORD* objectIds, const UBYTE* materialIds, const ExrWriteOptions& options);

// The zip chunk transform: bytes split into even and odd halves, then each
// byte replaced by its difference from the one before, plus 128 (mod 256).
// `out` holds n bytes.
void ExrZipPredict(const std::uint8_t* in, std::size_t n, std::uint8_t* out);

}  // namespace velumbra
