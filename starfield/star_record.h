// StarRecord: one generated star.
#pragma once

#include "plugin/host.h"

struct StarRecord {
  Point3 pos;          // in the unit ball: 0 < Length(pos) <= 1
  BMM_Color_64 color;  // r, g, b in 0..65280; a = the field's alpha16
  float size = 0.0f;   // radius in pixels, between the dim and the bright size
};
static_assert(sizeof(StarRecord) == 24, "records are packed: 12 + 8 + 4 bytes");
