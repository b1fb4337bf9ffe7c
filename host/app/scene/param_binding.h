// Parameter binding: scene-file and command-line parameter values written
// into an effect's parameter block.
//
// A value is bound by the parameter's internal name, checked against the
// block's schema (type and range), and stored as a constant (SetValue at
// time 0, after removing any keys) or as keys (SetKeys at frame x ticks per
// frame). The checks are the host's, made where the value enters:
//   TYPE_INT             an integer (20000 or 20000.0) in the range
//   TYPE_BOOL            true/false or 0/1
//   TYPE_RADIOBTN_INDEX  an integer in the range (the button's index)
//   TYPE_FLOAT           a number whose single-precision value is in the
//                        range (so 0.001 meets a lower bound of 0.001f)
//   TYPE_RGBA            [r, g, b], each 0..1 (1.0 is full intensity)
//   TYPE_INODE           a node's name; a pick filter of the schema (cameras
//                        only) is enforced
//   TYPE_STRING          a string (no NUL)
//   TYPE_FILENAME        a string, kept as written: the host's file service
//                        resolves it (relative names against its folder)
// Node, string and file-name parameters are not animatable and cannot be
// keyed.
//
// Every error is an InputError "<where>: <JSON path>: <what>": `where` is
// the scene file or "--set NAME=VALUE", the path the parameter's jsonPath
// (empty for an option) and below it the place in the value, e.g.
//   shot.json: /effects/0/params/duration/keys/1/1: expected a number in [0, 100] ...
//   --set starscount=-5: expected an integer in 0..10000000 ...
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/app/base/quoting.h"
#include "host/app/scene/scene_file.h"
#include "host/sdk/inode.h"
#include "host/sdk/iparamb2.h"

namespace velumbra {

// Binds one value; `where` names its source (see above). `ip` resolves node
// names; `ticksPerFrame` places keys.
void BindParam(IParamBlock2& block, const ParamDesc& param, const std::string& where, Interface& ip,
               int ticksPerFrame);

// Binds an effect's params from the scene file `source`, in order.
void BindParams(IParamBlock2& block, const std::vector<ParamDesc>& params, const std::string& source,
                Interface& ip, int ticksPerFrame);

// One --set option.
struct SetOption {
  std::string text;  // as given, "NAME=VALUE", for messages
  // EFFECT.NAME=VALUE: the scene name of the one effect to set; empty for
  // every effect that has the parameter.
  std::string effect;
  ParamDesc param;

  // "--set NAME=VALUE", the place named in messages (quoted and cut when
  // the text is long or not plain text).
  std::string Where() const { return "--set " + QuotedIfNeeded(text); }
};

// Parses "NAME=VALUE" or "EFFECT.NAME=VALUE" (parameter names have no dot,
// so the last dot before '=' ends the effect's name). VALUE is JSON as in a scene's params (a number, a
// string, an array, or {"keys": [[frame, value], ...]}); text that is not
// JSON is taken as a string, so --set camera=Camera001 names a node.
// Throws InputError naming the option, also when the text is not UTF-8
// (JSON strings cannot hold such bytes).
SetOption ParseSetOption(std::string_view text, int ticksPerFrame);

// The closest internal name of the block to `name` when it is near enough
// to be a typo, else empty.
std::string SuggestParamName(const IParamBlock2& block, std::string_view name);

}  // namespace velumbra
