// The render pass end to end: star field, view and origin choice, titles,
// progress and abort, motion blur and hyperspace, on a scene built in code.
#include <gtest/gtest.h>

#include "render/motion_blur.h"
#include "support/render_fixture.h"

namespace {

constexpr const char* kCreating = "Qe_Velumbra: Creating Star Field";
constexpr const char* kRendering = "Qe_Velumbra: Rendering Star Field";

class ApplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scene.Set(pb_starscount, 400);
    // Larger stars than the default, so that the small image has some light.
    scene.Set(pb_brightstarssize, 2.5f);
    scene.Set(pb_dimstarssize, 1.0f);
  }
  RenderScene scene;
};

TEST_F(ApplyTest, DrawsStarsAndRegeneratesOnlyWhenTheKeyChanges) {
  RecordingAbort first;
  const auto a = scene.Render(0, &first);
  EXPECT_GT(LitPixels(a), 20);
  ASSERT_EQ(first.titles.size(), 2u);
  EXPECT_EQ(first.titles[0], kCreating);
  EXPECT_EQ(first.titles[1], kRendering);

  // Placement and drawing settings change the picture, never the field.
  RecordingAbort second;
  scene.Set(pb_velumbralimit, 0.3f);
  scene.Set(pb_drawmode, 2);
  scene.Set(pb_starsdomain3dflag, 1);
  scene.Set(pb_duration, 0.0f);
  scene.Render(0, &second);
  EXPECT_EQ(second.titles, std::vector<std::string>{kRendering});

  // A key setting regenerates.
  RecordingAbort third;
  scene.Set(pb_seed, 99);
  scene.Render(0, &third);
  EXPECT_EQ(third.titles.front(), kCreating);
}

TEST_F(ApplyTest, TwoRendersOfAFrameAreIdentical) {
  const auto a = scene.Render(0);
  const auto b = scene.Render(0);
  EXPECT_EQ(a, b);
  // So is a render by a fresh effect with the same settings.
  RenderScene other;
  other.Set(pb_starscount, 400);
  other.Set(pb_brightstarssize, 2.5f);
  other.Set(pb_dimstarssize, 1.0f);
  EXPECT_EQ(other.Render(0), a);
}

TEST_F(ApplyTest, NoStarsShowsTheTitleButNoProgress) {
  scene.Set(pb_starscount, 0);
  scene.Render(0);  // the empty field is made once
  RecordingAbort cb;
  const auto px = scene.Render(0, &cb);
  EXPECT_EQ(cb.titles, std::vector<std::string>{kRendering});
  EXPECT_TRUE(cb.progress.empty());
  EXPECT_EQ(LitPixels(px), 0);
}

TEST_F(ApplyTest, ANegativeCountFromAScriptDrawsNothing) {
  scene.Set(pb_starscount, -5);
  RecordingAbort cb;
  EXPECT_EQ(LitPixels(scene.Render(0, &cb)), 0);
  EXPECT_TRUE(cb.progress.empty());
}

TEST_F(ApplyTest, ProgressEvery256StarsAfterTheStar) {
  scene.Set(pb_starscount, 256);
  RecordingAbort one;
  scene.Render(0, &one);
  // Generation reports too; the pass's calls come after its title.
  ASSERT_GE(one.progress.size(), 1u);
  EXPECT_EQ(one.progress.back(), std::make_pair(0, 256));

  scene.Set(pb_starscount, 257);
  RecordingAbort two;
  scene.Render(0, &two);
  ASSERT_GE(two.progress.size(), 2u);
  EXPECT_EQ(two.progress[two.progress.size() - 2], std::make_pair(0, 257));
  EXPECT_EQ(two.progress.back(), std::make_pair(256, 257));
}

TEST_F(ApplyTest, AbortAtTheFirstCallLeavesExactlyStarZero) {
  scene.Set(pb_starscount, 300);
  scene.Render(0);  // generate once, so the next render's first progress call is the pass's
  RecordingAbort stop(0);
  const auto aborted = scene.Render(0, &stop);
  ASSERT_EQ(stop.progress.size(), 1u);

  // Star 0 alone, drawn directly: with defaults and a still camera it is an
  // undimmed splat at its projected position.
  const StarRecord& s = scene.fx->starField.stars()[0];
  Bitmap expected(scene.width(), scene.height());
  expected.CreateChannels(6);
  RenderInfo ri;
  ri.SetPerspective(scene.width(), scene.height(), kFov);
  Point3 p;
  ASSERT_TRUE(StarToCamera(s.pos, StarPlacement{}, Matrix3::Identity(),
                           GetCameraViewMatrix(scene.camera, 0, false), p));
  PixelTarget target(&expected, 0);
  if (p.z < 0) target.DrawSplat(ri.MapCamToScreen(p), s.color, s.size);
  std::vector<BMM_Color_64> want(aborted.size());
  for (int y = 0; y < scene.height(); ++y)
    expected.GetPixels(0, y, scene.width(), &want[static_cast<size_t>(y) * scene.width()]);
  EXPECT_EQ(aborted, want);
  EXPECT_NE(aborted, scene.Render(0));
}

