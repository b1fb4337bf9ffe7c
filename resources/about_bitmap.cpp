// Draws the About rollout's picture, resources/about.bmp:
//
//   about_bitmap OUT.bmp
//
// 300 x 50 pixels, 8 bits per pixel with a palette of 255 colours: a night
// sky gradient with a scatter of stars, the module's name and version (the
// project's, VELUMBRA_VERSION_STRING), and the maker's notice, in a 5 x 7
// pixel font. The output is a
// pure function of this program (no clock, no system generator), so the
// committed file can be checked against a fresh run.
#include <array>
#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "velumbra_version.h"

namespace {

constexpr int kWidth = 300;
constexpr int kHeight = 50;
constexpr int kPaletteSize = 255;

// Palette layout.
constexpr int kSkyFirst = 0;      // 0..199: the sky, top (deep blue) to bottom (black)
constexpr int kSkyCount = 200;
constexpr int kStarFirst = 200;   // 200..239: star brightness, dim to white
constexpr int kStarCount = 40;
constexpr int kTextColour = 240;  // white
constexpr int kTitleColour = 241; // pale gold
constexpr int kShadowColour = 242;
constexpr int kAccentColour = 243;  // pale blue

struct Rgb {
  std::uint8_t r, g, b;
};

std::array<Rgb, kPaletteSize> MakePalette() {
  std::array<Rgb, kPaletteSize> p{};
  for (int i = 0; i < kSkyCount; ++i) {
    // from (16, 28, 72) at the top to (0, 0, 8) at the bottom
    const int t = i * 255 / (kSkyCount - 1);
    p[kSkyFirst + i] = {static_cast<std::uint8_t>(16 - 16 * t / 255), static_cast<std::uint8_t>(28 - 28 * t / 255),
                        static_cast<std::uint8_t>(72 - 64 * t / 255)};
  }
  for (int i = 0; i < kStarCount; ++i) {
    const int v = 80 + 175 * i / (kStarCount - 1);
    p[kStarFirst + i] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v),
                         static_cast<std::uint8_t>(std::min(255, v + 20))};
  }
  p[kTextColour] = {255, 255, 255};
  p[kTitleColour] = {255, 224, 150};
  p[kShadowColour] = {0, 0, 0};
  p[kAccentColour] = {170, 200, 255};
  // the remaining entries stay black
  return p;
}

// 5 x 7 glyphs, one string of 7 rows of 5 pixels each ('#' set).
struct Glyph {
  char c;
  const char* rows[7];
};

