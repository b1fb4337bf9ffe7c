#include "host/app/render_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>

#include "support/temp_dir.h"
#include "host/app/base/app_error.h"
#include "host/sdk/max_time.h"
#include "plugin/class_desc.h"
#include "support/module_handle.h"
#include "support/stub_class_desc.h"

namespace {

using velumbra::InputError;
using velumbra::ParseScene;
using velumbra::RenderSession;

// What a recording effect saw in one Apply.
struct Seen {
  std::string effect;
  TimeValue t = 0;
  int width = 0, height = 0;
  BMM_Color_64 corner;
  ULONG channels = 0;
  WORD objectId = 0;  // at pixel (1, 0)
  UBYTE materialId = 0;
  RenderInfo info;
  bool hasInfo = false;
  Interface* ip = nullptr;
};

std::vector<Seen> g_seen;

// An effect without parameters that records what the host hands it and
// paints pixel (0, 0) red, so that the order of effects shows.
class RecordingEffect : public Effect {
 public:
  explicit RecordingEffect(DWORD channels) : channels_(channels) {}
  DWORD GBufferChannelsRequired(TimeValue) override { return channels_; }
  RefResult NotifyRefChanged(Interval, RefTargetHandle, PartID&, RefMessage) override { return REF_DONTCARE; }
  void Apply(TimeValue t, Bitmap* bm, RenderGlobalContext*, CheckAbortCallback* cb) override {
    Seen s;
    s.effect = name;
    s.t = t;
    s.width = bm->Width();
    s.height = bm->Height();
    bm->GetPixels(0, 0, 1, &s.corner);
    BitmapStorage* storage = bm->Storage();
    s.channels = storage->ChannelsPresent();
    ULONG type = 0;
    if (auto* ids = static_cast<WORD*>(storage->GetChannel(BMM_CHAN_NODE_ID, type))) s.objectId = ids[1];
    if (auto* ids = static_cast<UBYTE*>(storage->GetChannel(BMM_CHAN_MTL_ID, type))) s.materialId = ids[1];
    if (RenderInfo* ri = storage->GetRenderInfo()) s.info = *ri, s.hasInfo = true;
    s.ip = bm->Manager() ? bm->Manager()->Max() : nullptr;
    g_seen.push_back(s);
    const BMM_Color_64 red{65280, 0, 0, 65280};
    bm->PutPixels(0, 0, 1, &red);
    if (cb) cb->Progress(1, 1);
  }

 private:
  DWORD channels_;
};

// A class of RecordingEffects that ask for `channels`.
StubClassDesc RecordingDesc(DWORD channels) {
  return StubClassDesc("Recorder", Class_ID(1, 2), nullptr,
                       [channels] { return static_cast<Effect*>(new RecordingEffect(channels)); });
}

class StopAfterApply : public CheckAbortCallback {
 public:
  BOOL Check() override { return stop ? TRUE : FALSE; }
  BOOL Progress(int, int) override { return Check(); }
  void SetTitle(const MCHAR*) override {}
  bool stop = false;
};

class FrameDriver : public ::testing::Test {
 protected:
  void SetUp() override { g_seen.clear(); }
  void TearDown() override { SetTicksPerFrame(160); }

  velumbra::ClassLookup Lookup() {
    return [this](const std::string& name) -> ClassDesc* {
      if (name == "Recorder") return &nodeIds_;
      if (name == "MtlRecorder") return &materialIds_;
      if (name == "Qe_Velumbra") return GetQe_VelumbraDesc();
      return nullptr;
    };
  }

  velumbra::SceneDesc Scene(const std::string& render, const std::string& effects) {
    return ParseScene(R"({"fps": 24, "render": {"width": 8, "height": 4)" + render + R"(},
      "nodes": [{"name": "Cam", "type": "camera", "fov": 90, "position": [1, 2, 3],
                 "keys": [{"frame": 0, "target": [1, 3, 3]}, {"frame": 10, "target": [2, 2, 3]}]}],
      "effects": [)" + effects + "]}",
                      "shot.json", dir_.Path());
  }

  std::string ErrorOf(const velumbra::SceneDesc& scene) {
    try {
      RenderSession session(scene, Lookup());
    } catch (const InputError& e) {
      return e.what();
    }
    return "accepted";
  }

  ScopedInstance instance_;
  TempDir dir_;
  StubClassDesc nodeIds_ = RecordingDesc(BMM_CHAN_NODE_ID);
  StubClassDesc materialIds_ = RecordingDesc(BMM_CHAN_MTL_ID);
};