TEST_F(ApplyTest, NoRenderInformationDrawsNothing) {
  scene.Render(0);
  Bitmap bare(16, 16, &scene.manager);
  RecordingAbort cb;
  scene.fx->Apply(0, &bare, nullptr, &cb);
  Bitmap none;
  scene.fx->Apply(0, &none, nullptr, &cb);
  scene.fx->Apply(0, nullptr, nullptr, &cb);
  for (const auto& t : cb.titles) EXPECT_NE(t, kRendering);
}

// --- view selection --------------------------------------------------------

TEST_F(ApplyTest, RecognisesTheRenderCameraAndRemembersIt) {
  EXPECT_EQ(scene.GetNode(pb_camera), nullptr);
  const PassSettings pass = scene.Pass(0);
  const auto a = scene.Pixels();
  EXPECT_EQ(scene.GetNode(pb_camera), scene.camera);
  EXPECT_EQ(pass.view.cameraNode, scene.camera);
  // The second render takes the quick check and draws the same.
  EXPECT_EQ(scene.Render(0), a);
}

TEST_F(ApplyTest, UseCameraWithoutAPickedCameraIsTheSameAsOff) {
  const auto off = scene.Render(0);
  scene.Set(pb_camera, static_cast<INode*>(nullptr));
  scene.Set(pb_usecameraflag, 1);
  const PassSettings pass = scene.Pass(0);
  EXPECT_EQ(scene.Pixels(), off);
  EXPECT_EQ(pass.view.useCameraFlag, 0);
}

TEST_F(ApplyTest, APickedCameraThatDoesNotRenderIsReplacedByTheOneThatDoes) {
  INode* other = scene.ip.CreateNode("Side", std::make_unique<CameraObject>(kFov));
  other->SetTransformKeys({LookKey(0, {0, 0, 0}, {1, 0, 0})});
  const auto plain = scene.Render(0);
  scene.Set(pb_camera, other);
  EXPECT_EQ(scene.Render(0), plain);
  EXPECT_EQ(scene.GetNode(pb_camera), scene.camera);
}

TEST_F(ApplyTest, UseCameraTakesThePickedViewWithTheRendersProjection) {
  INode* other = scene.ip.CreateNode("Side", std::make_unique<CameraObject>(kFov));
  other->SetTransformKeys({LookKey(0, {0, 0, 0}, {1, 0, 0})});
  const auto front = scene.Render(0);
  // Rendering through the side camera recognises it.
  const auto side = scene.Render(0, nullptr, other);
  EXPECT_NE(front, side);
  // Picked and used while the front camera renders: the side view.
  scene.Set(pb_camera, other);
  scene.Set(pb_usecameraflag, 1);
  EXPECT_EQ(scene.Render(0), side);
}

TEST_F(ApplyTest, WithoutThe3dDomainOnlyTurningMovesTheStars) {
  const auto still = scene.Render(0);
  scene.camera->SetTransformKeys({LookKey(0, {5, -3, 2}, {5, -2, 2})});  // moved, same direction
  EXPECT_EQ(scene.Render(0), still);
  scene.camera->SetTransformKeys({LookKey(0, {0, 0, 0}, {0.2f, 1, 0})});  // turned
  EXPECT_NE(scene.Render(0), still);

  // Moving the origin object has no effect; turning it turns the field.
  scene.camera->SetTransformKeys({LookKey(0, {0, 0, 0}, {0, 1, 0})});
  INode* origin = scene.ip.CreateNode("Origin", std::make_unique<DummyObject>());
  Matrix3 moved = Matrix3::Identity();
  moved.SetRow(3, Point3(10, 20, 30));
  origin->SetTransformKeys({MatrixKey(0, moved)});
  scene.Set(pb_useobjoriginflag, 1);
  scene.Set(pb_objectorigin, origin);
  EXPECT_EQ(scene.Render(0), still);
  TransformKey turned;
  turned.rotation = Point3(0, 0, 30);
  origin->SetTransformKeys({turned});
  EXPECT_NE(scene.Render(0), still);
}

