// The scene's colours converted into the frame's space (colour_plan.h):
// the colour parameters of an effect's block, and the background.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "host/app/colour/colour_config.h"
#include "host/app/image/hdr_merge.h"
#include "host/sdk/iparamb2.h"

namespace velumbra {

// Converts every colour parameter (TYPE_RGBA) of `block` by `t`: the
// constant value, and each key of a keyed one at its own time (the block
// then interpolates between the converted keys). Parameters of other types
// are left alone. Nothing happens for the identity.
void ConvertColourParams(IParamBlock2& block, const ColourTransform& t);

// The background (render.background: premultiplied RGBA, 1.0 = file
// white) with the colour it shows converted by `t`
// (ColourTransform::ApplyPremultiplied); alpha is kept.
std::array<double, 4> ConvertBackground(const std::array<double, 4>& rgba, const ColourTransform& t);

// The colour parameters of `block` converted by `t` (ConvertColourParams)
// for as long as this lives; when it ends each is put back as it was, its
// value or its keys. For a render in another space than the values a user
// edits and saves (the panel's preview of a linear plate).
class ConvertedColourParams {
 public:
  ConvertedColourParams(IParamBlock2& block, const ColourTransform& t);
  ~ConvertedColourParams();
  ConvertedColourParams(const ConvertedColourParams&) = delete;
  ConvertedColourParams& operator=(const ConvertedColourParams&) = delete;

 private:
  struct Saved {
    ParamID id;
    Color value;                          // without keys
    std::vector<ParamKey<Color>> keys;  // each key at its own time
  };
  IParamBlock2& block_;
  std::vector<Saved> saved_;
};

// A frame's colour in the output's space (colour_plan.h), as floats: from
// `frameFloats` when given (the session's floats of the frame: an OpenEXR
// plate's own, HDR values and all), else from the 16-bit `pixels`; the star
// light the 16-bit frame clipped put back (`lightAboveFull`, hdr_merge.h);
// then converted by `t` (premultiplied).
std::vector<FloatRgba> FrameColourIn(const ColourTransform& t, std::span<const BMM_Color_64> pixels,
                                     std::span<const FloatRgba> frameFloats,
                                     std::span<const PixelFloats> lightAboveFull);

}  // namespace velumbra
