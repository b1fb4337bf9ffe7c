// A parameter's value read from the effect's block at one time: the one
// reader the render pass, the star-field interface and the sky share.
#pragma once

#include "plugin/host.h"

// Parameter `id` of `pb` at time `t` as a T, or `fallback` when the block
// holds no such value (an unknown ID, another type).
template <typename T>
T ParamValueAt(IParamBlock2* pb, ParamID id, TimeValue t, T fallback) {
  T v = fallback;
  Interval valid = FOREVER;
  pb->GetValue(id, t, v, valid);
  return v;
}