const Glyph kFont[] = {
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'J', {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'Y', {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
    {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
    {'_', {".....", ".....", ".....", ".....", ".....", ".....", "#####"}},
    {'(', {"...#.", "..#..", ".#...", ".#...", ".#...", "..#..", "...#."}},
    {')', {".#...", "..#..", "...#.", "...#.", "...#.", "..#..", ".#..."}},
    {'-', {".....", ".....", ".....", "#####", ".....", ".....", "....."}},
    {':', {".....", ".##..", ".##..", ".....", ".##..", ".##..", "....."}},
    {'/', {".....", "....#", "...#.", "..#..", ".#...", "#....", "....."}},
    {' ', {".....", ".....", ".....", ".....", ".....", ".....", "....."}},
};

const Glyph* FindGlyph(char c) {
  for (const Glyph& g : kFont)
    if (g.c == c) return &g;
  return nullptr;
}

// Pixel rows top to bottom; row 0 is the top of the picture.
using Canvas = std::vector<std::uint8_t>;

void Put(Canvas& canvas, int x, int y, int colour) {
  if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
  canvas[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(colour);
}

// Width in pixels of `text` at `scale`: 6 columns per character (5 + gap).
int TextWidth(const std::string& text, int scale) { return static_cast<int>(text.size()) * 6 * scale - scale; }

// Draws `text` with its top-left corner at (x, y), with a one-pixel shadow.
void DrawText(Canvas& canvas, const std::string& text, int x, int y, int scale, int colour) {
  for (int pass = 0; pass < 2; ++pass) {
    const int offset = pass == 0 ? 1 : 0;
    const int ink = pass == 0 ? kShadowColour : colour;
    int penX = x;
    for (char c : text) {
      const Glyph* g = FindGlyph(c);
      if (!g) {
        std::fprintf(stderr, "about_bitmap: no glyph for '%c'\n", c);
        std::exit(1);
      }
      for (int row = 0; row < 7; ++row)
        for (int col = 0; col < 5; ++col)
          if (g->rows[row][col] == '#')
            for (int sy = 0; sy < scale; ++sy)
              for (int sx = 0; sx < scale; ++sx)
                Put(canvas, penX + col * scale + sx + offset, y + row * scale + sy + offset, ink);
      penX += 6 * scale;
    }
  }
}

void DrawSky(Canvas& canvas) {
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) Put(canvas, x, y, kSkyFirst + y * (kSkyCount - 1) / (kHeight - 1));
  // A fixed scatter of stars from a 32-bit linear congruential sequence.
  std::uint32_t state = 0x3001u;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  for (int i = 0; i < 140; ++i) {
    const int x = static_cast<int>(next() % kWidth);
    const int y = static_cast<int>(next() % kHeight);
    const int level = static_cast<int>(next() % kStarCount);
    Put(canvas, x, y, kStarFirst + level);
    if (level > 34) {  // the brightest few get a small cross
      const int glow = kStarFirst + level / 3;
      Put(canvas, x - 1, y, glow);
      Put(canvas, x + 1, y, glow);
      Put(canvas, x, y - 1, glow);
      Put(canvas, x, y + 1, glow);
    }
  }
}

void PutLE(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::vector<std::uint8_t> EncodeBmp(const Canvas& canvas, const std::array<Rgb, kPaletteSize>& palette) {
  constexpr std::uint32_t kStride = (kWidth + 3) / 4 * 4;
  constexpr std::uint32_t kOffBits = 14 + 40 + kPaletteSize * 4;
  constexpr std::uint32_t kImageSize = kStride * kHeight;
  std::vector<std::uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  PutLE(out, kOffBits + kImageSize, 4);
  PutLE(out, 0, 4);  // reserved
  PutLE(out, kOffBits, 4);
  PutLE(out, 40, 4);  // BITMAPINFOHEADER
  PutLE(out, kWidth, 4);
  PutLE(out, kHeight, 4);  // positive: rows bottom-up
  PutLE(out, 1, 2);        // planes
  PutLE(out, 8, 2);        // bits per pixel
  PutLE(out, 0, 4);        // BI_RGB
  PutLE(out, kImageSize, 4);
  PutLE(out, 2835, 4);  // 72 dpi
  PutLE(out, 2835, 4);
  PutLE(out, kPaletteSize, 4);  // colours used
  PutLE(out, kPaletteSize, 4);  // colours important
  for (const Rgb& c : palette) {
    out.push_back(c.b);
    out.push_back(c.g);
    out.push_back(c.r);
    out.push_back(0);
  }
  for (int y = kHeight - 1; y >= 0; --y) {
    for (int x = 0; x < kWidth; ++x) out.push_back(canvas[static_cast<std::size_t>(y) * kWidth + x]);
    for (std::uint32_t pad = kWidth; pad < kStride; ++pad) out.push_back(0);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: about_bitmap OUT.bmp\n");
    return 2;
  }
  Canvas canvas(static_cast<std::size_t>(kWidth) * kHeight, 0);
  DrawSky(canvas);

  const std::string title = "QE_VELUMBRA";
  const std::string version = VELUMBRA_VERSION_STRING;
  const std::string line2 = "ADVANCED STAR FIELD GENERATOR";
  const std::string notice = "(C) THE QE_VELUMBRA PROJECT";
  const int titleWidth = TextWidth(title, 2) + 12 + TextWidth(version, 2);
  const int titleX = (kWidth - titleWidth) / 2;
  DrawText(canvas, title, titleX, 4, 2, kTitleColour);
  DrawText(canvas, version, titleX + TextWidth(title, 2) + 12, 4, 2, kTextColour);
  DrawText(canvas, line2, (kWidth - TextWidth(line2, 1)) / 2, 24, 1, kAccentColour);
  DrawText(canvas, notice, (kWidth - TextWidth(notice, 1)) / 2, 36, 1, kTextColour);

  const std::vector<std::uint8_t> bmp = EncodeBmp(canvas, MakePalette());
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "about_bitmap: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
