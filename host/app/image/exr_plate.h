// ExrPlate: the first part of an input OpenEXR file as it was, so that an
// OpenEXR output can carry it through with only the stars' pixels changed.
//
// A plate holds the part's header (every attribute: windows, compression,
// channel list, camera, the renderer's own metadata) and the samples of
// every channel over the data window, each in its own type (HALF, FLOAT,
// UINT), as stored. WriteExrOverPlate writes them back with these changes
// only:
//   - colour: in the layer the colour was read from (`colourLayer` +
//     R, G, B and, when the layer has it, A), each pixel of the display
//     window whose 16-bit value the effect changed takes output / 65280,
//     converted to that channel's own type; every other sample keeps its
//     bits;
//   - IDs: the object and material ID channels the IDs were read from take
//     the pixels whose IDs the effect changed, in the channel's own type;
//     IDs that came from elsewhere (or nowhere) are added as ObjectID and
//     MaterialID (`addedIdType`), unless a channel of that name is there;
//   - the camera: worldToCamera and worldToNDC are replaced when given;
//   - an added float layer (the star light) when given;
//   - the file: one scan-line part (a tiled input is written as scan
//     lines of the same data; the "tiles", "type" and "chunkCount"
//     attributes of the input go), compressed as the input was, but
//     losslessly (ZIP) for a lossy input (DWAA, DWAB, B44, B44A, PXR24), so
//     that every untouched sample keeps its bits; `edits.compression`
//     (--compression) chooses another, lossy too.
// Pixels of the display window outside the data window are not in the
// file and stay out of it (a star there is lost); samples of the data
// window outside the display window are written as read. Further parts of
// a multi-part input are not read and so not written.
//
// Plates are taken of single-part-compatible flat images whose channels are
// all full resolution; PlateCanCarry says why not otherwise (deep data,
// subsampled channels), and the caller writes a plain frame instead.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/app/image/exr_io.h"

namespace velumbra {

struct PlateEdits;

class ExrPlate {
 public:
  // Reads the first part of `file`. Throws InputError as the readers do
  // (exr_io.h), also when the samples of all channels together exceed
  // 32 times the pixel limit.
  static ExrPlate Read(const std::filesystem::path& file, const ImageReadOptions& options = {});

  // Empty when the file can be carried through; else why not ("deep
  // data", "the channel RY is subsampled 2 x 2"). Read refuses nothing of
  // this: it records it.
  const std::string& CannotCarry() const;

  const std::vector<std::string>& Channels() const;  // the header's order (by name)
  // The display window's size.
  int Width() const;
  int Height() const;

  struct Impl;

 private:
  friend void WriteExrOverPlate(const std::filesystem::path& file, const ExrPlate& plate, const PlateEdits& edits);
  std::shared_ptr<const Impl> impl_;
};

// What the render changed, on the display window's pixels (rows top to
// bottom, Width() x Height() of the plate).
struct PlateEdits {
  std::string colourLayer;  // prefix of the colour channels: "" or e.g. "ViewLayer.Combined."
  bool hasAlpha = false;    // the layer has an A channel
  std::span<const BMM_Color_64> input16;   // the colour as read
  std::span<const BMM_Color_64> output16;  // the colour after the effects
  // The same as floats (1.0 = file white), HDR values carried through;
  // empty: output16 / 65280. Written for the pixels whose 16-bit colour
  // changed.
  std::span<const FloatRgba> outputFloats;
  // The channel the IDs were read from (empty: not from this file), the
  // IDs as read (null when there were none) and after the effects (null:
  // the frame has no such G-buffer channel).
  std::string objectChannel;
  const WORD* objectIn = nullptr;
  const WORD* objectOut = nullptr;
  std::string materialChannel;
  const UBYTE* materialIn = nullptr;
  const UBYTE* materialOut = nullptr;
  ExrIdType addedIdType = ExrIdType::Float;
  std::optional<ExrCamera> camera;  // replaces the file's camera attributes when set
  std::optional<ExrCompression> compression;  // replaces the file's compression when set
  // A layer of four FLOAT channels <addedLayer>.R .G .B .A, rows of the
  // display window as for the colour (ExrWriteOptions), written when
  // addedLayerRows is set; it replaces the plate's own channels of those
  // names. Its samples of the data window outside the display window are 0.
  std::string addedLayer;
  ExrColourRows addedLayerRows;
};

// Writes `plate` with `edits` to `file` (through AtomicFile, as WriteExr).
// Throws std::invalid_argument when the edits do not fit the plate (sizes,
// a colour channel or ID channel that is not there), SystemError when the
// file cannot be written.
void WriteExrOverPlate(const std::filesystem::path& file, const ExrPlate& plate, const PlateEdits& edits);

}  // namespace velumbra
