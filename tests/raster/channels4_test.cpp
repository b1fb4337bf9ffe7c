// The four-lane channel operations give, lane by lane, what the scalar rules
// give: ToChannel, ClampColor's limit, truncation, and a pixel's round trip
// through the lanes. The values are the edges of each rule.
#include "raster/channels4.h"

#include <gtest/gtest.h>

#include <limits>

#include "raster/pixel_target.h"

namespace {

using raster::Channels4;

// Every lane v: 1 x v is v exactly (NaN, infinities and -0 included).
raster::Floats4 AllLanes(float v) { return raster::ToFloats(raster::Unpack({1, 1, 1, 1})) * v; }

TEST(Channels4, ToChannelsIsToChannelInEveryLane) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const float values[] = {nan, -inf, -1e30f, -1.0f, -0.5f, -0.0f, 0.0f, 1e-30f, 0.999f, 1.0f, 255.5f,
                          65279.0f, 65279.996f, 65280.0f, 65280.5f, 65535.0f, 1e9f, inf};
  for (float v : values) {
    const BMM_Color_64 got = raster::Pack(raster::ToChannels(AllLanes(v)));
    const WORD want = ToChannel(v);
    EXPECT_EQ(got, (BMM_Color_64{want, want, want, want})) << v;
  }
}

TEST(Channels4, TruncatedAndLimitedAreClampColorOfTheCast) {
  const float values[] = {-2147483648.0f, -65281.0f, -1.5f, -0.5f, 0.0f, 0.99f, 32640.0f, 65279.9f,
                          65280.0f,       65280.5f,  65535.0f, 65536.0f, 1e9f, 2147483520.0f};
  for (float v : values) {
    const int cast = static_cast<int>(v);
    // Lanes (v, 0, v, 0) truncated, plus (0, 0, 0, 65280).
    const Channels4 lanes = raster::Truncated(raster::ToFloats(raster::Unpack({1, 0, 1, 0})) * v) +
                            raster::Unpack({0, 0, 0, 65280});
    EXPECT_EQ(raster::Pack(raster::Limited(lanes)), PixelTarget::ClampColor(cast, 0, cast, 65280)) << v;
  }
}

TEST(Channels4, PixelsRoundTripAndAlphaIsTheFourthLane) {
  const BMM_Color_64 pixels[] = {{0, 0, 0, 0}, {65535, 65535, 65535, 65535}, {1, 2, 3, 4}, {65280, 32768, 32767, 65281}};
  for (const BMM_Color_64& p : pixels) {
    const Channels4 c = raster::Unpack(p);
    EXPECT_EQ(raster::Pack(c), p);
    EXPECT_EQ(raster::Alpha(c), p.a);
    const BMM_Color_64 with = raster::Pack(raster::WithAlpha(c, 65280));
    EXPECT_EQ(with, (BMM_Color_64{p.r, p.g, p.b, 65280}));
  }
}

}  // namespace
