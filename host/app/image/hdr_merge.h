// Carrying floats beyond the 16-bit frame through the effect.
//
// The effect paints 16-bit pixels and limits every channel it writes to
// 65280 (file white), so a colour channel above 1.0 (or below 0) cannot go
// through it as it is: a star would pull a 4.0 down to 1.0. Every apply
// method is affine in the image's channel, out = a * in + b (a = 1 for the
// additive ones, the star's filter factor for "Apply As Filter", one minus
// the star's alpha for "Simple Apply"), so such channels go through twice:
// at 0 in the frame that is rendered (giving b) and at kHdrProbeLevel in a
// probe frame (giving a), and the output is a * original + b / 65280. A star
// that only adds light therefore adds exactly its light to the original
// float, and the filter scales the HDR value by the factor it applies. When
// the probe channel reaches 65280 the star alone saturated it; a is then
// taken as 1 (additive), so the result is never darker than the original.
#pragma once

#include <span>
#include <vector>

#include "host/app/image/exr_io.h"
#include "host/sdk/bitmap.h"
#include "host/sdk/color.h"
#include "host/sdk/max_types.h"

namespace velumbra {

// The level of the probe frame's beyond-range channels: half of file white,
// so that a star's light up to another half fits above it.
constexpr WORD kHdrProbeLevel = 32640;

// True for a colour sample the 16-bit frame cannot hold: negative, or above
// 65280 once on the 8.8 scale (1.0 + 0.5/65280). NaN is not (it reads as 0).
bool BeyondFrameRange(float f);

// True when any colour channel (R, G, B) of `floats` is beyond range.
bool AnyBeyondFrameRange(std::span<const FloatRgba> floats);

// The frame the effect paints into: `pixels16` with each colour channel
// whose float is beyond range set to `level` (0 for the rendered frame,
// kHdrProbeLevel for the probe). Alpha is left as read (the effect limits it
// to 65280 itself).
std::vector<BMM_Color_64> HdrEffectFrame(std::span<const FloatRgba> original,
                                         std::span<const BMM_Color_64> pixels16, WORD level);

// The floats to write for the effect's output, channel by channel:
//   - a colour channel beyond range: a * original + b / 65280, where the
//     effect's response is output = a * input + b and probe =
//     a * kHdrProbeLevel + b (a = 1 when the probe saturated at 65280, or
//     without a probe: then the result is original + (output - input) /
//     65280, the effect's 16-bit change added);
//   - any other channel the effect left as it was (output == input): the
//     original float exactly;
//   - alpha above 1.0 that the effect changed: original * output / 65280
//     (the effect saw it as 1.0; additive methods keep it, the filter scales
//     it);
//   - every other changed channel: output / 65280.
// `input16` is the frame the effect painted into (HdrEffectFrame at 0),
// `output16` its result, `probe16` the result for the probe frame (empty when
// no channel is beyond range). Spans of different sizes throw
// std::invalid_argument.
std::vector<FloatRgba> MergeEffectOutput(std::span<const FloatRgba> original,
                                         std::span<const BMM_Color_64> input16,
                                         std::span<const BMM_Color_64> output16,
                                         std::span<const BMM_Color_64> probe16 = {});

// --- light above full value ---------------------------------------------
//
// The effect adds star light into 16-bit channels that stop at 65280, so a
// bright star's core is clipped at 1.0 in the frame. When the host gave the
// bitmap a light layer (Bitmap::LightLayer: the light the effects drew,
// unclipped, 1.0 = 65280), an OpenEXR output keeps what the clip lost: for
// the additive apply methods a channel that the star light took to full
// value is written as
//     plate + light
// where plate is the channel's float before the effects (the input EXR's
// own float, or the 16-bit input or background / 65280) and light is the
// layer's value there, and never below 1.0 (the clipped value). Channels
// that did not reach 65280, or where the layer holds no light, keep the
// float the 16-bit result gives. This is the host's only use of the layer's
// values in the colour; the layer itself is written as it is (stars.*).

// In place, for an OpenEXR input: `floats` are the output's floats
// (MergeEffectOutput), `plate` the input's own; each channel of `output16`
// at 65280 with light above 0 becomes max(1, plate + light). Spans of
// different sizes throw std::invalid_argument.
void KeepLightAboveFull(std::span<FloatRgba> floats, std::span<const FloatRgba> plate,
                        std::span<const BMM_Color_64> output16, std::span<const BMM_Color_fl> light);

// One pixel's floats where they differ from its 16-bit value / 65280.
struct PixelFloats {
  size_t pixel = 0;  // y * width + x
  FloatRgba value;
  bool operator==(const PixelFloats&) const = default;
};

// The same for a frame without float input (a PNG input or a background):
// the pixels, in increasing order, that have a channel to keep above full
// value, each with all four floats (the others output16 / 65280). `input16`
// is the frame before the effects, one pixel each, or a single pixel (the
// background) standing for every pixel. Throws std::invalid_argument for
// spans that do not fit.
std::vector<PixelFloats> LightAboveFull(std::span<const BMM_Color_64> input16, std::span<const BMM_Color_64> output16,
                                        std::span<const BMM_Color_fl> light);

// The floats of a 16-bit bitmap (v / 65280), for outputs without a float
// original (a PNG input or a plain background).
std::vector<FloatRgba> FloatsFrom16(std::span<const BMM_Color_64> pixels);

}  // namespace velumbra