TEST_F(ApplyTest, UseOriginWithoutAnOriginObjectIsClearedForThePass) {
  const auto plain = scene.Render(0);
  scene.Set(pb_useobjoriginflag, 1);
  const PassSettings pass = scene.Pass(0);
  EXPECT_EQ(scene.Pixels(), plain);
  EXPECT_EQ(pass.view.useObjOriginFlag, 0);
}

TEST_F(ApplyTest, InThe3dDomainMovingTheCameraGivesParallax) {
  scene.Set(pb_starsdomain3dflag, 1);
  scene.Set(pb_starsdomain3dradius, 10.0f);
  const auto a = scene.Render(0);
  EXPECT_GT(LitPixels(a), 0);
  scene.camera->SetTransformKeys({LookKey(0, {0, 2, 0}, {0, 3, 0})});
  EXPECT_NE(scene.Render(0), a);
}

// --- motion blur -----------------------------------------------------------

class MotionBlurTest : public ApplyTest {
 protected:
  // The camera pans from looking at (-0.05, 1, 0) one frame before 0 to
  // looking along +Y at frame 0.
  void Pan() {
    const TimeValue tpf = GetTicksPerFrame();
    scene.camera->SetTransformKeys({LookKey(-tpf, {0, 0, 0}, {-0.05f, 1, 0}), LookKey(0, {0, 0, 0}, {0, 1, 0})});
  }
};

TEST_F(MotionBlurTest, ZeroDurationIsOneSplatWhateverTheSubdivisions) {
  Pan();
  scene.Set(pb_duration, 0.0f);
  const auto one = scene.Render(0);
  scene.Set(pb_durationsubdivisions, 7);
  EXPECT_EQ(scene.Render(0), one);
}

TEST_F(MotionBlurTest, AStillCameraDrawsTheSameWithOrWithoutDuration) {
  const auto blurred = scene.Render(0);  // defaults: duration 0.5, one subdivision
  scene.Set(pb_duration, 0.0f);
  EXPECT_EQ(scene.Render(0), blurred);
}

TEST_F(MotionBlurTest, APanStreaksTheStarsAndDimsThem) {
  Pan();
  scene.Set(pb_duration, 0.0f);
  const auto sharp = scene.Render(0);
  scene.Set(pb_duration, 1.0f);
  scene.Set(pb_starsdimming, 0.0f);
  const auto undimmed = scene.Render(0);
  EXPECT_GT(LitPixels(undimmed), LitPixels(sharp) * 2);
  scene.Set(pb_starsdimming, 0.3f);
  const auto dimmed = scene.Render(0);
  EXPECT_LT(TotalLight(dimmed), TotalLight(undimmed));
  // A white filter undoes the dimming, channel by channel.
  scene.Set(pb_starsdimmingfilter, Color(1, 1, 1));
  EXPECT_EQ(scene.Render(0), undimmed);
}

TEST_F(MotionBlurTest, SubdivisionsFollowTheSamePathWithTheSameDimming) {
  Pan();
  scene.Set(pb_duration, 1.0f);
  const auto one = scene.Render(0);
  scene.Set(pb_durationsubdivisions, 4);
  const auto four = scene.Render(0);
  // A linear pan cut into four segments lights about the same pixels with
  // about the same light.
  EXPECT_NEAR(TotalLight(four) / TotalLight(one), 1.0, 0.25);
  EXPECT_NEAR(static_cast<double>(LitPixels(four)) / LitPixels(one), 1.0, 0.25);
}

TEST_F(MotionBlurTest, FewerThanOneSubdivisionCountsAsOne) {
  Pan();
  scene.Set(pb_duration, 1.0f);
  const auto one = scene.Render(0);
  scene.Set(pb_durationsubdivisions, 0);
  EXPECT_EQ(scene.Render(0), one);
  scene.Set(pb_durationsubdivisions, -3);
  EXPECT_EQ(scene.Render(0), one);
}

TEST_F(MotionBlurTest, StreakDimmingOfThePass) {
  Pan();
  scene.Set(pb_duration, 1.0f);
  scene.Set(pb_durationsubdivisions, 3);
  scene.Set(pb_starsdimming, 0.5f);
  scene.Set(pb_starsdimmingfilter, Color(1, 0, 0));
  const PassSettings::MotionBlur m = scene.Pass(0).motionBlur;
  // D = 3 x 0.5; red undimmed, green and blue by D.
  EXPECT_FLOAT_EQ(m.dimming, 1.5f);
  EXPECT_FLOAT_EQ(m.channelDimming[0], 0.0f);
  EXPECT_FLOAT_EQ(m.channelDimming[1], 1.5f);
  EXPECT_FLOAT_EQ(m.channelDimming[2], 1.5f);
  EXPECT_FLOAT_EQ(m.dimmingFilter[0], 0.0f);
  EXPECT_FLOAT_EQ(m.dimmingFilter[1], 1.0f);
}

