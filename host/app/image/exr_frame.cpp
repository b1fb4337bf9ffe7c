#include "host/app/image/exr_frame.h"

#include <algorithm>
#include <span>
#include <stdexcept>
#include <vector>

#include "host/app/image/exr_camera.h"
#include "host/app/image/hdr_merge.h"

namespace velumbra {

namespace {

// The name of the OpenEXR layer of the star light alone.
constexpr const char* kStarLightLayer = "stars";

}  // namespace

void WriteExrFrame(const std::filesystem::path& file, BitmapStorage& storage, const ExrFrameInput& input,
                   ExrIdType idType, std::optional<ExrCompression> compression,
                   std::optional<ExrColourType> colourType) {
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

  // The star light layer, as the effects drew it.
  const BMM_Color_fl* light = storage.LightLayer();
  const int width = storage.Width();
  const ExrColourRows lightRows = [light, width](int y, FloatRgba* row) {
    const BMM_Color_fl* line = light + static_cast<size_t>(y) * static_cast<size_t>(width);
    for (int x = 0; x < width; ++x) row[x] = {line[x].r, line[x].g, line[x].b, line[x].a};
  };

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
    if (light) {
      edits.addedLayer = kStarLightLayer;
      edits.addedLayerRows = lightRows;
    }
    WriteExrOverPlate(file, *input.plate, edits);
    return;
  }

  ExrWriteOptions options;
  options.ids = idType;
  options.compression = compression.value_or(ExrCompression::Zip);
  options.camera = camera;
  if (light) {
    options.addedLayer = kStarLightLayer;
    options.addedLayerRows = lightRows;
  }
  // Floats given without an EXR input: a frame converted to another colour
  // space (colour_plan.h), written as FLOAT unless asked otherwise.
  if (input.image || !input.outputFloats.empty()) {
    std::vector<FloatRgba> floats;
    if (!input.outputFloats.empty()) {
      if (input.outputFloats.size() != count)
        throw std::invalid_argument("WriteExrFrame: the floats do not match the frame");
      floats.assign(input.outputFloats.begin(), input.outputFloats.end());
    } else {
      floats = MergeEffectOutput(input.image->floats, input.image->pixels, output);
    }
    options.colour = colourType.value_or(input.image ? input.image->sampleType : ExrColourType::Float);
    WriteExr(file, width, storage.Height(), floats.data(), objectIds, materialIds, options);
    return;
  }
  // Float samples hold every 16-bit value exactly (half ones do not); the
  // rows are converted as they are written.
  options.colour = colourType.value_or(ExrColourType::Float);
  const BMM_Color_64* pixels = output.data();
  const std::vector<PixelFloats>& above = input.lightAboveFull;
  WriteExr(
      file, width, storage.Height(),
      [&](int y, FloatRgba* row) {
        const size_t start = static_cast<size_t>(y) * static_cast<size_t>(width);
        const BMM_Color_64* line = pixels + start;
        for (int x = 0; x < width; ++x)
          row[x] = {Float16ToFloat(line[x].r), Float16ToFloat(line[x].g), Float16ToFloat(line[x].b),
                    Float16ToFloat(line[x].a)};
        // The row's pixels that keep star light above full value.
        auto it = std::lower_bound(above.begin(), above.end(), start,
                                   [](const PixelFloats& p, size_t i) { return p.pixel < i; });
        for (; it != above.end() && it->pixel < start + static_cast<size_t>(width); ++it)
          row[it->pixel - start] = it->value;
      },
      objectIds, materialIds, options);
}

}  // namespace velumbra
