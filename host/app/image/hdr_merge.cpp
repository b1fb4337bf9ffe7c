#include "host/app/image/hdr_merge.h"

#include <algorithm>
#include <cstddef>
#include <optional>
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

namespace {

// The float of one channel kept above full value (see hdr_merge.h), or
// nullopt when the 16-bit value stands.
std::optional<float> AboveFull(WORD out16, float plate, float light) {
  if (out16 != 65280 || !(light > 0.0f)) return std::nullopt;
  return std::max(1.0f, plate + light);
}

}  // namespace

void KeepLightAboveFull(std::span<FloatRgba> floats, std::span<const FloatRgba> plate,
                        std::span<const BMM_Color_64> output16, std::span<const BMM_Color_fl> light) {
  if (floats.size() != plate.size() || plate.size() != output16.size() || output16.size() != light.size())
    throw std::invalid_argument("KeepLightAboveFull: the floats, plate, output and light differ in size");
  for (size_t i = 0; i < floats.size(); ++i) {
    const BMM_Color_64& o = output16[i];
    if (o.r != 65280 && o.g != 65280 && o.b != 65280) continue;
    const BMM_Color_fl& l = light[i];
    if (const auto v = AboveFull(o.r, plate[i].r, l.r)) floats[i].r = *v;
    if (const auto v = AboveFull(o.g, plate[i].g, l.g)) floats[i].g = *v;
    if (const auto v = AboveFull(o.b, plate[i].b, l.b)) floats[i].b = *v;
  }
}

std::vector<PixelFloats> LightAboveFull(std::span<const BMM_Color_64> input16, std::span<const BMM_Color_64> output16,
                                        std::span<const BMM_Color_fl> light) {
  if (output16.size() != light.size() || (input16.size() != 1 && input16.size() != output16.size()))
    throw std::invalid_argument("LightAboveFull: the input, output and light differ in size");
  std::vector<PixelFloats> out;
  for (size_t i = 0; i < output16.size(); ++i) {
    const BMM_Color_64& o = output16[i];
    if (o.r != 65280 && o.g != 65280 && o.b != 65280) continue;
    const BMM_Color_64& in = input16.size() == 1 ? input16[0] : input16[i];
    const BMM_Color_fl& l = light[i];
    const auto r = AboveFull(o.r, Float16ToFloat(in.r), l.r), g = AboveFull(o.g, Float16ToFloat(in.g), l.g),
               b = AboveFull(o.b, Float16ToFloat(in.b), l.b);
    if (!r && !g && !b) continue;
    out.push_back({i, {r.value_or(Float16ToFloat(o.r)), g.value_or(Float16ToFloat(o.g)), b.value_or(Float16ToFloat(o.b)),
                       Float16ToFloat(o.a)}});
  }
  return out;
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
