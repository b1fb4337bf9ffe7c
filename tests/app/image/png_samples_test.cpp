// The sample mapping between the frame and PNG files: exhaustive over the
// 16-bit range where it must be exact, bounded where it rounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "host/app/image/png_samples.h"

namespace {

using velumbra::FrameToPng;
using velumbra::PngAlpha;
using velumbra::PngToFrame;

TEST(PngSamples, SixteenBitFullIsTheFilesFullAndEveryFrameValueRoundTrips) {
  EXPECT_EQ(velumbra::FrameToPng16(65280), 65535);
  EXPECT_EQ(velumbra::Png16ToFrame(65535), 65280);
  EXPECT_EQ(velumbra::FrameToPng16(0), 0);
  EXPECT_EQ(velumbra::FrameToPng16(32640), 32768);  // 32767.5 rounds half up
  // Beyond full clamps to the file's full.
  for (unsigned v : {65281u, 65400u, 65535u}) EXPECT_EQ(velumbra::FrameToPng16(v), 65535) << v;
  unsigned previous = 0;
  for (unsigned v = 0; v <= 65280; ++v) {
    const unsigned f = velumbra::FrameToPng16(v);
    ASSERT_EQ(velumbra::Png16ToFrame(f), v) << v;
    // The nearest file value to v * 65535 / 65280, computed independently.
    ASSERT_LE(std::fabs(f - v * 65535.0 / 65280.0), 0.5) << v;
    if (v) {
      ASSERT_GT(f, previous) << v;
    }
    previous = f;
  }
  // Every file value reads as the nearest frame value.
  for (unsigned f = 0; f <= 65535; ++f)
    ASSERT_LE(std::fabs(velumbra::Png16ToFrame(f) - f * 65280.0 / 65535.0), 0.5) << f;
}

TEST(PngSamples, EightBitKeepsTheEightEightScale) {
  for (unsigned f = 0; f <= 255; ++f) {
    ASSERT_EQ(velumbra::Png8ToFrame(f), f * 256);
    ASSERT_EQ(velumbra::FrameToPng8(f * 256 + 255), f);
  }
  EXPECT_EQ(velumbra::FrameToPng8(65535), 255);  // beyond full clamps
}

TEST(PngSamples, ExactRoundTripsOfStraightAlpha) {
  for (int depth : {8, 16}) {
    SCOPED_TRACE(depth);
    const unsigned step = depth == 8 ? 256 : 1;
    // Opaque pixels: the colour itself, every value.
    for (unsigned c = 0; c <= 65280; c += step) {
      const BMM_Color_64 p{WORD(c), WORD(65280 - c), WORD(c / 2 / step * step), 65280};
      ASSERT_EQ(PngToFrame(FrameToPng(p, depth, PngAlpha::Straight), depth, PngAlpha::Straight), p) << c;
    }
    // Transparent black.
    const BMM_Color_64 clear{};
    EXPECT_EQ(PngToFrame(FrameToPng(clear, depth, PngAlpha::Straight), depth, PngAlpha::Straight), clear);
  }
  // Premultiplied mode: any pixel of the 16-bit range at or below full.
  std::mt19937 rng(5);
  for (int i = 0; i < 100000; ++i) {
    const BMM_Color_64 p{WORD(rng() % 65281), WORD(rng() % 65281), WORD(rng() % 65281), WORD(rng() % 65281)};
    ASSERT_EQ(PngToFrame(FrameToPng(p, 16, PngAlpha::Premultiplied), 16, PngAlpha::Premultiplied), p);
  }
}

TEST(PngSamples, EveryEightBitStraightPixelPassesThroughUnchanged) {
  // A plate read from an 8-bit file and written again at 8 bits: every
  // colour over every alpha.
  for (unsigned a = 0; a <= 255; ++a)
    for (unsigned c = 0; c <= 255; ++c) {
      const velumbra::PngSamples file{c, 255 - c, c / 3, a};
      const velumbra::PngSamples back = FrameToPng(PngToFrame(file, 8, PngAlpha::Straight), 8, PngAlpha::Straight);
      if (a == 0) {
        ASSERT_EQ(back.r + back.g + back.b + back.a, 0u);  // no colour without coverage
        continue;
      }
      ASSERT_EQ(back.r, file.r) << c << " over " << a;
      ASSERT_EQ(back.g, file.g) << c << " over " << a;
      ASSERT_EQ(back.b, file.b) << c << " over " << a;
      ASSERT_EQ(back.a, file.a) << c << " over " << a;
    }
  // Opaque pixels keep the 8.8 truncation: 65279 is 254, not 255.
  EXPECT_EQ(FrameToPng({65279, 256, 255, 65280}, 8, PngAlpha::Straight).r, 254u);
  EXPECT_EQ(FrameToPng({65279, 256, 255, 65280}, 8, PngAlpha::Straight).b, 0u);
}

TEST(PngSamples, StraightAlphaDividesByAlphaAndComesBackWithinRounding) {
  // A star's soft edge: premultiplied (4366, 4366, 4366, 4873) is nearly
  // white straight (4366 / 4873 of full), not nearly black.
  const velumbra::PngSamples edge = FrameToPng({4366, 4366, 4366, 4873}, 16, PngAlpha::Straight);
  EXPECT_NEAR(edge.r, 65535.0 * 4366 / 4873, 0.6);
  EXPECT_EQ(edge.a, velumbra::FrameToPng16(4873));
  std::mt19937 rng(6);
  for (int i = 0; i < 200000; ++i) {
    const WORD a = WORD(1 + rng() % 65280);
    const WORD c = WORD(rng() % (a + 1u));  // premultiplied: colour at most alpha
    const BMM_Color_64 p{c, WORD(c / 2), 0, a};
    const BMM_Color_64 back = PngToFrame(FrameToPng(p, 16, PngAlpha::Straight), 16, PngAlpha::Straight);
    ASSERT_EQ(back.a, a);
    // One division and one multiplication, each rounded, and the file's step:
    // within 1 of the alpha's 65280 scale, plus the straight value's error
    // scaled by alpha.
    ASSERT_LE(std::abs(int(back.r) - int(c)), 2) << c << " over " << a;
    ASSERT_LE(std::abs(int(back.g) - int(p.g)), 2) << p.g << " over " << a;
    ASSERT_EQ(back.b, 0);
  }
  // Light beyond the pixel's coverage saturates at white; light without
  // coverage is written as it is and reads as transparent black.
  EXPECT_EQ(FrameToPng({60000, 0, 0, 30000}, 16, PngAlpha::Straight).r, 65535u);
  const velumbra::PngSamples ghost = FrameToPng({6528, 0, 0, 0}, 16, PngAlpha::Straight);
  EXPECT_EQ(ghost.r, velumbra::FrameToPng16(6528));
  EXPECT_EQ(PngToFrame(ghost, 16, PngAlpha::Straight), BMM_Color_64{});
}

}  // namespace

