#include "integrations/frei0r/frei0r_params.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "host/app/params/radio_labels.h"

namespace velumbra::frei0r {

namespace {

// The block's parameters an editor has use for, under the names the
// editor shows. Node parameters (origin, picked camera, direction object)
// and the G-buffer masks have nothing to point at in a video editor.
struct Chosen {
  const char* name;
  const char* internalName;
  // The filter's default choice where the block's does not suit footage:
  // a video frame is opaque, and the block's "Additive With Alpha" draws
  // stars only where the frame is transparent (behind a rendered scene).
  const char* filterDefault = nullptr;
};
constexpr Chosen kChosen[] = {
    {"count", "starscount"},
    {"seed", "seed"},
    {"bright colour", "brightstarscolor"},
    {"dim colour", "dimstarscolor"},
    {"colour variance", "colorvariance"},
    {"balance", "brightdimbalance"},
    {"bright size", "brightstarssize"},
    {"dim size", "dimstarssize"},
    {"band", "velumbralimit"},
    {"apply method", "drawmode", "Simple Additive"},
    {"write alpha", "starsalphaflag"},
    {"alpha", "starsalpha"},
    {"motion blur duration", "duration"},
    {"motion blur subdivisions", "durationsubdivisions"},
    {"motion blur dimming", "starsdimming"},
    {"hyperspace", "hyperspaceflag"},
    {"hyperspace depth", "hyperspacedepth"},
    {"scintillation", "scintillationflag"},
    {"scintillation seed", "scintillationseed"},
    {"scintillation frequency", "scintillationfrequency"},
    {"scintillation delta x", "scintillationdx"},
    {"scintillation delta y", "scintillationdy"},
    {"scintillation lock", "scintillationlockdxyflag"},
    {"scintillation multiplier", "scintillationmultiplier"},
    {"scintillation dimmer", "scintillationdimmer"},
};

double Clamp01(double x) { return std::isnan(x) ? 0.0 : std::clamp(x, 0.0, 1.0); }

// A number as the docs and the param info show it: the block's values are
// floats, so 7 significant digits, no trailing zeros.
std::string Number(double v) {
  char buf[32];
  if (v == std::trunc(v) && std::fabs(v) < 1e15) std::snprintf(buf, sizeof buf, "%.0f", v);
  else std::snprintf(buf, sizeof buf, "%.7g", v);
  return buf;
}

// "low + " for a range that does not start at 0.
std::string Offset(double low) { return low == 0.0 ? std::string() : Number(low) + " + "; }

std::string InQuotes(const std::string& s) {
  std::string q = "\"";
  q += s;
  q += '"';
  return q;
}

// The block parameter's range as (low, high) in double.
std::pair<double, double> RangeOf(const ParamDef& d) {
  if (d.type == TYPE_FLOAT) return {d.rangeLow.f, d.rangeHigh.f};
  return {static_cast<double>(d.rangeLow.i), static_cast<double>(d.rangeHigh.i)};
}

// How x maps onto the parameter, in words.
std::string Mapping(const Param& p) {
  if (p.kind == Kind::Bool) return "off below 0.5, on from 0.5";
  if (p.kind == Kind::Colour) return "r, g, b each 0..1 (1 = full intensity)";
  if (p.own) return p.own->unit + std::string(" = ") + Offset(p.own->low) + "x * " + Number(p.own->high - p.own->low);
  if (p.choices > 0) {
    std::string s = "choice = round(x * " + std::to_string(p.choices - 1) + "):";
    for (int i = 0; i < p.choices; ++i)
      s += std::string(i ? "," : "") + " " + Number(p.choices > 1 ? double(i) / (p.choices - 1) : 0.0) + " " +
           InQuotes(i < static_cast<int>(p.labels.size()) ? p.labels[i] : std::to_string(i));
    return s;
  }
  const auto [low, high] = RangeOf(*p.def);
  if (p.def->type == TYPE_FLOAT) return "value = " + Offset(low) + "x * " + Number(high - low);
  return "value = " + Offset(low) + "round(x * " + Number(high - low) + ")";
}

// The default in the block's (or own) units.
std::string DefaultText(const Param& p) {
  if (p.own) return Number(p.own->def);
  const ParamDef& d = *p.def;
  if (d.type == TYPE_RGBA) {
    std::string s = "[";
    s += Number(d.def.c.r) + ", " + Number(d.def.c.g) + ", " + Number(d.def.c.b);
    s += ']';
    return s;
  }
  if (d.type == TYPE_FLOAT) return Number(d.def.f);
  const int choice = p.DefaultChoice();
  if (p.choices > 0 && choice >= 0 && choice < static_cast<int>(p.labels.size())) return InQuotes(p.labels[choice]);
  return std::to_string(d.def.i);
}

}  // namespace

double Param::DefaultX() const {
  if (own) return (own->def - own->low) / (own->high - own->low);
  if (kind == Kind::Bool) return def->def.i ? 1.0 : 0.0;
  if (choices > 0) return choices > 1 ? static_cast<double>(DefaultChoice()) / (choices - 1) : 0.0;
  const auto [low, high] = RangeOf(*def);
  if (!(high > low)) return 0.0;
  const double v = def->type == TYPE_FLOAT ? def->def.f : def->def.i;
  return Clamp01((v - low) / (high - low));
}

int Param::DefaultChoice() const { return defaultChoice >= 0 ? defaultChoice : def->def.i; }

Color Param::DefaultColour() const { return def && def->type == TYPE_RGBA ? def->def.c : Color(); }

int Param::IntValue(double x) const {
  x = Clamp01(x);
  if (kind == Kind::Bool) return x >= 0.5 ? 1 : 0;
  if (choices > 0) return static_cast<int>(std::lround(x * (choices - 1)));
  const auto [low, high] = RangeOf(*def);
  return static_cast<int>(low + std::round(x * (high - low)));
}

float Param::FloatValue(double x) const {
  const auto [low, high] = RangeOf(*def);
  return static_cast<float>(low + Clamp01(x) * (high - low));
}

double Param::OwnValue(double x) const { return own->low + Clamp01(x) * (own->high - own->low); }

std::vector<Param> MakeParams(ClassDesc2& cd, Use use) {
  std::vector<Param> params;
  ParamBlockDesc2* desc = cd.NumParamBlockDescs() > 0 ? cd.GetParamBlockDesc(0) : nullptr;
  for (const Chosen& c : kChosen) {
    const int index = desc ? desc->FindByName(c.internalName) : -1;
    if (index < 0) continue;
    Param p;
    p.name = c.name;
    p.def = desc->GetParamDefByIndex(index);
    switch (p.def->type) {
      case TYPE_BOOL: p.kind = Kind::Bool; break;
      case TYPE_RGBA: p.kind = Kind::Colour; break;
      case TYPE_RADIOBTN_INDEX:
        p.labels = RadioLabels(*desc, *p.def);
        p.choices = p.labels.empty() ? p.def->rangeHigh.i + 1 : static_cast<int>(p.labels.size());
        if (use == Use::Filter && c.filterDefault)
          if (const std::optional<int> index = RadioIndexOf(p.labels, c.filterDefault)) p.defaultChoice = *index;
        break;
      case TYPE_INT:
      case TYPE_FLOAT: break;
      default: continue;  // nodes: nothing to point at
    }
    params.push_back(std::move(p));
  }
  for (const OwnParam& own : kOwnParams) {
    Param p;
    p.name = own.name;
    p.own = &own;
    params.push_back(std::move(p));
  }
  for (Param& p : params) {
    const std::string what = p.own ? std::string(p.own->explanation) : "the effect's " + p.def->internalName;
    p.explanation = what + "; " + Mapping(p) + "; default " + DefaultText(p);
  }
  return params;
}

std::string ParamsMarkdown(const std::vector<Param>& params) {
  std::string md =
      "| # | frei0r name | type | drives | mapping of x (0..1) | default (x) |\n"
      "|---|---|---|---|---|---|\n";
  for (size_t i = 0; i < params.size(); ++i) {
    const Param& p = params[i];
    const char* type = p.kind == Kind::Bool ? "bool" : p.kind == Kind::Colour ? "color" : "double";
    const std::string drives = p.own ? std::string("camera / clock: ") + p.own->explanation
                                     : "`" + p.def->internalName + "`";
    std::string def = DefaultText(p);
    if (p.kind == Kind::Double) def += " (" + Number(p.DefaultX()) + ")";
    md += "| " + std::to_string(i) + " | `" + p.name + "` | " + type + " | " + drives + " | " + Mapping(p) + " | " +
          def + " |\n";
  }
  return md;
}

}  // namespace velumbra::frei0r
