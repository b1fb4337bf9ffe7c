#include "host/app/colour/scene_colours.h"

#include <vector>

namespace velumbra {

namespace {

// The colour parameters of a block, by ID.
template <class F>
void ForEachColourParam(IParamBlock2& block, F&& f) {
  const ParamBlockDesc2& desc = *block.GetDesc();
  for (int index = 0; index < block.NumParams(); ++index) {
    const ParamDef* def = desc.GetParamDefByIndex(index);
    if (def && def->type == TYPE_RGBA) f(def->id);
  }
}

// Parameter `id`'s keys, each with the block's value at its time.
std::vector<ParamKey<Color>> KeysOf(IParamBlock2& block, ParamID id) {
  std::vector<ParamKey<Color>> keys;
  Interval valid = FOREVER;
  for (int k = 0; k < block.NumKeys(id); ++k) {
    const TimeValue time = block.GetKeyTime(id, k);
    Color value;
    block.GetValue(id, time, value, valid);
    keys.push_back({time, value});
  }
  return keys;
}

Color Converted(const Color& c, const ColourTransform& t) {
  float rgb[3] = {c.r, c.g, c.b};
  t.ApplyRgb(rgb, 1);
  return Color(rgb[0], rgb[1], rgb[2]);
}

}  // namespace

void ConvertColourParams(IParamBlock2& block, const ColourTransform& t) {
  if (t.IsIdentity()) return;
  ForEachColourParam(block, [&](ParamID id) {
    Interval valid = FOREVER;
    if (block.NumKeys(id) == 0) {
      Color value;
      if (block.GetValue(id, 0, value, valid)) block.SetValue(id, 0, Converted(value, t));
      return;
    }
    // At its own time a key's value is the block's value.
    std::vector<ParamKey<Color>> keys = KeysOf(block, id);
    for (ParamKey<Color>& key : keys) key.value = Converted(key.value, t);
    block.SetKeys(id, std::span<const ParamKey<Color>>(keys));
  });
}

std::array<double, 4> ConvertBackground(const std::array<double, 4>& rgba, const ColourTransform& t) {
  if (t.IsIdentity()) return rgba;
  FloatRgba p{static_cast<float>(rgba[0]), static_cast<float>(rgba[1]), static_cast<float>(rgba[2]),
              static_cast<float>(rgba[3])};
  t.ApplyPremultiplied(std::span<FloatRgba>(&p, 1));
  return {p.r, p.g, p.b, rgba[3]};
}

ConvertedColourParams::ConvertedColourParams(IParamBlock2& block, const ColourTransform& t) : block_(block) {
  if (t.IsIdentity()) return;
  ForEachColourParam(block, [&](ParamID id) {
    Saved saved{id, Color(), KeysOf(block, id)};
    Interval valid = FOREVER;
    if (saved.keys.empty()) block.GetValue(id, 0, saved.value, valid);
    saved_.push_back(std::move(saved));
  });
  ConvertColourParams(block, t);
}

ConvertedColourParams::~ConvertedColourParams() {
  for (const Saved& s : saved_) {
    if (s.keys.empty())
      block_.SetValue(s.id, 0, s.value);
    else
      block_.SetKeys(s.id, std::span<const ParamKey<Color>>(s.keys));
  }
}

std::vector<FloatRgba> FrameColourIn(const ColourTransform& t, std::span<const BMM_Color_64> pixels,
                                     std::span<const FloatRgba> frameFloats,
                                     std::span<const PixelFloats> lightAboveFull) {
  std::vector<FloatRgba> floats =
      frameFloats.empty() ? FloatsFrom16(pixels) : std::vector<FloatRgba>(frameFloats.begin(), frameFloats.end());
  for (const PixelFloats& p : lightAboveFull) floats[p.pixel] = p.value;
  t.ApplyPremultiplied(floats);
  return floats;
}

}  // namespace velumbra
