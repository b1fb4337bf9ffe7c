// The frei0r plug-in's parameters: a chosen subset of the effect's
// parameter block under readable names, plus the camera an editor keys,
// each mapped onto a frei0r type.
//
// frei0r has booleans, doubles, colours, positions and strings, and by
// convention a double runs over 0..1. The mapping, from the block's own
// descriptor (type, range, default), never from copied constants:
//   bool   -> F0R_PARAM_BOOL, on at >= 0.5;
//   int    -> F0R_PARAM_DOUBLE, value = low + round(x * (high - low));
//   float  -> F0R_PARAM_DOUBLE, value = low + x * (high - low) (in double,
//             then rounded to the block's float);
//   radio  -> F0R_PARAM_DOUBLE, choice = round(x * (choices - 1));
//   colour -> F0R_PARAM_COLOR, r, g, b as the block holds them (0..1).
// x is clamped to 0..1 first, so a host's slider cannot leave the range.
// The plug-in's own doubles (camera, frame rate) map linearly from fixed
// ranges in degrees and frames per second, listed in kOwnParams.
#pragma once

#include <string>
#include <vector>

#include "host/sdk/classdesc.h"
#include "host/sdk/color.h"
#include "host/sdk/iparamb2.h"

namespace velumbra::frei0r {

enum class Kind { Bool, Double, Colour };  // the frei0r type

// The plug-in's own parameters, at the end of the list.
enum class Own { Pan, Tilt, Roll, FieldOfView, FrameRate };

struct OwnParam {
  Own which;
  const char* name;
  double low, high, def;  // degrees, or frames per second
  const char* unit;
  const char* explanation;
};

inline constexpr OwnParam kOwnParams[] = {
    {Own::Pan, "pan", -180.0, 180.0, 0.0, "degrees",
     "turn of the camera about the world's up axis (positive turns left)"},
    {Own::Tilt, "tilt", -90.0, 90.0, 0.0, "degrees", "camera tilt (positive looks up)"},
    {Own::Roll, "roll", -180.0, 180.0, 0.0, "degrees",
     "camera roll about its view axis (positive turns the picture counter-clockwise)"},
    {Own::FieldOfView, "field of view", 0.0, 180.0, 45.0, "degrees", "horizontal field of view of the camera"},
    {Own::FrameRate, "frame rate", 0.0, 240.0, 30.0, "frames per second",
     "the clip's frame rate (to 0.001 fps): frame = round(time x rate); the effect's durations count in frames"},
};

// One frei0r parameter.
struct Param {
  std::string name;         // frei0r name, readable
  Kind kind = Kind::Double;
  std::string explanation;  // what it does, its range and mapping (frei0r's param info)
  // A parameter of the block: its descriptor entry and number of choices
  // (radio), or the plug-in's own.
  const ParamDef* def = nullptr;
  int choices = 0;
  std::vector<std::string> labels;  // radio: the choices' names
  int defaultChoice = -1;           // radio: the plug-in's own default, -1: the block's
  const OwnParam* own = nullptr;

  // The frei0r default: the block's default (or the own parameter's) in
  // frei0r's terms.
  double DefaultX() const;
  int DefaultChoice() const;  // radio
  Color DefaultColour() const;
  // x (0..1, clamped) -> the block's int, float, or the own value.
  int IntValue(double x) const;
  float FloatValue(double x) const;
  double OwnValue(double x) const;
};

// What the plug-in is: a filter over footage, or a source of its own frames.
enum class Use { Filter, Source };

// The plug-in's parameters for the effect class `cd` (block 0), in frei0r
// order: the block's chosen parameters, then kOwnParams. A chosen
// parameter the block lacks is left out. Defaults are the block's, but for
// a filter the apply method is "Simple Additive": footage is opaque, and
// the block's default adds stars only where the frame is transparent.
std::vector<Param> MakeParams(ClassDesc2& cd, Use use);

// The parameter table in Markdown (docs/frei0r-parameters.md): frei0r name,
// type, the effect parameter it drives, its range and mapping, the default.
std::string ParamsMarkdown(const std::vector<Param>& params);

}  // namespace velumbra::frei0r