namespace {

using velumbra::FrameRowToPng16;
using velumbra::FrameRowToPng8;

TEST(PngSamples, ShiftFormIsTheRoundedScaleForEveryValue) {
  for (unsigned v = 0; v <= 65535; ++v)
    ASSERT_EQ(velumbra::FrameToPng16ByShift(WORD(v)), velumbra::FrameToPng16(v)) << v;
}

// The samples FrameToPng gives, as a file row stores them.
std::vector<unsigned char> GeneralRow(const std::vector<BMM_Color_64>& px, int depth, PngAlpha alpha) {
  std::vector<unsigned char> row;
  for (const BMM_Color_64& p : px) {
    const velumbra::PngSamples s = FrameToPng(p, depth, alpha);
    for (unsigned v : {s.r, s.g, s.b, s.a}) {
      if (depth == 16) row.push_back(static_cast<unsigned char>(v >> 8));
      row.push_back(static_cast<unsigned char>(v & 0xFF));
    }
  }
  return row;
}

void ExpectRowsAgree(const std::vector<BMM_Color_64>& px, const std::string& what) {
  for (int depth : {8, 16})
    for (PngAlpha alpha : {PngAlpha::Straight, PngAlpha::Premultiplied}) {
      const std::vector<unsigned char> expected = GeneralRow(px, depth, alpha);
      // One byte of slack on each side, which must stay untouched.
      std::vector<unsigned char> row(expected.size() + 2, 0xA5);
      if (depth == 16) FrameRowToPng16(px.data(), px.size(), alpha, row.data() + 1);
      else FrameRowToPng8(px.data(), px.size(), alpha, row.data() + 1);
      ASSERT_EQ(row.front(), 0xA5);
      ASSERT_EQ(row.back(), 0xA5);
      const std::vector<unsigned char> got(row.begin() + 1, row.end() - 1);
      if (got == expected) continue;
      size_t i = 0;
      while (got[i] == expected[i]) ++i;
      const size_t pixel = i / (depth / 2);
      FAIL() << what << ", " << depth << "-bit " << (alpha == PngAlpha::Straight ? "straight" : "premultiplied")
             << ": pixel " << pixel << " (" << px[pixel].r << ", " << px[pixel].g << ", " << px[pixel].b << ", "
             << px[pixel].a << ") differs at byte " << i % (depth / 2);
    }
}

TEST(PngSamples, RowWritersGiveTheGeneralConversionForEveryAlphaClass) {
  // Every channel value over alphas of each class: none, partial (the
  // smallest, a middle one, the largest), full, and beyond full.
  // Rows of 65536 + 7 pixels: whole blocks of sixteen and a tail.
  for (unsigned a : {0u, 1u, 255u, 256u, 32768u, 65279u, 65280u, 65281u, 65535u}) {
    std::vector<BMM_Color_64> px(65536 + 7);
    for (unsigned i = 0; i < px.size(); ++i) {
      const unsigned c = i % 65536;
      px[i] = {WORD(c), WORD(65535 - c), WORD(c ^ 0x5A5Au), WORD(a)};
    }
    ExpectRowsAgree(px, "alpha " + std::to_string(a));
  }
  // Every alpha, with colours at, below and above it.
  std::vector<BMM_Color_64> px(65536 + 7);
  for (unsigned i = 0; i < px.size(); ++i) {
    const unsigned a = (i * 7919u) % 65536;  // every alpha, in blocks and in the tail
    px[i] = {WORD(a), WORD(a / 2), WORD(std::min(a + 1, 65535u)), WORD(a)};
  }
  ExpectRowsAgree(px, "every alpha");
  // Rows of every length up to three blocks of sixteen, with one partial
  // pixel at each place (first, inside, last of a block, in the tail).
  std::mt19937 rng(8);
  for (size_t n = 0; n <= 48; ++n)
    for (size_t at = 0; at < std::max<size_t>(n, 1); ++at) {
      std::vector<BMM_Color_64> row(n);
      for (auto& p : row) p = {WORD(rng()), WORD(rng()), WORD(rng()), WORD(rng() % 2 ? 65280 : 0)};
      if (n) row[at] = {30000, 40000, 1, 35000};
      ExpectRowsAgree(row, "length " + std::to_string(n) + ", partial at " + std::to_string(at));
    }
}

}  // namespace
