// Flattening a frame over an opaque background: what a video (which has no
// alpha) needs. The frame is premultiplied on the 8.8 scale (65280 = full),
// so "over" is  c' = c + (1 - a) * background,  a' = full; with a black
// background the colour stays as it is and only alpha becomes opaque, which
// is what the straight-alpha file would show over black.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "host/sdk/color.h"

namespace velumbra {

// An opaque background colour, 8 bits per channel as written (#RRGGBB).
struct BackgroundColor {
  int r = 0, g = 0, b = 0;
};

// "black", "white", "grey"/"gray" (#808080) or "#RRGGBB" (case-insensitive);
// nullopt for anything else.
std::optional<BackgroundColor> ParseBackgroundColor(const std::string& text);

// Composites `count` premultiplied pixels over `background` in place; every
// pixel comes out opaque (alpha 65280). Colours beyond full intensity (light
// added to a transparent pixel) are kept up to the channel's 65535.
void FlattenOver(BMM_Color_64* pixels, std::size_t count, BackgroundColor background);

}  // namespace velumbra
