// Flattening over a background: "over" of premultiplied pixels.
#include <gtest/gtest.h>

#include <vector>

#include "host/app/image/flatten.h"

namespace {

using velumbra::BackgroundColor;
using velumbra::FlattenOver;
using velumbra::ParseBackgroundColor;

TEST(Flatten, OverBlackKeepsColourAndMakesEveryPixelOpaque) {
  std::vector<BMM_Color_64> pixels{{0, 0, 0, 0}, {100, 200, 300, 400}, {65280, 65280, 65280, 65280}, {500, 0, 0, 0}};
  const std::vector<BMM_Color_64> before = pixels;
  FlattenOver(pixels.data(), pixels.size(), BackgroundColor{0, 0, 0});
  for (size_t i = 0; i < pixels.size(); ++i) {
    EXPECT_EQ(pixels[i].r, before[i].r);
    EXPECT_EQ(pixels[i].b, before[i].b);
    EXPECT_EQ(pixels[i].a, 65280);
  }
}

TEST(Flatten, OverAColourAddsItUnderTheUncoveredShare) {
  // Half covered (alpha 32640) by premultiplied red 32640: over #0080FF the
  // uncovered half shows the background: 8-bit v is v * 256 on the 8.8 scale.
  std::vector<BMM_Color_64> pixels{{32640, 0, 0, 32640}, {0, 0, 0, 0}, {65280, 65280, 65280, 65280},
                                   {65535, 0, 0, 0}};
  FlattenOver(pixels.data(), pixels.size(), BackgroundColor{0, 128, 255});
  EXPECT_EQ(pixels[0], (BMM_Color_64{32640, 128 * 128, 65280 / 2, 65280}));
  EXPECT_EQ(pixels[1], (BMM_Color_64{0, 128 * 256, 65280, 65280}));  // transparent: the background
  EXPECT_EQ(pixels[2], (BMM_Color_64{65280, 65280, 65280, 65280}));  // opaque: unchanged
  EXPECT_EQ(pixels[3], (BMM_Color_64{65535, 128 * 256, 65280, 65280}));  // light is clipped at the channel, not lost
}

TEST(Flatten, ColoursParseByNameAndHexOnly) {
  EXPECT_EQ(ParseBackgroundColor("black")->r, 0);
  EXPECT_EQ(ParseBackgroundColor("WHITE")->g, 255);
  EXPECT_EQ(ParseBackgroundColor("gray")->b, 128);
  const auto hex = ParseBackgroundColor("#0a80Ff");
  ASSERT_TRUE(hex);
  EXPECT_EQ(hex->r, 10);
  EXPECT_EQ(hex->g, 128);
  EXPECT_EQ(hex->b, 255);
  for (const char* bad : {"", "#", "#0a80F", "#0a80Fff", "0a80ff", "#0a80fg", "blue", " black"})
    EXPECT_FALSE(ParseBackgroundColor(bad)) << bad;
}

}  // namespace
