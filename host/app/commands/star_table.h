// The star records an effect draws, as CSV for inspection and other tools
// (`velumbra stars`).
//
// The records come from the effect's loaded module through its star-field
// interface (host/sdk/istar_field.h), made as a render at the same time
// would make them. Two tables, by what the effect draws at that time:
//
// Generated stars (starsource 0):
//   index,x,y,z,r,g,b,a,size
// positions in the unit ball before any placement (origin, band
// flattening, 3D domain, camera), colours on the 16-bit scale (full
// intensity 65280), the alpha on that scale and the size as a radius in
// pixels; floats with 9 significant digits.
//
// Sky stars (starsource 1: a catalogue's, brighter than magnitudelimit,
// brightest first, then the fill-in's below its limit when fillinflag is
// on):
//   index,x,y,z,r,g,b,a,size,magnitude,bv,light,ra,dec,fillin,name
// x, y, z the star's unit direction in the world frame (celestial or the
// observer's horizon) at the instant of the time listed: observertime plus
// that time (frame n of a scene at f frames a second: n / f seconds later),
// as the render of that frame places it; r, g, b its hue (largest channel
// 65280: its light, not its colour, sets its brightness), a the star alpha,
// size its radius in pixels; magnitude (V) and bv (B-V; empty when the
// catalogue gives none) as the catalogue gives them (fill-in stars: as
// drawn); light the light it carries, 10^(-0.4 (magnitude - m0)), its
// pixels' summed luminance with 1.0 = 65280; ra and dec its ICRS position
// at the catalogue's epoch, degrees to 7 decimals; fillin 1 for a fill-in
// star; name the catalogue's name (quoted as CSV quotes when it holds a
// comma or a quote), empty when none. Floats in their shortest form that
// reads back to the same float. Stars below an observer's horizon are not
// listed unless drawn (belowhorizonflag).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "host/sdk/istar_field.h"

namespace velumbra {

// The header of the table above and one line per star `effect` draws at
// t. The text goes to `sink` in pieces of about kStarsCsvChunk bytes, the
// first once the stars are made, so that ten million stars (about 800 MB
// of text) never sit in memory at once. `progress` (may be null) follows
// the generation and may stop it.
//
// Throws Interrupted when `progress` stopped the generation, SystemError
// when the module could not allocate the records, InputError with the
// effect's reason when a file or text its parameters name cannot be used
// (a missing or damaged catalogue, an observertime that is no time), and
// whatever `sink` throws (it is carried past the module, not through it).
inline constexpr std::size_t kStarsCsvChunk = 1u << 20;
void WriteStarsCsv(IStarField& effect, TimeValue t, CheckAbortCallback* progress,
                   const std::function<void(std::string_view)>& sink);

// The same as one string, for small fields.
std::string StarsCsv(IStarField& effect, TimeValue t);

}  // namespace velumbra
