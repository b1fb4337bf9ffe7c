// The scene's colours converted into the frame's space (colour_plan.h):
// the colour parameters of an effect's block, and the background.
#pragma once

#include <array>

#include "host/app/colour/colour_config.h"
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

}  // namespace velumbra
