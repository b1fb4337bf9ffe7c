#include "host/app/image/exr_frame.h"

#include <span>
#include <stdexcept>
#include <vector>

#include "host/app/image/exr_camera.h"

namespace velumbra {

void WriteExrFrame(const std::filesystem::path& file, BitmapStorage& storage, const ExrRgbaImage* input,
                   std::span<const FloatRgba> floatsIn, bool keepInputCamera, ExrIdType idType) {
  const size_t count = static_cast<size_t>(storage.Width()) * static_cast<size_t>(storage.Height());
  const std::span<const BMM_Color_64> output(storage.Pixels(), count);
  ExrWriteOptions options;
  options.ids = idType;
  std::vector<FloatRgba> floats;
  if (input) {
    if (floatsIn.size() != count) throw std::invalid_argument("WriteExrFrame: the floats do not match the frame");
    floats.assign(floatsIn.begin(), floatsIn.end());
    options.colour = input->sampleType;
  } else {
    // Float samples hold every 16-bit value exactly (half ones do not).
    floats = FloatsFrom16(output);
    options.colour = ExrColourType::Float;
  }
  if (input && keepInputCamera)
    options.camera = input->camera;
  else if (const RenderInfo* ri = storage.GetRenderInfo())
    options.camera = ExrCameraFromRenderInfo(*ri, storage.Width(), storage.Height());
  ULONG type = 0;
  WriteExr(file, storage.Width(), storage.Height(), floats.data(),
           static_cast<const WORD*>(storage.GetChannel(BMM_CHAN_NODE_ID, type)),
           static_cast<const UBYTE*>(storage.GetChannel(BMM_CHAN_MTL_ID, type)), options);
}

}  // namespace velumbra
