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

TEST(Bitmap, LightLayerOnlyWhenTheHostMakesOne) {
  Bitmap bm(3, 2);
  EXPECT_EQ(bm.LightLayer(), nullptr) << "no layer unless the host asks";
  ASSERT_TRUE(bm.CreateLightLayer());
  BMM_Color_fl* light = bm.LightLayer();
  ASSERT_NE(light, nullptr);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(light[i], BMM_Color_fl{}) << i;
  // Light above the 16-bit full value is kept, and a second request keeps
  // the layer and what was drawn into it.
  light[5] = {3.5f, 0.25f, 1e6f, 1.0f};
  ASSERT_TRUE(bm.CreateLightLayer());
  EXPECT_EQ(bm.LightLayer(), light);
  EXPECT_EQ(bm.LightLayer()[5], (BMM_Color_fl{3.5f, 0.25f, 1e6f, 1.0f}));
  // The layer is apart from the 16-bit pixels.
  const BMM_Color_64* px = bm.Storage()->Pixels();
  for (int i = 0; i < 6; ++i) EXPECT_EQ(px[i], BMM_Color_64{}) << i;

  Bitmap empty;
  EXPECT_FALSE(empty.CreateLightLayer());
  EXPECT_EQ(empty.LightLayer(), nullptr);
  Bitmap zero(0, 0);
  EXPECT_TRUE(zero.CreateLightLayer());
  EXPECT_NE(zero.LightLayer(), nullptr) << "a zero-sized frame still gets a layer";
}

TEST(RenderInfo, PerspectiveProjection) {
  RenderInfo ri;
  ri.SetPerspective(640, 480, 2.0f * std::atan(1.0f));  // 90 degrees: kx = 320
  EXPECT_FLOAT_EQ(ri.kx, 320.0f);
  // The optical axis meets the centre of the pixel grid: pixel i is centred
  // at i, so 640 pixels run from -0.5 to 639.5, centre 319.5.
  const Point2 centre = ri.MapCamToScreen({0, 0, -5});
  EXPECT_FLOAT_EQ(centre.x, 319.5f);
  EXPECT_FLOAT_EQ(centre.y, 239.5f);
  // Right and up in camera space go right and up on screen (rows grow down);
  // 45 degrees off the axis is the frame's right edge, 639.5.
  const Point2 p = ri.MapCamToScreen({1, 1, -1});
  EXPECT_FLOAT_EQ(p.x, 639.5f);
  EXPECT_FLOAT_EQ(p.y, -80.5f);
}

TEST(RenderInfo, OddSizesCentreOnTheMiddlePixel) {
  RenderInfo ri;
  ri.SetPerspective(5, 3, 1.0f);
  const Point2 centre = ri.MapCamToScreen({0, 0, -1});
  EXPECT_FLOAT_EQ(centre.x, 2.0f);
  EXPECT_FLOAT_EQ(centre.y, 1.0f);
}

TEST(RenderInfo, LensShiftMovesTheAxisByTheLargerDimension) {
  // Blender's signs: +x shifts the view right, so the scene (and the axis)
  // moves left; +y shifts the view up, so the axis moves down the rows.
  struct Case {
    int w, h;
    float sx, sy;
    float axisX, axisY;
  };
  for (const Case c : {Case{640, 480, 0.1f, 0.0f, 319.5f - 64.0f, 239.5f},
                       Case{640, 480, 0.0f, 0.1f, 319.5f, 239.5f + 64.0f},
                       Case{480, 640, 0.25f, -0.25f, 239.5f - 160.0f, 319.5f - 160.0f}}) {
    RenderInfo ri;
    ri.SetPerspective(c.w, c.h, 1.0f, 1.0f, c.sx, c.sy);
    const Point2 axis = ri.MapCamToScreen({0, 0, -3});
    EXPECT_FLOAT_EQ(axis.x, c.axisX) << c.w << "x" << c.h << " shift " << c.sx << "," << c.sy;
    EXPECT_FLOAT_EQ(axis.y, c.axisY) << c.w << "x" << c.h << " shift " << c.sx << "," << c.sy;
    // The shift moves the image and keeps its scale.
    RenderInfo plain;
    plain.SetPerspective(c.w, c.h, 1.0f);
    EXPECT_FLOAT_EQ(ri.kx, plain.kx);
    EXPECT_FLOAT_EQ(ri.ky, plain.ky);
  }
}

}  // namespace