TEST(SampleTimes, StepsBackFromTheRenderTime) {
  // 160 ticks a frame, half a frame in two steps: 40 ticks each.
  const float step = 160.0f * (0.5f / 2.0f);
  EXPECT_EQ(SampleTime(1000, 0, step), 1000);
  EXPECT_EQ(SampleTime(1000, 1, step), 960);
  EXPECT_EQ(SampleTime(1000, 2, step), 920);
  EXPECT_EQ(SampleTime(-10, 1, 15.5f), -25);  // -25.5 truncated toward zero
  EXPECT_EQ(SampleTime(TIME_NegInfinity, 1, 1e30f), TIME_NegInfinity);
}

// --- hyperspace ------------------------------------------------------------

TEST_F(ApplyTest, HyperspaceWithDepthZeroChangesNothing) {
  const auto plain = scene.Render(0);
  scene.Set(pb_hyperspaceflag, 1);
  EXPECT_EQ(scene.Render(0), plain);
}

TEST_F(ApplyTest, HyperspaceStretchesEveryStar) {
  const auto plain = scene.Render(0);
  scene.Set(pb_hyperspaceflag, 1);
  scene.Set(pb_hyperspacedepth, 0.5f);
  const auto out = scene.Render(0);
  EXPECT_GT(LitPixels(out), LitPixels(plain) * 2);
  scene.Set(pb_hyperspacedepth, -0.5f);
  const auto in = scene.Render(0);
  EXPECT_GT(LitPixels(in), LitPixels(plain));
  EXPECT_NE(in, out);
}

TEST_F(ApplyTest, ObjectAxisAlongTheViewIsTheImageCentre) {
  scene.Set(pb_hyperspaceflag, 1);
  scene.Set(pb_hyperspacedepth, 0.3f);
  const auto centre = scene.Render(0);
  // An object whose +X axis is world +Y, the camera's view direction.
  INode* dir = scene.ip.CreateNode("Dir", std::make_unique<DummyObject>());
  Matrix3 m = Matrix3::Identity();
  m.SetRow(0, Point3(0, 1, 0));
  m.SetRow(1, Point3(-1, 0, 0));
  dir->SetTransformKeys({MatrixKey(0, m)});
  scene.Set(pb_hyperspacedirection, 1);
  scene.Set(pb_hsdirectionobject, dir);
  EXPECT_EQ(scene.Render(0), centre);
  // Without an object the world X axis is used: a different picture.
  scene.Set(pb_hsdirectionobject, static_cast<INode*>(nullptr));
  EXPECT_NE(scene.Render(0), centre);
}

TEST(HyperspaceShift, InThe3dDomainTheDepthIsAFractionOfTheRadius) {
  RenderScene scene;
  scene.Set(pb_starscount, 10);
  scene.Set(pb_hyperspaceflag, 1);
  scene.Set(pb_hyperspacedepth, 0.5f);
  scene.Set(pb_starsdomain3dflag, 1);
  scene.Set(pb_starsdomain3dradius, 100.0f);
  EXPECT_FLOAT_EQ(scene.Pass(0).hyperspace.depth, 50.0f);
  Hyperspace h;
  h.depth = 50.0f;
  EXPECT_FLOAT_EQ(h.Shift(Point3(1, 2, -80), Matrix3::Identity()).z, -30.0f);
  h.direction = Hyperspace::kObjectXAxis;
  const Point3 moved = h.Shift(Point3(1, 2, -80), Matrix3::Identity());
  EXPECT_FLOAT_EQ(moved.x, -49.0f);  // against the +X axis
  h.direction = 7;
  EXPECT_FLOAT_EQ(h.Shift(Point3(1, 2, -80), Matrix3::Identity()).x, 1.0f);
}

TEST_F(ApplyTest, ScintillationIgnoresHyperspace) {
  scene.Set(pb_scintillationflag, 1);
  const auto a = scene.Render(0);
  scene.Set(pb_hyperspaceflag, 1);
  scene.Set(pb_hyperspacedepth, 0.8f);
  EXPECT_EQ(scene.Render(0), a);
}

}  // namespace
