#include "host/app/image/flatten.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace velumbra {

namespace {

constexpr std::uint32_t kFull = 65280;  // the effect's full intensity, 255 * 256

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One channel over the background: both on the 8.8 scale, rounded to nearest.
WORD Over(WORD c, std::uint32_t alpha, std::uint32_t background) {
  const std::uint32_t under = ((kFull - std::min(alpha, kFull)) * background + kFull / 2) / kFull;
  return static_cast<WORD>(std::min<std::uint32_t>(c + under, 65535));
}

}  // namespace

std::optional<BackgroundColor> ParseBackgroundColor(const std::string& text) {
  std::string lower;
  for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "black") return BackgroundColor{0, 0, 0};
  if (lower == "white") return BackgroundColor{255, 255, 255};
  if (lower == "grey" || lower == "gray") return BackgroundColor{128, 128, 128};
  if (lower.size() != 7 || lower[0] != '#') return std::nullopt;
  int v[3];
  for (int i = 0; i < 3; ++i) {
    const int hi = HexDigit(lower[1 + 2 * i]), lo = HexDigit(lower[2 + 2 * i]);
    if (hi < 0 || lo < 0) return std::nullopt;
    v[i] = hi * 16 + lo;
  }
  return BackgroundColor{v[0], v[1], v[2]};
}

void FlattenOver(BMM_Color_64* pixels, std::size_t count, BackgroundColor background) {
  // 8-bit v is v * 256 on the 8.8 scale (file white 255 is full intensity).
  const std::uint32_t r = static_cast<std::uint32_t>(background.r) * 256;
  const std::uint32_t g = static_cast<std::uint32_t>(background.g) * 256;
  const std::uint32_t b = static_cast<std::uint32_t>(background.b) * 256;
  for (std::size_t i = 0; i < count; ++i) {
    BMM_Color_64& p = pixels[i];
    p.r = Over(p.r, p.a, r);
    p.g = Over(p.g, p.a, g);
    p.b = Over(p.b, p.a, b);
    p.a = static_cast<WORD>(kFull);
  }
}

}  // namespace velumbra
