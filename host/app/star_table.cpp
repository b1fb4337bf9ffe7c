#include "host/app/star_table.h"

#include <cstdio>

#include "host/app/app_error.h"

namespace velumbra {

namespace {

ParamID IdOf(IParamBlock2& block, const char* name) {
  const int index = block.FindParamByName(name);
  if (index < 0)
    throw InputError(std::string("the effect has no parameter \"") + name +
                     "\"; star records come from a star-field effect");
  return block.IndexToID(index);
}

int IntAt(IParamBlock2& block, const char* name, TimeValue t) {
  int v = 0;
  Interval valid(TIME_NegInfinity, TIME_PosInfinity);
  block.GetValue(IdOf(block, name), t, v, valid);
  return v;
}

float FloatAt(IParamBlock2& block, const char* name, TimeValue t) {
  float v = 0.0f;
  Interval valid(TIME_NegInfinity, TIME_PosInfinity);
  block.GetValue(IdOf(block, name), t, v, valid);
  return v;
}

// Each component x 65535 in single precision, truncated toward zero and
// kept in 16 bits; alpha 0.
BMM_Color_64 KeyColour(IParamBlock2& block, const char* name, TimeValue t) {
  Color c;
  Interval valid(TIME_NegInfinity, TIME_PosInfinity);
  block.GetValue(IdOf(block, name), t, c, valid);
  const auto channel = [](float v) { return static_cast<WORD>(static_cast<int>(v * 65535.0f)); };
  return {channel(c.r), channel(c.g), channel(c.b), 0};
}

}  // namespace

StarFieldKey StarFieldKeyOf(IParamBlock2& block, TimeValue t) {
  StarFieldKey key;
  key.count = static_cast<std::uint32_t>(IntAt(block, "starscount", t));
  key.seed = IntAt(block, "seed", t);
  key.brightColor = KeyColour(block, "brightstarscolor", t);
  key.dimColor = KeyColour(block, "dimstarscolor", t);
  key.colorVariance = static_cast<float>(static_cast<double>(FloatAt(block, "colorvariance", t)) * 0.01);
  key.brightDimBalance = FloatAt(block, "brightdimbalance", t);
  key.brightSize = FloatAt(block, "brightstarssize", t);
  key.dimSize = FloatAt(block, "dimstarssize", t);
  const int alpha = IntAt(block, "starsalphaflag", t) ? IntAt(block, "starsalpha", t) : 255;
  key.alpha16 = alpha << 8;
  return key;
}

std::string StarsCsv(const StarField& field) {
  std::string out = "index,x,y,z,r,g,b,a,size\n";
  const StarRecord* stars = field.stars();
  if (!stars) return out;
  out.reserve(out.size() + static_cast<size_t>(field.count()) * 80);
  char line[200];
  for (std::uint32_t i = 0; i < field.count(); ++i) {
    const StarRecord& s = stars[i];
    const int n = std::snprintf(line, sizeof line, "%u,%.9g,%.9g,%.9g,%u,%u,%u,%u,%.9g\n", i,
                                static_cast<double>(s.pos.x), static_cast<double>(s.pos.y),
                                static_cast<double>(s.pos.z), unsigned{s.color.r}, unsigned{s.color.g},
                                unsigned{s.color.b}, unsigned{s.color.a}, static_cast<double>(s.size));
    out.append(line, static_cast<size_t>(n));
  }
  return out;
}

}  // namespace velumbra
