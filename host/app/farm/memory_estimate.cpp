#include "host/app/farm/memory_estimate.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "host/app/image/exr_io.h"
#include "host/app/render_frame.h"
#include "host/sdk/bitmap.h"
#include "host/sdk/iparamb2.h"

namespace velumbra {

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// Saturating arithmetic: an absurd request gives UINT64_MAX, never a small
// number that wrapped.
std::uint64_t Add(std::uint64_t a, std::uint64_t b) { return a > kMax - b ? kMax : a + b; }
std::uint64_t Mul(std::uint64_t a, std::uint64_t b) { return b != 0 && a > kMax / b ? kMax : a * b; }

}  // namespace

std::uint64_t RenderMemoryEstimate::Total() const {
  std::uint64_t resident = process;
  for (std::uint64_t part : {frame, gBuffer, inputImages, stars}) resident = Add(resident, part);
  return Add(resident, std::max(applyScratch, writeBuffers));
}

RenderMemoryEstimate EstimateRenderMemory(const RenderMemoryInputs& in) {
  const std::uint64_t pixels = Mul(in.width, in.height);
  RenderMemoryEstimate e;
  e.process = kProcessBaseBytes;
  e.frame = Mul(pixels, sizeof(BMM_Color_64) + (in.starLightLayer ? sizeof(BMM_Color_fl) : 0));
  e.gBuffer = Add(in.objectIdChannel ? Mul(pixels, sizeof(WORD)) : 0, in.materialIdChannel ? pixels : 0);

  std::uint64_t perPixel = 0;
  if (in.input == InputImageKind::Png) perPixel = sizeof(BMM_Color_64);
  if (in.input == InputImageKind::Exr) perPixel = sizeof(BMM_Color_64) + sizeof(FloatRgba);
  if (in.objectIdImage) perPixel += sizeof(WORD);
  if (in.materialIdImage) perPixel += sizeof(UBYTE);
  e.inputImages = Mul(pixels, perPixel);

  // The effects render one after another: their records add up, their
  // working memory takes turns.
  for (const StarFieldMemory& field : in.fields) {
    e.stars = Add(e.stars, field.records);
    e.applyScratch = std::max(e.applyScratch, field.working);
  }

  if (in.output != OutputImageKind::Png) {
    const bool half = in.output == OutputImageKind::ExrHalf;
    // The written samples: colour as HALF (8 bytes a pixel) or FLOAT (16),
    // IDs widened to 4 bytes each.
    const std::uint64_t colour = half ? 4 * 2 : 4 * 4;
    const std::uint64_t ids = in.exrIdChannels ? 2 * 4 : 0;
    // The floats of the frame, the HALF copy, the widened IDs, and the
    // encoded file (compression seldom makes it larger than the samples).
    // The star light layer: its floats and its encoded samples.
    const std::uint64_t layer = in.starLightLayer ? 2 * sizeof(FloatRgba) : 0;
    const std::uint64_t bytes = sizeof(FloatRgba) + (half ? colour : 0) + ids + colour + ids + layer;
    e.writeBuffers = Mul(pixels, bytes);
  }
  return e;
}

RenderMemoryInputs MemoryInputsOf(RenderSession& session, const std::vector<int>& frames, ULONG extraChannels,
                                  const std::string& output, int threads) {
  RenderMemoryInputs in;
  const SceneDesc& scene = session.Scene();
  in.width = static_cast<std::uint64_t>(session.Width());
  in.height = static_cast<std::uint64_t>(session.Height());
  in.input = session.InputExr() ? InputImageKind::Exr : session.InputImage() ? InputImageKind::Png : InputImageKind::None;
  in.objectIdImage = scene.render.objectId.has_value();
  in.materialIdImage = scene.render.materialId.has_value();
  if (IsExrFile(output)) {
    const ExrRgbaImage* exr = session.InputExr();
    in.output = exr && exr->sampleType == ExrColourType::Half ? OutputImageKind::ExrHalf : OutputImageKind::ExrFloat;
    in.exrIdChannels = true;
    in.starLightLayer = session.StarLightLayer();
    extraChannels |= BMM_CHAN_NODE_ID | BMM_CHAN_MTL_ID;
  }

  ULONG channels = extraChannels;
  for (Effect* effect : session.Effects()) {
    std::vector<TimeValue> active;
    for (int frame : frames) {
      const TimeValue t = session.FrameTime(frame);
      if (!effect->Active(t)) continue;
      active.push_back(t);
      channels |= effect->GBufferChannelsRequired(t);
    }
    IStarField* field = GetStarFieldInterface(effect);
    if (field && !active.empty())
      in.fields.push_back(field->RenderMemory(active.data(), static_cast<int>(active.size()), threads));
  }
  in.objectIdChannel = (channels & BMM_CHAN_NODE_ID) != 0;
  in.materialIdChannel = (channels & BMM_CHAN_MTL_ID) != 0;
  return in;
}

std::string FormatBytes(std::uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  double value = static_cast<double>(bytes) / 1024.0;
  int unit = 0;
  while (value >= 1024.0 && unit < 5) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  if (value < 10.0) std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  else std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
  return text;
}

}  // namespace velumbra
