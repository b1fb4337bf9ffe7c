#include <gtest/gtest.h>

#include "plugin/host.h"

namespace {

TEST(Bitmap, PixelReadWriteInsideOnly) {
  Bitmap bm(4, 3);
  const BMM_Color_64 c{1, 2, 3, 4};
  EXPECT_EQ(bm.PutPixels(3, 2, 1, &c), 1);
  BMM_Color_64 out;
  EXPECT_EQ(bm.Storage()->GetPixels(3, 2, 1, &out), 1);
  EXPECT_EQ(out, c);
  EXPECT_EQ(bm.Storage()->Pixels()[2 * 4 + 3], c);
  // Runs that leave the image are refused whole.
  EXPECT_EQ(bm.PutPixels(4, 0, 1, &c), 0);
  EXPECT_EQ(bm.PutPixels(-1, 0, 1, &c), 0);
  EXPECT_EQ(bm.PutPixels(0, 3, 1, &c), 0);
  EXPECT_EQ(bm.Storage()->GetPixels(3, 0, 2, &out), 0);
}

TEST(Bitmap, WithoutStorageNothingHappens) {
  Bitmap bm;
  EXPECT_EQ(bm.Storage(), nullptr);
  const BMM_Color_64 c{1, 2, 3, 4};
  EXPECT_EQ(bm.PutPixels(0, 0, 1, &c), 0);
  EXPECT_EQ(bm.Width(), 0);
}

TEST(Bitmap, GBufferChannelsOnlyWhenAskedFor) {
  Bitmap bm(5, 2);
  ULONG type = 99;
  EXPECT_EQ(bm.Storage()->GetChannel(BMM_CHAN_MTL_ID, type), nullptr);
  EXPECT_EQ(bm.Storage()->GetChannel(BMM_CHAN_NODE_ID, type), nullptr);
  EXPECT_EQ(bm.CreateChannels(BMM_CHAN_NODE_ID), BMM_CHAN_NODE_ID);
  auto* ids = static_cast<WORD*>(bm.Storage()->GetChannel(BMM_CHAN_NODE_ID, type));
  ASSERT_NE(ids, nullptr);
  EXPECT_EQ(type, BMM_CHAN_TYPE_16);
  EXPECT_EQ(bm.Storage()->GetChannel(BMM_CHAN_MTL_ID, type), nullptr);
  ids[9] = 65535;  // the last element exists
  EXPECT_EQ(bm.CreateChannels(BMM_CHAN_MTL_ID | BMM_CHAN_NODE_ID), BMM_CHAN_MTL_ID | BMM_CHAN_NODE_ID);
  EXPECT_EQ(ids, bm.Storage()->GetChannel(BMM_CHAN_NODE_ID, type)) << "existing channel kept";
  EXPECT_EQ(ids[9], 65535);
  auto* mtl = static_cast<UBYTE*>(bm.Storage()->GetChannel(BMM_CHAN_MTL_ID, type));
  EXPECT_EQ(type, BMM_CHAN_TYPE_8);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(mtl[i], 0);
}

TEST(RenderInfo, PerspectiveProjection) {
  RenderInfo ri;
  ri.SetPerspective(640, 480, 2.0f * std::atan(1.0f));  // 90 degrees: kx = 320
  EXPECT_FLOAT_EQ(ri.kx, 320.0f);
  const Point2 centre = ri.MapCamToScreen({0, 0, -5});
  EXPECT_FLOAT_EQ(centre.x, 320.0f);
  EXPECT_FLOAT_EQ(centre.y, 240.0f);
  // Right and up in camera space go right and up on screen (rows grow down).
  const Point2 p = ri.MapCamToScreen({1, 1, -1});
  EXPECT_FLOAT_EQ(p.x, 640.0f);
  EXPECT_FLOAT_EQ(p.y, -80.0f);
}

}  // namespace
