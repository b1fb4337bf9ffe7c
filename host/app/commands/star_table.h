// The star records an effect generates, as CSV for inspection and other
// tools (`velumbra stars`).
//
// The records come from the effect's loaded module through its star-field
// interface (host/sdk/istar_field.h), generated as a render at the same time
// would generate them: positions in the unit ball before any placement
// (origin, band flattening, 3D domain, camera), colours on the 16-bit scale
// (full intensity 65280), the alpha on that scale and the size as a radius
// in pixels.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "host/sdk/istar_field.h"

namespace velumbra {

// "index,x,y,z,r,g,b,a,size" and one line per star of the field `effect`
// generates at t; floats with 9 significant digits (they read back to the
// same float). The text goes to `sink` in pieces of about kStarsCsvChunk
// bytes, the first once the generation is done, so that ten million stars
// (about 800 MB of text) never sit in memory at once. `progress` (may be
// null) follows the generation and may stop it.
//
// Throws Interrupted when `progress` stopped the generation, SystemError
// when the module could not allocate the records, and whatever `sink`
// throws (it is carried past the module, not through it).
inline constexpr std::size_t kStarsCsvChunk = 1u << 20;
void WriteStarsCsv(IStarField& effect, TimeValue t, CheckAbortCallback* progress,
                   const std::function<void(std::string_view)>& sink);

// The same as one string, for small fields.
std::string StarsCsv(IStarField& effect, TimeValue t);

}  // namespace velumbra