TEST_F(FrameDriver, EffectsRunInOrderOnTheBackground) {
  RenderSession session(Scene(R"(, "background": [1, 0.5, 0, 1.00390625])",
                              R"({"class": "Recorder", "name": "first"}, {"class": "Recorder", "name": "second"})"),
                        Lookup());
  const auto bitmap = session.RenderFrame(5, nullptr);
  ASSERT_NE(bitmap, nullptr);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0].effect, "first");
  EXPECT_EQ(g_seen[1].effect, "second");
  // 1.0 is 65280; the largest background value is 65535.
  EXPECT_EQ(g_seen[0].corner, (BMM_Color_64{65280, 32640, 0, 65535}));
  // The second effect sees what the first painted.
  EXPECT_EQ(g_seen[1].corner, (BMM_Color_64{65280, 0, 0, 65280}));
  EXPECT_EQ(g_seen[0].width, 8);
  EXPECT_EQ(g_seen[0].height, 4);
  EXPECT_EQ(g_seen[0].t, 5 * 200);  // 24 fps: 200 ticks a frame
  EXPECT_EQ(g_seen[0].ip, &session.Host());
  BMM_Color_64 other;
  ASSERT_TRUE(bitmap->GetPixels(7, 3, 1, &other));
  EXPECT_EQ(other, (BMM_Color_64{65280, 32640, 0, 65535}));
}

TEST_F(FrameDriver, RenderInfoIsTheCameraAtTheFrame) {
  RenderSession session(Scene("", R"({"class": "Recorder"})"), Lookup());
  for (int frame : {0, 5, 10}) {
    g_seen.clear();
    session.RenderFrame(frame, nullptr);
    ASSERT_EQ(g_seen.size(), 1u);
    ASSERT_TRUE(g_seen[0].hasInfo);
    const RenderInfo& ri = g_seen[0].info;
    const TimeValue t = frame * 200;
    EXPECT_EQ(ri.renderTime[0], t);
    const Matrix3 camToWorld = session.Camera()->GetNodeTM(t);
    // The camera's own position maps to the camera-space origin, and a point
    // ahead of it on its -Z axis to the image centre.
    const Point3 origin = ri.worldToCam[0].PointTransform(camToWorld.GetTrans());
    EXPECT_NEAR(origin.x, 0.0f, 1e-5f);
    EXPECT_NEAR(origin.z, 0.0f, 1e-5f);
    const Point3 ahead = camToWorld.PointTransform({0, 0, -5});
    // 8 x 4 pixels centred at 0..7 and 0..3: the grid's centre is (3.5, 1.5).
    const Point2 centre = ri.MapCamToScreen(ri.worldToCam[0].PointTransform(ahead));
    EXPECT_NEAR(centre.x, 3.5f, 1e-4f);
    EXPECT_NEAR(centre.y, 1.5f, 1e-4f);
    // 90 degrees across 8 pixels: kx = 4 / tan(45 degrees).
    EXPECT_NEAR(ri.kx, 4.0f, 1e-5f);
  }
  // Halfway through the pan the camera looks between its two targets.
  g_seen.clear();
  session.RenderFrame(5, nullptr);
  const Point3 view = session.Camera()->GetNodeTM(1000).VectorTransform({0, 0, -1});
  EXPECT_NEAR(view.x, view.y, 1e-5f);
}

TEST_F(FrameDriver, GBufferChannelsComeFromTheEffectsAndTheIdImages) {
  std::vector<WORD> objectIds(8 * 4, 0);
  objectIds[1] = 4321;
  std::vector<UBYTE> materialIds(8 * 4, 0);
  materialIds[1] = 12;
  velumbra::WriteObjectIdPng(dir_ / "ids.png", 8, 4, objectIds.data());
  velumbra::WriteMaterialIdPng(dir_ / "mtl.png", 8, 4, materialIds.data());
  const std::string ids = R"(, "objectId": "ids.png", "materialId": "mtl.png")";

  {
    RenderSession session(Scene(ids, R"({"class": "Recorder"})"), Lookup());
    session.RenderFrame(0, nullptr);
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].channels, BMM_CHAN_NODE_ID);  // only what the effect asked for
    EXPECT_EQ(g_seen[0].objectId, 4321);
  }
  g_seen.clear();
  {
    RenderSession session(Scene(ids, R"({"class": "Recorder"}, {"class": "MtlRecorder"})"), Lookup());
    session.RenderFrame(0, nullptr);
    ASSERT_EQ(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[0].channels, BMM_CHAN_NODE_ID | BMM_CHAN_MTL_ID);  // the union, for every effect
    EXPECT_EQ(g_seen[0].materialId, 12);
  }
  g_seen.clear();
  {
    // Channels the caller needs (for --ids) are zero without an ID image.
    RenderSession session(Scene("", R"({"class": "Recorder"})"), Lookup());
    const auto bitmap = session.RenderFrame(0, nullptr, BMM_CHAN_MTL_ID);
    EXPECT_EQ(g_seen[0].channels, BMM_CHAN_NODE_ID | BMM_CHAN_MTL_ID);
    EXPECT_EQ(g_seen[0].objectId, 0);
    EXPECT_EQ(g_seen[0].materialId, 0);
  }
}

TEST_F(FrameDriver, AbortReturnsNoBitmap) {
  RenderSession session(Scene("", R"({"class": "Recorder"}, {"class": "Recorder"})"), Lookup());
  StopAfterApply abort;
  EXPECT_NE(session.RenderFrame(0, &abort), nullptr);
  g_seen.clear();
  abort.stop = true;
  EXPECT_EQ(session.RenderFrame(0, &abort), nullptr);
  EXPECT_EQ(g_seen.size(), 1u);  // the second effect never ran
}

