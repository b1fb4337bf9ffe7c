#include "host/app/commands/star_table.h"

#include <cstdio>

#include "host/app/base/app_error.h"
#include "starfield/star_field_key.h"

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

Color ColourAt(IParamBlock2& block, const char* name, TimeValue t) {
  Color c;
  Interval valid(TIME_NegInfinity, TIME_PosInfinity);
  block.GetValue(IdOf(block, name), t, c, valid);
  return c;
}

}  // namespace

StarFieldKey StarFieldKeyOf(IParamBlock2& block, TimeValue t) {
  StarFieldParams p;
  p.starsCount = IntAt(block, "starscount", t);
  p.seed = IntAt(block, "seed", t);
  p.brightColor = ColourAt(block, "brightstarscolor", t);
  p.dimColor = ColourAt(block, "dimstarscolor", t);
  p.colorVariancePercent = FloatAt(block, "colorvariance", t);
  p.brightDimBalance = FloatAt(block, "brightdimbalance", t);
  p.brightSize = FloatAt(block, "brightstarssize", t);
  p.dimSize = FloatAt(block, "dimstarssize", t);
  p.starsAlphaFlag = IntAt(block, "starsalphaflag", t) != 0;
  p.starsAlpha = IntAt(block, "starsalpha", t);
  return MakeStarFieldKey(p);
}

void WriteStarsCsv(const StarField& field, const std::function<void(std::string_view)>& sink) {
  std::string out = "index,x,y,z,r,g,b,a,size\n";
  const StarRecord* stars = field.stars();
  out.reserve(kStarsCsvChunk + 200);
  char line[200];
  for (std::uint32_t i = 0; stars && i < field.count(); ++i) {
    const StarRecord& s = stars[i];
    const int n = std::snprintf(line, sizeof line, "%u,%.9g,%.9g,%.9g,%u,%u,%u,%u,%.9g\n", i,
                                static_cast<double>(s.pos.x), static_cast<double>(s.pos.y),
                                static_cast<double>(s.pos.z), unsigned{s.color.r}, unsigned{s.color.g},
                                unsigned{s.color.b}, unsigned{s.color.a}, static_cast<double>(s.size));
    out.append(line, static_cast<size_t>(n));
    if (out.size() >= kStarsCsvChunk) {
      sink(out);
      out.clear();
    }
  }
  if (!out.empty()) sink(out);
}

std::string StarsCsv(const StarField& field) {
  std::string out;
  WriteStarsCsv(field, [&](std::string_view piece) { out.append(piece); });
  return out;
}

}  // namespace velumbra
