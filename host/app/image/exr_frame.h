// The OpenEXR output of a rendered frame.
#pragma once

#include <filesystem>

#include "host/app/image/exr_io.h"
#include "host/sdk/bitmap.h"

namespace velumbra {

// Writes the frame in `storage` to `file`:
//   - pixels the effects left as read keep the input EXR's own floats (and
//     its sample type); every other pixel is its 16-bit value / 65280, as
//     FLOAT samples when there is no EXR input, so that it reads back
//     exactly;
//   - the G-buffer goes along as ObjectID and MaterialID (`idType`);
//   - compressed as `compression` says;
//   - the camera: the input file's own attributes unchanged when its camera
//     rendered (`keepInputCamera`), else the render camera of the bitmap's
//     RenderInfo in the OpenEXR convention.
// `input` is the EXR the frame was read from, or null.
void WriteExrFrame(const std::filesystem::path& file, BitmapStorage& storage, const ExrRgbaImage* input,
                   bool keepInputCamera, ExrIdType idType, ExrCompression compression = ExrCompression::Zip);

}  // namespace velumbra
