#include "host/app/farm/memory_estimate.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "host/app/image/exr_io.h"
#include "host/app/render_frame.h"
#include "host/sdk/bitmap.h"
#include "host/sdk/iparamb2.h"
#include "starfield/star_record.h"
#include "starfield/view_transforms.h"

namespace velumbra {

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// Saturating arithmetic: an absurd request gives UINT64_MAX, never a small
// number that wrapped.
std::uint64_t Add(std::uint64_t a, std::uint64_t b) { return a > kMax - b ? kMax : a + b; }
std::uint64_t Mul(std::uint64_t a, std::uint64_t b) { return b != 0 && a > kMax / b ? kMax : a * b; }

// Star generation in parallel reads the generator in rounds of triples of
// draws: a byte a triple for "taken" and four for the index of a star's
// beginning, a round being 3.125 triples a star plus 4096, between 2^16 and
// 2^22 triples (starfield/star_field.cpp).
std::uint64_t GenerationScratch(std::uint64_t stars) {
  const std::uint64_t triples = std::clamp<std::uint64_t>(Add(Add(Mul(stars, 3), stars / 8), 4096),
                                                          std::uint64_t{1} << 16, std::uint64_t{1} << 22);
  return 5 * triples;
}

// One sample of the motion path: the origin and view matrices, its time,
// the placement and the "same inputs" flag (render/motion_blur.cpp).
constexpr std::uint64_t kMotionSampleBytes =
    2 * sizeof(Matrix3) + sizeof(TimeValue) + sizeof(StarPlacement) + sizeof(bool);

// The parallel star loop records one batch of drawing calls at a time: 2^18
// calls of about 36 bytes and their band indices, whatever the star count
// (render/star_loop.cpp).
constexpr std::uint64_t kStarLoopBatchBytes = std::uint64_t{12} << 20;

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
  e.frame = Mul(pixels, sizeof(BMM_Color_64));
  e.gBuffer = Add(in.objectIdChannel ? Mul(pixels, sizeof(WORD)) : 0, in.materialIdChannel ? pixels : 0);

  std::uint64_t perPixel = 0;
  if (in.input == InputImageKind::Png) perPixel = sizeof(BMM_Color_64);
  if (in.input == InputImageKind::Exr) perPixel = sizeof(BMM_Color_64) + sizeof(FloatRgba);
  if (in.objectIdImage) perPixel += sizeof(WORD);
  if (in.materialIdImage) perPixel += sizeof(UBYTE);
  e.inputImages = Mul(pixels, perPixel);

  for (const StarFieldLoad& field : in.fields) {
    // An empty field is still an array of one record.
    e.stars = Add(e.stars, Mul(std::max<std::uint64_t>(field.stars, 1), sizeof(StarRecord)));
    const std::uint64_t samples = Add(std::max<std::uint64_t>(field.subdivisions, 1), 1);
    std::uint64_t scratch = Mul(samples, kMotionSampleBytes);
    if (in.threads != 0) scratch = Add(scratch, Add(GenerationScratch(field.stars), kStarLoopBatchBytes));
    e.applyScratch = std::max(e.applyScratch, scratch);
  }

  if (in.output != OutputImageKind::Png) {
    const bool half = in.output == OutputImageKind::ExrHalf;
    // The written samples: colour as HALF (8 bytes a pixel) or FLOAT (16),
    // IDs widened to 4 bytes each.
    const std::uint64_t colour = half ? 4 * 2 : 4 * 4;
    const std::uint64_t ids = in.exrIdChannels ? 2 * 4 : 0;
    // The floats of the frame, the HALF copy, the widened IDs, and the
    // encoded file (compression seldom makes it larger than the samples).
    const std::uint64_t bytes = sizeof(FloatRgba) + (half ? colour : 0) + ids + colour + ids;
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
  in.threads = threads;
  if (IsExrFile(output)) {
    const ExrRgbaImage* exr = session.InputExr();
    in.output = exr && exr->sampleType == ExrColourType::Half ? OutputImageKind::ExrHalf : OutputImageKind::ExrFloat;
    in.exrIdChannels = true;
    extraChannels |= BMM_CHAN_NODE_ID | BMM_CHAN_MTL_ID;
  }

  ULONG channels = extraChannels;
  for (Effect* effect : session.Effects()) {
    IParamBlock2* block = effect->NumParamBlocks() > 0 ? effect->GetParamBlock(0) : nullptr;
    const int starsIndex = block ? block->FindParamByName("starscount") : -1;
    const int subdivisionsIndex = block ? block->FindParamByName("durationsubdivisions") : -1;
    StarFieldLoad load;
    bool active = false;
    for (int frame : frames) {
      const TimeValue t = session.FrameTime(frame);
      if (!effect->Active(t)) continue;
      active = true;
      channels |= effect->GBufferChannelsRequired(t);
      Interval valid(TIME_NegInfinity, TIME_PosInfinity);
      int value = 0;
      if (starsIndex >= 0 && block->GetValue(block->IndexToID(starsIndex), t, value, valid))
        load.stars = std::max<std::uint64_t>(load.stars, static_cast<std::uint64_t>(std::max(value, 0)));
      if (subdivisionsIndex >= 0 && block->GetValue(block->IndexToID(subdivisionsIndex), t, value, valid))
        load.subdivisions = std::max<std::uint64_t>(load.subdivisions, static_cast<std::uint64_t>(std::max(value, 1)));
    }
    if (active && starsIndex >= 0) in.fields.push_back(load);
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
