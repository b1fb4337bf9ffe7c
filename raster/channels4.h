// Channels4: the four channels of a pixel (r, g, b, a) as 32-bit lanes
// (raster/lanes.h), with the few operations the pixel kernels need beyond
// the lanes' own operators. Each gives, in every lane, exactly what the
// scalar expression named beside it gives for that channel (IEEE
// single-precision products, sums and quotients are the same in a vector
// lane; truncation and limits are reproduced), so a kernel written with them
// composites to the bit as the scalar code does.
#pragma once

#include <bit>
#include <cstdint>

#include "plugin/host.h"
#include "raster/channel.h"
#include "raster/lanes.h"

namespace raster {

using Channels4 = lanes::I32x4;  // int lanes
using Floats4 = lanes::F32x4;

// The pixel's channels, zero-extended.
inline Channels4 Unpack(BMM_Color_64 c) { return lanes::Widen16(std::bit_cast<std::uint64_t>(c)); }
// Lanes within 0..65535 back into a pixel.
inline BMM_Color_64 Pack(Channels4 c) { return std::bit_cast<BMM_Color_64>(lanes::Narrow16(c)); }
inline int Alpha(Channels4 c) { return lanes::Lane3Of16(c); }  // lanes hold 0..65535
// Lane 3 := a (0..65535).
inline Channels4 WithAlpha(Channels4 c, int a) { return lanes::WithLane3(c, a); }
// static_cast<float>(v)
using lanes::ToFloats;
// static_cast<int>(v), for values within the int range.
using lanes::Truncated;
// ToChannel(v): NaN and values <= 0 give 0, values >= 65280 give 65280.
inline Channels4 ToChannels(Floats4 f) {
  return lanes::Truncated(lanes::AtMost(lanes::AtLeast(f, 0.0f), static_cast<float>(kFullChannel)));
}
// condition ? a : b, without a branch.
inline Channels4 Choose(bool condition, Channels4 a, Channels4 b) {
  return lanes::Select(lanes::AllLanes(-static_cast<int>(condition)), a, b);
}
// ClampColor's limit: above 65280 compared as unsigned (negative included)
// gives 65280.
inline Channels4 Limited(Channels4 c) {
  return lanes::Select((c > kFullChannel) | (c < 0), lanes::AllLanes(kFullChannel), c);
}

}  // namespace raster
