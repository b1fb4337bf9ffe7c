// OpenEXR images for the velumbra command: the rendered frame (RGBA as
// floats) and G-buffer ID channels.
//
// Colour scale. The bitmap is 16-bit on the host's 8.8 scale, where file
// white 1.0 is the effect's full intensity 65280:
//   reading  v16 = round(f * 65280), clamped to 0..65535 (NaN reads as 0)
//   writing  f   = v16 / 65280
// A float image holds more than 16 bits can (HDR above 1.0039, negative
// values, fine gradations), so a reader keeps the file's own floats beside
// the 16-bit pixels, and MergeEffectOutput (hdr_merge.h) restores them for every channel
// the effect did not change and carries the beyond-range ones through the
// effect (see HdrEffectFrame). The values survive the round trip exactly when
// the output's sample type is at least as wide as the input's (a HALF input
// written as HALF or FLOAT, a FLOAT input written as FLOAT); ExrRgbaImage::
// sampleType is the natural choice.
//
// Windows. The image is the file's display window; row 0 is its top row.
// Samples of the data window that fall outside the display window are
// ignored; display pixels outside the data window read as 0 (transparent
// black, and ID 0).
//
// Which channels make the colour: R, G, B (and A) at the top level; when
// there are none, the first layer, in name order, whose channels end in
// .R .G .B, preferring a layer named Combined, beauty or rgba (so
// "ViewLayer.Combined.R" is found in a multi-layer render). A file without
// RGB but with luminance Y reads as grey (Y copied to R, G and B); a
// luminance/chroma file (Y, RY, BY) is converted to RGB. Without A the image
// is opaque (1.0). Any other file is an InputError that lists its channels.
//
// ID channels hold raw IDs (not on the 8.8 scale): object IDs 0..65535,
// material IDs 0..255. HALF and FLOAT samples are rounded to the nearest
// integer and must be within 0.001 of it (an ID pass that was filtered or
// anti-aliased is not a set of IDs); UINT samples are taken as they are.
// A sample that is not a whole number or is out of range is an InputError
// naming the file, the channel, the pixel (x, y) in image coordinates and
// the value.
//
// Camera metadata. The standard attributes worldToCamera and worldToNDC are
// returned when the file has them (as M44f, or M44d narrowed to float).
// Both act on row vectors, as the host's Matrix3 does: p' = p * M. In the
// standard convention the camera space is left-handed with +x right, +y up
// and the view along +z (points in front have positive z), so the host's
// camera space (view along -Z, right-handed) is p * worldToCamera * S with
// S = diag(1, 1, -1); the rows 0-2 and 3 (columns 0-2) of that product are
// the host's world-to-camera Matrix3. worldToNDC, after the homogeneous
// divide by w, gives x, y in 0..1 from the top-left to the bottom-right of
// the display window, so pixel = (x * width, y * height). Some renderers
// write a camera looking down -z instead, and an NDC of -1..1 with y up; a
// caller tells them apart by projecting a point on the camera's optical axis
// (in front of the camera it lands at 0.5, 0.5 in the standard NDC).
//
// Writing: RGBA as HALF or FLOAT, ObjectID / MaterialID as FLOAT or UINT
// (never HALF: it cannot hold every 16-bit ID), ZIP compression, scan
// lines, display window = data window = (0, 0) .. (width-1, height-1). The
// file is encoded in memory and then written through AtomicFile, so a
// failed write leaves any existing file untouched and nothing behind.
//
// Scan-line and tiled files are read (tiled: the full-resolution level); of
// a multi-part file, the first part. Deep images are flattened by the
// library (which needs their Z channel to do so).
//
// Errors: anything wrong with a file being read (missing, not an OpenEXR
// file, truncated, damaged, too large, subsampled colour, a missing or bad
// channel) throws InputError naming the file; a failed write throws
// SystemError naming the file and the reason.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/app/image/image.h"
#include "host/sdk/color.h"
#include "host/sdk/max_types.h"

