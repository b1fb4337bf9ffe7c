// The star records an effect generates, as CSV for inspection and other
// tools (`velumbra stars`).
//
// The records are the effect's cached field: positions in the unit ball
// before any placement (origin, band flattening, 3D domain, camera), colours
// on the 16-bit scale (full intensity 65280), the alpha on that scale and
// the size as a radius in pixels. They are generated here from the values of
// the effect's parameter block at a time, through the render pass's own
// generation key (starfield/star_field_key.h) and seeded generator.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "host/sdk/check_abort.h"
#include "host/sdk/iparamb2.h"
#include "starfield/star_field.h"

namespace velumbra {

// The generation key of the block's values at t (MakeStarFieldKey). Throws
// InputError when the block lacks a generation parameter (it is not a
// star-field effect's).
StarFieldKey StarFieldKeyOf(IParamBlock2& block, TimeValue t);

// "index,x,y,z,r,g,b,a,size" and one line per star; floats with 9
// significant digits (they read back to the same float). The text goes to
// `sink` in pieces of about kStarsCsvChunk bytes, so that ten million
// stars (about 800 MB of text) never sit in memory at once.
inline constexpr std::size_t kStarsCsvChunk = 1u << 20;
void WriteStarsCsv(const StarField& field, const std::function<void(std::string_view)>& sink);

// The same as one string, for small fields.
std::string StarsCsv(const StarField& field);

}  // namespace velumbra
