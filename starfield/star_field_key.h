// The generation key of a star field from the effect's parameter values.
//
// One rule for every reader of a block: the render pass and the effect's
// star-field interface (which `velumbra stars` asks) form the key here, so
// that the records the command lists are the ones the pass draws, for any
// values a scene or script can set (out-of-range ones included).
#pragma once

#include "plugin/host.h"
#include "starfield/star_field.h"

// The generation parameters as the block holds them at a time.
struct StarFieldParams {
  int starsCount = 0;             // a negative count (a script's) means no stars
  int seed = 0;
  Color brightColor;              // nominally 0..1 each
  Color dimColor;
  float colorVariancePercent = 0.0f;  // 0..100
  float brightDimBalance = 0.0f;
  float brightSize = 0.0f;
  float dimSize = 0.0f;
  bool starsAlphaFlag = false;
  int starsAlpha = 255;           // 0..255, used when starsAlphaFlag is set
};

// The key:
//   count      starsCount, or 0 when negative;
//   colours    each component x 65535 in single precision, truncated toward
//              zero, held to 0..65535 (NaN gives 0); alpha 0;
//   variance   percent x 0.01 in double precision, stored as float;
//   alpha16    (starsAlphaFlag ? starsAlpha : 255) << 8, as the unsigned
//              shift of the value's bits (so a negative alpha does not
//              shift a sign);
//   the balance and sizes as given.
StarFieldKey MakeStarFieldKey(const StarFieldParams& p);
