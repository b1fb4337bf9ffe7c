#include "host/app/image/hdr_merge.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

namespace velumbra {

bool BeyondFrameRange(float f) { return f < 0.0f || FloatTo16(f) > 65280; }

bool AnyBeyondFrameRange(std::span<const FloatRgba> floats) {
  return std::any_of(floats.begin(), floats.end(), [](const FloatRgba& f) {
    return BeyondFrameRange(f.r) || BeyondFrameRange(f.g) || BeyondFrameRange(f.b);
  });
}

std::vector<BMM_Color_64> HdrEffectFrame(std::span<const FloatRgba> original,
                                         std::span<const BMM_Color_64> pixels16, WORD level) {
  if (original.size() != pixels16.size())
    throw std::invalid_argument("HdrEffectFrame: the floats and the pixels differ in size");
  std::vector<BMM_Color_64> frame(pixels16.begin(), pixels16.end());
  for (size_t i = 0; i < frame.size(); ++i) {
    if (BeyondFrameRange(original[i].r)) frame[i].r = level;
    if (BeyondFrameRange(original[i].g)) frame[i].g = level;
    if (BeyondFrameRange(original[i].b)) frame[i].b = level;
  }
  return frame;
}

namespace {

float MergeColour(float original, WORD in, WORD out, const WORD* probe) {
  if (BeyondFrameRange(original)) {
    // out = a * in + b, probe = a * kHdrProbeLevel + b (in is 0 in the
    // rendered frame); the result is a * original + b.
    float a = 1.0f;
    if (probe && *probe < 65280 && in < kHdrProbeLevel)
      a = static_cast<float>(static_cast<int>(*probe) - static_cast<int>(out)) /
          static_cast<float>(kHdrProbeLevel - in);
    const float b = static_cast<float>(static_cast<int>(out) - a * static_cast<float>(in));
    return a * original + b / 65280.0f;
  }
  return out == in ? original : Float16ToFloat(out);
}

float MergeAlpha(float original, WORD in, WORD out) {
  if (out == in) return original;
  if (original > 1.0f) return original * Float16ToFloat(out);
  return Float16ToFloat(out);
}

}  // namespace

std::vector<FloatRgba> MergeEffectOutput(std::span<const FloatRgba> original,
                                         std::span<const BMM_Color_64> input16,
                                         std::span<const BMM_Color_64> output16,
                                         std::span<const BMM_Color_64> probe16) {
  if (original.size() != input16.size() || input16.size() != output16.size() ||
      (!probe16.empty() && probe16.size() != output16.size()))
    throw std::invalid_argument("MergeEffectOutput: the original, input, output and probe differ in size");
  std::vector<FloatRgba> merged(output16.size());
  for (size_t i = 0; i < merged.size(); ++i) {
    const FloatRgba& f = original[i];
    const BMM_Color_64& in = input16[i];
    const BMM_Color_64& o = output16[i];
    const BMM_Color_64* p = probe16.empty() ? nullptr : &probe16[i];
    merged[i] = {MergeColour(f.r, in.r, o.r, p ? &p->r : nullptr), MergeColour(f.g, in.g, o.g, p ? &p->g : nullptr),
                 MergeColour(f.b, in.b, o.b, p ? &p->b : nullptr), MergeAlpha(f.a, in.a, o.a)};
  }
  return merged;
}

std::vector<FloatRgba> FloatsFrom16(std::span<const BMM_Color_64> pixels) {
  std::vector<FloatRgba> floats(pixels.size());
  for (size_t i = 0; i < pixels.size(); ++i) {
    const BMM_Color_64& p = pixels[i];
    floats[i] = {Float16ToFloat(p.r), Float16ToFloat(p.g), Float16ToFloat(p.b), Float16ToFloat(p.a)};
  }
  return floats;
}

}  // namespace velumbra
