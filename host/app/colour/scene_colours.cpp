#include "host/app/colour/scene_colours.h"

#include <vector>

namespace velumbra {

namespace {

Color Converted(const Color& c, const ColourTransform& t) {
  float rgb[3] = {c.r, c.g, c.b};
  t.ApplyRgb(rgb, 1);
  return Color(rgb[0], rgb[1], rgb[2]);
}

}  // namespace

void ConvertColourParams(IParamBlock2& block, const ColourTransform& t) {
  if (t.IsIdentity()) return;
  const ParamBlockDesc2& desc = *block.GetDesc();
  for (int index = 0; index < block.NumParams(); ++index) {
    const ParamDef* def = desc.GetParamDefByIndex(index);
    if (!def || def->type != TYPE_RGBA) continue;
    const ParamID id = def->id;
    Interval valid = FOREVER;
    const int keys = block.NumKeys(id);
    if (keys == 0) {
      Color value;
      if (block.GetValue(id, 0, value, valid)) block.SetValue(id, 0, Converted(value, t));
      continue;
    }
    // At its own time a key's value is the block's value.
    std::vector<ParamKey<Color>> converted;
    for (int k = 0; k < keys; ++k) {
      const TimeValue time = block.GetKeyTime(id, k);
      Color value;
      block.GetValue(id, time, value, valid);
      converted.push_back({time, Converted(value, t)});
    }
    block.SetKeys(id, std::span<const ParamKey<Color>>(converted));
  }
}

std::array<double, 4> ConvertBackground(const std::array<double, 4>& rgba, const ColourTransform& t) {
  if (t.IsIdentity()) return rgba;
  FloatRgba p{static_cast<float>(rgba[0]), static_cast<float>(rgba[1]), static_cast<float>(rgba[2]),
              static_cast<float>(rgba[3])};
  t.ApplyPremultiplied(std::span<FloatRgba>(&p, 1));
  return {p.r, p.g, p.b, rgba[3]};
}

}  // namespace velumbra
