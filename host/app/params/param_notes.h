// A short hand-written explanation of each Qe_Velumbra parameter: what it
// does, its unit, and what it works with. The parameter reference
// (`velumbra params --markdown`, docs/parameters.md) puts it beside the
// facts taken from the parameter block itself (type, default, range,
// choices), so that the two cannot drift apart.
#pragma once

#include <span>
#include <string_view>

namespace velumbra {

// The note of the parameter of that internal name; empty when there is none.
std::string_view ParamNote(std::string_view internalName);

// Advice on parameters that only work together, shown where the first of
// them is set: the panel beside the rollout that holds `param`, and
// `velumbra params` below its table.
struct ParamAdvice {
  std::string_view param;  // internal name of the parameter the advice belongs to
  std::string_view text;
};
std::span<const ParamAdvice> ParamAdvices();

}  // namespace velumbra