TEST_F(FrameDriver, BadInputsNameTheirPlace) {
  EXPECT_NE(ErrorOf(Scene("", R"({"class": "Missing"})")).find("shot.json: /effects/0/class: no loaded module"),
            std::string::npos);
  const std::string params = ErrorOf(Scene("", R"({"class": "Recorder", "params": {"x": 1}})"));
  EXPECT_NE(params.find("/effects/0/params: the class \"Recorder\" has no parameters"), std::string::npos) << params;

  std::vector<WORD> ids(3 * 3, 0);
  velumbra::WriteObjectIdPng(dir_ / "small.png", 3, 3, ids.data());
  const std::string size = ErrorOf(Scene(R"(, "objectId": "small.png")", R"({"class": "Recorder"})"));
  EXPECT_NE(size.find("shot.json: /render/objectId: "), std::string::npos) << size;
  EXPECT_NE(size.find("is 3 x 3 pixels, but the render is 8 x 4"), std::string::npos) << size;

  const std::string missing = ErrorOf(Scene(R"(, "image": "nothere.png")", R"({"class": "Recorder"})"));
  EXPECT_NE(missing.find("shot.json: /render/image: "), std::string::npos) << missing;
  EXPECT_NE(missing.find("nothere.png"), std::string::npos) << missing;
}

TEST_F(FrameDriver, SetOptionsReachEveryEffectThatHasTheParameter) {
  const auto scene = Scene("", R"({"class": "Recorder"}, {"class": "Qe_Velumbra", "params": {"seed": 3}},
                                  {"class": "Qe_Velumbra"})");
  RenderSession session(scene, Lookup(), {velumbra::ParseSetOption("seed=99", 200)});
  for (size_t i : {1u, 2u}) {
    IParamBlock2* block = session.Effects()[i]->GetParamBlock(0);
    int seed = 0;
    Interval valid;
    block->GetValue(block->IndexToID(block->FindParamByName("seed")), 0, seed, valid);
    EXPECT_EQ(seed, 99);
  }
  try {
    RenderSession bad(Scene("", R"({"class": "Recorder"})"), Lookup(), {velumbra::ParseSetOption("seed=1", 200)});
    ADD_FAILURE() << "a --set no effect knows was accepted";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("--set seed=1"), std::string::npos) << e.what();
  }
}

TEST_F(FrameDriver, FramesOutsideTheHostsTimeAreRefused) {
  RenderSession session(Scene("", ""), Lookup());
  EXPECT_EQ(session.FrameTime(-3), -600);
  EXPECT_THROW(session.FrameTime(20000000), InputError);
}

}  // namespace

// A star catalogue the scene names relative to its own folder: a damaged
// line fails the frame as bad input (exit status 2) naming the file and
// line; the catalogue's stars draw once it is mended.
TEST(FrameDriverSky, ACatalogueResolvesFromTheScenesFolderAndItsFaultsAreBadInput) {
  ScopedInstance instance;
  TempDir dir;
  const auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
  };
  write("shot.json", R"({"render": {"width": 64, "height": 48},
    "nodes": [{"name": "Cam", "type": "camera", "fov": 30, "position": [0, 0, 0], "target": [0, 1, 0]}],
    "effects": [{"class": "Qe_Velumbra", "params": {"starsource": 1, "catalogfile": "stars.bsc"}}]})");
  write("stars.bsc", "# two stars\n  0.0000  6.0000  2.00 \"  1Tst Cat\" 1 2 3\n  0.5000  6.0x00  3.00 \"x\" 2 3 4\n");
  const velumbra::ClassLookup lookup = [](const std::string& name) -> ClassDesc* {
    return name == "Qe_Velumbra" ? GetQe_VelumbraDesc() : nullptr;
  };
  {
    RenderSession session(velumbra::LoadSceneFile(dir / "shot.json"), lookup);
    try {
      session.RenderFrame(0, nullptr);
      ADD_FAILURE() << "a damaged catalogue rendered";
    } catch (const InputError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind("frame 0: ", 0), 0u) << what;
      EXPECT_NE(what.find((dir / "stars.bsc").string() + ":3: "), std::string::npos) << what;
    }
  }
  write("stars.bsc", "# two stars\n  0.0000  6.0000  2.00 \"  1Tst Cat\" 1 2 3\n");
  RenderSession session(velumbra::LoadSceneFile(dir / "shot.json"), lookup);
  const std::unique_ptr<Bitmap> frame = session.RenderFrame(0, nullptr);
  ASSERT_NE(frame, nullptr);
  // RA 6h Dec 0 lies along +y: the star sits at the frame's centre.
  BMM_Color_64 centre;
  ASSERT_EQ(frame->GetPixels(31, 23, 1, &centre), 1);
  EXPECT_GT(centre.g, 0);
  GetFileService()->SetFolder({});
}
