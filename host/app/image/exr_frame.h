// The OpenEXR output of a rendered frame.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/app/image/exr_io.h"
#include "host/app/image/exr_plate.h"
#include "host/app/image/hdr_merge.h"
#include "host/sdk/bitmap.h"

namespace velumbra {

// Where the frame came from, for its OpenEXR output.
struct ExrFrameInput {
  const ExrRgbaImage* image = nullptr;  // the input EXR's colour as read; null: not an EXR input
  // The input's first part, to carry through (null: a plain frame); used
  // when its CannotCarry() is empty.
  const ExrPlate* plate = nullptr;
  // The input file's channels the IDs came from (empty: not from it), and
  // the IDs as read (null: none).
  std::string objectChannel;
  std::string materialChannel;
  const WORD* objectIds = nullptr;
  const UBYTE* materialIds = nullptr;
  bool keepInputCamera = false;  // the input file's camera rendered
  // The frame's colour as floats (RenderSession::OutputFloats: the input's
  // own floats where the effects changed nothing, HDR values carried
  // through the effects), one a display pixel; empty: derived from the
  // 16-bit frame (MergeEffectOutput). Also given without an EXR input for a
  // frame converted to another colour space: they are then written instead
  // of the 16-bit frame.
  std::span<const FloatRgba> outputFloats;
  // Without an input EXR: the pixels whose floats keep star light above
  // full value (RenderSession::LightAboveFullValue), increasing.
  std::vector<PixelFloats> lightAboveFull;
};

// Writes the frame in `storage` to `file`.
//
// With a plate it can carry: the input's first part with every channel and
// attribute, the stars painted into the layer the colour came from and
// changed IDs written back into their own channels (exr_plate.h); the
// camera attributes stay the input's when its camera rendered, else they
// are the render camera's.
//
// Otherwise a plain frame of top-level R G B A ObjectID MaterialID:
//   - pixels the effects left as read keep the input EXR's own floats (and
//     its sample type); every other pixel is its 16-bit value / 65280, as
//     FLOAT samples when there is no EXR input, so that it reads back
//     exactly;
//   - the G-buffer goes along as ObjectID and MaterialID (`idType`);
//   - the camera: the input file's own attributes unchanged when its camera
//     rendered, else the render camera of the bitmap's RenderInfo in the
//     OpenEXR convention.
//
// With a light layer (BitmapStorage::LightLayer), either way: an added
// layer stars.R .G .B .A of FLOAT samples holding it as the effects drew it
// (1.0 = file white), and the colour's floats as the session kept them
// above full value (outputFloats, lightAboveFull).
//
// `compression`: the plate's own when not given, else zip for a plain frame.
// `colourType`: the sample type of a plain frame's colour without an EXR
// input (FLOAT when not given, which keeps every 16-bit value exactly); an
// input's colour keeps the input's own type.
void WriteExrFrame(const std::filesystem::path& file, BitmapStorage& storage, const ExrFrameInput& input,
                   ExrIdType idType, std::optional<ExrCompression> compression = std::nullopt,
                   std::optional<ExrColourType> colourType = std::nullopt);

}  // namespace velumbra
