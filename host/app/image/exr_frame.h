// The OpenEXR output of a rendered frame.
#pragma once

#include <filesystem>
#include <span>

#include "host/app/image/exr_io.h"
#include "host/sdk/bitmap.h"

namespace velumbra {

// Writes the frame in `storage` to `file`:
//   - with an EXR input, `floats` (the session's OutputFloats: the input's
//     own floats where the effects changed nothing, see MergeEffectOutput)
//     in the input's sample type; without one, each 16-bit value / 65280 as
//     FLOAT samples, so that it reads back exactly;
//   - the G-buffer goes along as ObjectID and MaterialID (`idType`);
//   - the camera: the input file's own attributes unchanged when its camera
//     rendered (`keepInputCamera`), else the render camera of the bitmap's
//     RenderInfo in the OpenEXR convention.
// `input` is the EXR the frame was read from, or null.
void WriteExrFrame(const std::filesystem::path& file, BitmapStorage& storage, const ExrRgbaImage* input,
                   std::span<const FloatRgba> floats, bool keepInputCamera, ExrIdType idType);

}  // namespace velumbra