namespace velumbra {

// Sizes OpenEXR's global thread pool to the machine's cores, once (later
// calls do nothing); the readers and the writer call it. Files decode and
// encode to the same bytes and values with any number of threads.
void EnableExrThreads();

// One pixel as floats, 1.0 = file white.
struct FloatRgba {
  float r = 0.0f;
  float g = 0.0f;
  float b = 0.0f;
  float a = 0.0f;
};

// The 8.8 mapping of one sample (see the top of this file).
WORD FloatTo16(float f);
inline float Float16ToFloat(WORD v) { return static_cast<float>(v) / 65280.0f; }
BMM_Color_64 FloatRgbaTo16(const FloatRgba& c);

// A 4x4 matrix as the file stores it: m[row][column], for row vectors.
struct ExrMatrix {
  std::array<std::array<float, 4>, 4> m{};
  bool operator==(const ExrMatrix&) const = default;
};

struct ExrCamera {
  std::optional<ExrMatrix> worldToCamera;
  std::optional<ExrMatrix> worldToNDC;
  bool operator==(const ExrCamera&) const = default;
};

enum class ExrColourType { Half, Float };
enum class ExrIdType { Float, Uint };

// The frame read from an EXR: the 16-bit pixels of RgbaImage (fileBitDepth
// 16, so that outputs default to 16 bits) and the file's own floats.
struct ExrRgbaImage : RgbaImage {
  std::vector<FloatRgba> floats;  // as stored, rows top to bottom
  // The widest type among the colour channels read (UINT counts as FLOAT):
  // the output type that keeps unchanged pixels exact.
  ExrColourType sampleType = ExrColourType::Half;
  // The prefix of the colour channels read: "" for the top level, e.g.
  // "ViewLayer.Combined." for a layer, so the command can say which it used.
  std::string layer;
  bool hasAlpha = false;
  bool fromLuminance = false;  // Y (and chroma) converted, not R, G, B
  ExrCamera camera;
};

// The ID channel to use when none is named, or none. Looks, in this order
// of preference, for the names ObjectID, IndexOB, "Object Index" (material:
// MaterialID, IndexMA, "Material Index"):
//   1. the exact channel name,                              IndexOB
//   2. with a one-letter component (X, V, Y or R),          IndexOB.X
//   3. inside a layer,                                      ViewLayer.IndexOB
//   4. inside a layer with a component,                     ViewLayer.IndexOB.X
// then the same ignoring letter case. Within one form the earlier name
// wins, then the earlier component, then the channel name in byte order.
std::optional<std::string> FindIdChannel(const std::vector<std::string>& channels, IdKind kind);

// The image and ID channels of one file, read together.
struct ExrFrame {
  ExrRgbaImage image;
  std::optional<IdImage<WORD>> objectIds;
  std::optional<IdImage<UBYTE>> materialIds;
};

// One OpenEXR file, opened once, read in several ways (the image and its ID
// channels may all come from one file). Reading is by bands of scan lines,
// so memory beyond the result is a band's worth.
class ExrReader {
 public:
  // Opens the file and checks its header (the size limit).
  explicit ExrReader(const std::filesystem::path& file, const ImageReadOptions& options = {});
  ~ExrReader();
  ExrReader(const ExrReader&) = delete;
  ExrReader& operator=(const ExrReader&) = delete;

  const std::filesystem::path& File() const;
  int Width() const;   // of the display window
  int Height() const;
  const std::vector<std::string>& Channels() const;  // in the file's (name) order
  const ExrCamera& Camera() const;

  ExrRgbaImage ReadRgba();

  // The image and, for each non-empty channel name, the IDs, in one pass
  // over the file: each chunk is decoded once (reading them one by one
  // decodes the file once per call).
  ExrFrame ReadFrame(const std::string& objectChannel, const std::string& materialChannel);

  // The IDs of `channel` (T: WORD for object IDs, UBYTE for material IDs);
  // `channel` must be one of Channels(); see the top of this file for the
  // checks made on its values.
  template <class T>
  IdImage<T> ReadIds(const std::string& channel);

  std::optional<std::string> FindIdChannel(IdKind kind) const {
    return velumbra::FindIdChannel(Channels(), kind);
  }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// True for a name ending in .exr (any letter case): the command reads such
// a file as OpenEXR (and reports it when it is not one), any other as PNG.
bool IsExrFile(const std::filesystem::path& file);

ExrRgbaImage ReadExrRgba(const std::filesystem::path& file, const ImageReadOptions& options = {});

template <class T>
struct ExrIds : IdImage<T> {
  std::string channel;  // the channel read: the one named, or the one found
};

// Reads IDs (T: WORD for object IDs, UBYTE for material IDs) from
// `channel`, or, when it is empty, from the channel FindIdChannel picks, or
// else the file's only channel (an InputError when none of these is there).
template <class T>
ExrIds<T> ReadExrIds(const std::filesystem::path& file, const std::string& channel = {},
                     const ImageReadOptions& options = {});

// The compression of an OpenEXR output (`--compression`): zip (the
// default: lossless, 16 scan lines a block), zips (one line a block), piz
// (wavelet, lossless, good on grainy renders), rle, none; and dwaa (lossy on
// colour, 32 lines a block; IDs and alpha stay exact).
enum class ExrCompression { Zip, Zips, Piz, Dwaa, Rle, None };

// The name `--compression` gives each; nullopt for another name.
std::optional<ExrCompression> ParseExrCompression(std::string_view name);

// Fills row y (0 at the top) of the colour, `width` pixels, into `row`;
// called from several threads at once.
using ExrColourRows = std::function<void(int y, FloatRgba* row)>;

struct ExrWriteOptions {
  ExrCompression compression = ExrCompression::Zip;
  // HALF keeps 11 significant bits and values up to 65504 (larger ones
  // become infinity); FLOAT keeps every float.
  ExrColourType colour = ExrColourType::Half;
  ExrIdType ids = ExrIdType::Float;
  ExrCamera camera;  // written as worldToCamera / worldToNDC when present
  // A layer of four FLOAT channels beside the colour, <addedLayer>.R .G .B
  // .A (the star light alone: "stars"), its rows filled as the colour's;
  // written when addedLayerRows is set (and then addedLayer is not empty).
  std::string addedLayer;
  ExrColourRows addedLayerRows;
};

// Writes `width` x `height` pixels (rows top to bottom) and, when given, the
// ObjectID and MaterialID channels of the same size.
void WriteExr(const std::filesystem::path& file, int width, int height, const FloatRgba* pixels,
              const WORD* objectIds, const UBYTE* materialIds, const ExrWriteOptions& options = {});

// The same with the colour made a row at a time, as it is written (zip,
// zips and none never hold the frame's floats whole).
void WriteExr(const std::filesystem::path& file, int width, int height, const ExrColourRows& colour,
              const WORD* objectIds, const UBYTE* materialIds, const ExrWriteOptions& options = {});

}  // namespace velumbra
