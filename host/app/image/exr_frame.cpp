#include "host/app/image/exr_frame.h"

#include <span>
#include <stdexcept>
#include <vector>

#include "host/app/image/exr_camera.h"
#include "host/app/image/hdr_merge.h"

namespace velumbra {

void WriteExrFrame(const std::filesystem::path& file, BitmapStorage& storage, const ExrFrameInput& input,
                   ExrIdType idType, std::optional<ExrCompression> compression) {
  const size_t count = static_cast<size_t>(storage.Width()) * static_cast<size_t>(storage.Height());
  const std::span<const BMM_Color_64> output(storage.Pixels(), count);
  ULONG type = 0;
  const auto* objectIds = static_cast<const WORD*>(storage.GetChannel(BMM_CHAN_NODE_ID, type));
  const auto* materialIds = static_cast<const UBYTE*>(storage.GetChannel(BMM_CHAN_MTL_ID, type));
  ExrCamera camera;
  if (input.image && input.keepInputCamera)
    camera = input.image->camera;
  else if (const RenderInfo* ri = storage.GetRenderInfo())
    camera = ExrCameraFromRenderInfo(*ri, storage.Width(), storage.Height());

  if (input.image && input.plate && input.plate->CannotCarry().empty() && !input.image->fromLuminance) {
    PlateEdits edits;
    edits.colourLayer = input.image->layer;
    edits.hasAlpha = input.image->hasAlpha;
    edits.input16 = input.image->pixels;
    edits.output16 = output;
    edits.outputFloats = input.outputFloats;
    edits.objectChannel = input.objectChannel;
    edits.objectIn = input.objectIds;
    edits.objectOut = objectIds;
    edits.materialChannel = input.materialChannel;
    edits.materialIn = input.materialIds;
    edits.materialOut = materialIds;
    edits.addedIdType = idType;
    if (!input.keepInputCamera) edits.camera = camera;
    edits.compression = compression;
    WriteExrOverPlate(file, *input.plate, edits);
    return;
  }

  ExrWriteOptions options;
  options.ids = idType;
  options.compression = compression.value_or(ExrCompression::Zip);
  options.camera = camera;
  std::vector<FloatRgba> floats;
  if (input.image) {
    if (!input.outputFloats.empty()) {
      if (input.outputFloats.size() != count)
        throw std::invalid_argument("WriteExrFrame: the floats do not match the frame");
      floats.assign(input.outputFloats.begin(), input.outputFloats.end());
    } else {
      floats = MergeEffectOutput(input.image->floats, input.image->pixels, output);
    }
    options.colour = input.image->sampleType;
  } else {
    // Float samples hold every 16-bit value exactly (half ones do not).
    floats = FloatsFrom16(output);
    options.colour = ExrColourType::Float;
  }
  WriteExr(file, storage.Width(), storage.Height(), floats.data(), objectIds, materialIds, options);
}

}  // namespace velumbra
