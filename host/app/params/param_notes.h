// A short hand-written explanation of each Qe_Velumbra parameter: what it
// does, its unit, and what it works with. The parameter reference
// (`velumbra params --markdown`, docs/parameters.md) puts it beside the
// facts taken from the parameter block itself (type, default, range,
// choices), so that the two cannot drift apart.
#pragma once

#include <string_view>

namespace velumbra {

// The note of the parameter of that internal name; empty when there is none.
std::string_view ParamNote(std::string_view internalName);

}  // namespace velumbra
