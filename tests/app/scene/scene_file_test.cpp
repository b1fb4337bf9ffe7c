#include "host/app/scene/scene_check.h"
#include "host/app/scene/scene_file.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "host/app/base/app_error.h"

namespace {

using velumbra::InputError;
using velumbra::NodeType;
using velumbra::ParseScene;
using velumbra::SceneDesc;

// The example scene of the user documentation.
const char* const kExample = R"({
  "fps": 30,
  "render": {
    "width": 640, "height": 480, "frame": 0, "camera": "Camera001",
    "background": [0, 0, 0, 0],
    "image": "beauty.png",
    "objectId": "ids.png", "materialId": "passes.exr:MaterialID"
  },
  "nodes": [
    { "name": "Camera001", "type": "camera", "fov": 45,
      "position": [0, 0, 0], "target": [0, 1, 0],
      "keys": [ { "frame": 0,  "position": [0, 0, 0], "target": [0, 1, 0] },
                { "frame": 30, "position": [0, 0, 0], "target": [1, 1, 0] } ] },
    { "name": "Origin", "type": "dummy", "parent": null,
      "position": [0, 0, 0], "rotation": [0, 0, 45], "scale": [1, 1, 1] }
  ],
  "effects": [
    { "class": "Qe_Velumbra", "name": "Stars",
      "params": { "starscount": 20000, "brightstarscolor": [1, 0.9, 0.8],
                  "usecameraflag": 0, "camera": "Camera001",
                  "duration": { "keys": [[0, 0.5], [30, 2.0]] } } }
  ]
})";

TEST(SceneFile, ReadsTheDocumentedExample) {
  const SceneDesc s = ParseScene(kExample, "scene.json", "/shots/a");
  EXPECT_EQ(s.source, "scene.json");
  EXPECT_EQ(s.fps, 30);
  EXPECT_EQ(s.TicksPerFrame(), 160);
  EXPECT_EQ(s.render.width, 640);
  EXPECT_EQ(s.render.height, 480);
  EXPECT_EQ(s.render.camera, "Camera001");
  EXPECT_EQ(s.render.image, std::filesystem::path("/shots/a/beauty.png"));
  ASSERT_TRUE(s.render.objectId);
  EXPECT_EQ(s.render.objectId->path, "/shots/a/ids.png");
  EXPECT_EQ(s.render.objectId->channel, "");
  ASSERT_TRUE(s.render.materialId);
  EXPECT_EQ(s.render.materialId->path, "/shots/a/passes.exr");
  EXPECT_EQ(s.render.materialId->channel, "MaterialID");

  ASSERT_EQ(s.nodes.size(), 2u);
  const auto& cam = s.nodes[0];
  EXPECT_EQ(cam.type, NodeType::Camera);
  EXPECT_EQ(cam.fov, 45);
  ASSERT_EQ(cam.keys.size(), 2u);
  EXPECT_EQ(cam.keys[1].frame, 30);
  EXPECT_EQ(cam.keys[1].fields.target, (velumbra::Vec3{1, 1, 0}));
  const auto& origin = s.nodes[1];
  EXPECT_EQ(origin.type, NodeType::Dummy);
  EXPECT_FALSE(origin.parent);
  EXPECT_EQ(origin.transform.rotation, (velumbra::Vec3{0, 0, 45}));

  ASSERT_EQ(s.effects.size(), 1u);
  const auto& fx = s.effects[0];
  EXPECT_EQ(fx.className, "Qe_Velumbra");
  EXPECT_EQ(fx.name, "Stars");
  ASSERT_EQ(fx.params.size(), 5u);
  const auto param = [&](const std::string& name) -> const velumbra::ParamDesc& {
    for (const auto& p : fx.params)
      if (p.name == name) return p;
    throw std::runtime_error("no param " + name);
  };
  EXPECT_EQ(param("starscount").value, 20000);
  EXPECT_EQ(param("camera").value, "Camera001");
  EXPECT_EQ(param("brightstarscolor").value, nlohmann::json::parse("[1, 0.9, 0.8]"));
  const auto& duration = param("duration");
  EXPECT_TRUE(duration.keyed);
  EXPECT_EQ(duration.jsonPath, "/effects/0/params/duration");
  ASSERT_EQ(duration.keys.size(), 2u);
  EXPECT_EQ(duration.keys[1].first, 30);
  EXPECT_EQ(duration.keys[1].second, 2.0);
}

TEST(SceneFile, EverythingIsOptionalButACamera) {
  const SceneDesc s = ParseScene(R"({"nodes": [{"name": "c", "type": "camera"}]})", "s.json", "");
  EXPECT_EQ(s.fps, 30);
  EXPECT_EQ(s.render.width, 640);
  EXPECT_EQ(s.render.height, 480);
  EXPECT_EQ(s.nodes[0].fov, 45);
  ASSERT_NE(s.RenderCamera(), nullptr);
  EXPECT_EQ(s.RenderCamera()->name, "c");  // the first camera when none is named
  EXPECT_TRUE(s.effects.empty());
}

struct ErrorCase {
  const char* what;
  const char* document;
  const char* message;  // must appear in the error, after "s.json: "
};

// One bad document per class of error; each names where the fault is.
const ErrorCase kErrors[] = {
    {"syntax", "{\n  \"fps\": 30,\n  \"render\": x\n}", "s.json:3:13: syntax error"},
    {"trailing comma", "{\"fps\": 30,}", "s.json:1:12: syntax error"},
    {"number overflow", R"({"fps": 1e999})", "s.json: /fps: number overflow parsing '1e999'"},
    {"not an object", "[1, 2]", "s.json: top level: expected an object, got [1,2]"},
    {"unknown top key", R"({"nodez": []})",
     "s.json: /nodez: unknown key (did you mean \"nodes\"?); expected one of: $schema, fps, render, nodes, effects"},
    {"duplicate key", R"({"render": {"width": 10, "width": 20}})",
     "s.json: /render/width: the key is given twice in one object"},
    {"duplicate key deep", R"({"nodes": [{"name": "a", "type": "camera"}, {"name": "b", "type": "dummy", "keys": [{"frame": 1, "position": [0,0,0], "position": [1,1,1]}]}]})",
     "s.json: /nodes/1/keys/0/position: the key is given twice"},
    {"fps type", R"({"fps": "30"})",
     "s.json: /fps: expected a number or a fraction such as \"24000/1001\", got \"30\""},
    {"fps fraction", R"({"fps": "24000/0"})", "s.json: /fps: expected a number or a fraction"},
    {"fps fraction not ntsc", R"({"fps": "47/2"})", "s.json: /fps: fps 23.5 gives"},
    {"fps zero", R"({"fps": 0})", "s.json: /fps: expected a number in (0, 4800], got 0"},
    {"fps whole ticks", R"({"fps": 29.5})",
     "s.json: /fps: fps 29.5 gives 162.7118644 ticks per frame; the frame rate must divide 4800 ticks per second into a whole number of ticks, or be an NTSC rate such as 23.976, 29.97 or 59.94 (for example 25 or 30)"},
    {"fps near ntsc", R"({"fps": 29.9})", "an NTSC rate such as 23.976"},
    {"fps seven", R"({"fps": 7})", "(for example 6 or 8)"},
    {"width type", R"({"render": {"width": "640"}})", "s.json: /render/width: expected an integer in 1..65535, got \"640\""},
    {"width fraction", R"({"render": {"width": 640.5}})", "s.json: /render/width: expected an integer in 1..65535, got 640.5"},
    {"height zero", R"({"render": {"height": 0}})", "s.json: /render/height: expected an integer in 1..65535, got 0"},
    {"too many pixels", R"({"render": {"width": 60000, "height": 60000}})",
     "s.json: /render: 60000 x 60000 pixels is more than the limit of 268435456"},
    {"frame out of time", R"({"render": {"frame": 20000000}})",
     "s.json: /render/frame: expected an integer in -13421772..13421772, got 20000000"},
    {"background length", R"({"render": {"background": [0, 0, 0]}})",
     "s.json: /render/background: expected 4 numbers [r, g, b, a], got [0,0,0]"},
    {"background range", R"({"render": {"background": [0, 0, 2, 0]}})",
     "s.json: /render/background/2: expected a number in [0, 1.00390625], got 2"},
    {"image empty", R"({"render": {"image": ""}})", "s.json: /render/image: expected a non-empty string, got \"\""},
    {"render unknown key", R"({"render": {"widht": 3}})", "s.json: /render/widht: unknown key (did you mean \"width\"?)"},
    {"nodes type", R"({"nodes": {}})", "s.json: /nodes: expected an array, got {}"},
    {"node without name", R"({"nodes": [{"type": "camera"}]})", "s.json: /nodes/0: a node needs a \"name\""},
    {"node without type", R"({"nodes": [{"name": "a"}]})", "s.json: /nodes/0: a node needs a \"type\""},
    {"node type", R"({"nodes": [{"name": "a", "type": "light"}]})",
     "s.json: /nodes/0/type: expected \"camera\" or \"dummy\", got \"light\""},
    {"fov word", R"({"nodes": [{"name": "a", "type": "camera"}, {"name": "b", "type": "camera", "fov": "wide"}]})",
     "s.json: /nodes/1/fov: expected a number in (0, 180), got \"wide\""},
    {"fov range", R"({"nodes": [{"name": "a", "type": "camera", "fov": 180}]})",
     "s.json: /nodes/0/fov: expected a number in (0, 180), got 180"},
    {"fov on dummy", R"({"nodes": [{"name": "a", "type": "camera"}, {"name": "d", "type": "dummy", "fov": 30}]})",
     "s.json: /nodes/1/fov: only cameras have a field of view"},
    {"duplicate name", R"({"nodes": [{"name": "a", "type": "camera"}, {"name": "a", "type": "dummy"}]})",
     "s.json: /nodes/1/name: a node named \"a\" already exists (/nodes/0)"},
    {"unknown parent", R"({"nodes": [{"name": "a", "type": "camera", "parent": "nobody"}]})",
     "s.json: /nodes/0/parent: no node named \"nobody\""},
    {"self parent", R"({"nodes": [{"name": "a", "type": "camera", "parent": "a"}]})",
     "s.json: /nodes/0/parent: the parents make a cycle: a -> a"},
    {"cycle", R"({"nodes": [{"name": "c", "type": "camera"}, {"name": "x", "type": "dummy", "parent": "y"},
                 {"name": "y", "type": "dummy", "parent": "z"}, {"name": "z", "type": "dummy", "parent": "x"}]})",
     "s.json: /nodes/1/parent: the parents make a cycle: x -> y -> z -> x"},
    {"parent type", R"({"nodes": [{"name": "a", "type": "camera", "parent": 3}]})",
     "s.json: /nodes/0/parent: expected a non-empty string, got 3"},
    {"vector length", R"({"nodes": [{"name": "a", "type": "camera", "position": [1, 2]}]})",
     "s.json: /nodes/0/position: expected 3 numbers [x, y, z], got [1,2]"},
    {"vector element", R"({"nodes": [{"name": "a", "type": "camera", "target": [1, null, 2]}]})",
     "s.json: /nodes/0/target/1: expected a finite number, got null"},
    {"matrix and position", R"({"nodes": [{"name": "a", "type": "camera", "position": [0,0,0],
                               "matrix": [[1,0,0],[0,1,0],[0,0,1],[0,0,0]]}]})",
     "s.json: /nodes/0: matrix cannot be combined with position, target, rotation or scale"},
    {"matrix shape", R"({"nodes": [{"name": "a", "type": "camera", "matrix": [[1,0,0],[0,1,0],[0,0,1]]}]})",
     "s.json: /nodes/0/matrix: expected 4 rows of 3 numbers"},
    {"singular matrix", R"({"nodes": [{"name": "a", "type": "camera", "matrix": [[1,0,0],[2,0,0],[0,0,1],[0,0,0]]}]})",
     "s.json: /nodes/0/matrix: the matrix is singular"},
    {"target and rotation", R"({"nodes": [{"name": "a", "type": "camera", "target": [0,1,0], "rotation": [0,0,0]}]})",
     "s.json: /nodes/0: target cannot be combined with rotation or scale"},
    {"zero scale", R"({"nodes": [{"name": "a", "type": "camera"}, {"name": "d", "type": "dummy", "scale": [1, 0, 1]}]})",
     "s.json: /nodes/1/scale/1: a scale of 0 makes the transform singular"},
    {"key without frame", R"({"nodes": [{"name": "a", "type": "camera", "keys": [{"position": [0,0,0]}]}]})",
     "s.json: /nodes/0/keys/0: a key needs a \"frame\""},
    {"empty key", R"({"nodes": [{"name": "a", "type": "camera", "keys": [{"frame": 3}]}]})",
     "s.json: /nodes/0/keys/0: a key needs at least one of matrix, position, target, rotation, scale"},
    {"key unknown field", R"({"nodes": [{"name": "a", "type": "camera", "keys": [{"frame": 3, "lens": 30}]}]})",
     "s.json: /nodes/0/keys/0/lens: unknown key"},
    {"key fov range", R"({"nodes": [{"name": "a", "type": "camera", "keys": [{"frame": 3, "fov": 0}]}]})",
     "s.json: /nodes/0/keys/0/fov: expected a number in (0, 180), got 0"},
    {"key fov on dummy", R"({"nodes": [{"name": "a", "type": "camera"}, {"name": "d", "type": "dummy", "keys": [{"frame": 3, "fov": 30}]}]})",
     "s.json: /nodes/1/keys/0/fov: only cameras have a lens to key"},
    {"shift shape", R"({"nodes": [{"name": "a", "type": "camera", "shift": [0.1]}]})",
     "s.json: /nodes/0/shift: expected 2 numbers [x, y], got [0.1]"},
    {"shift range", R"({"nodes": [{"name": "a", "type": "camera", "keys": [{"frame": 1, "shift": [0, 1e30]}]}]})",
     "s.json: /nodes/0/keys/0/shift/1: expected a number in [-100, 100]"},
    {"shift on dummy", R"({"nodes": [{"name": "a", "type": "camera"}, {"name": "d", "type": "dummy", "shift": [0, 0]}]})",
     "s.json: /nodes/1/shift: only cameras have a lens shift"},
    {"chan without file", R"({"nodes": [{"name": "a", "type": "camera", "chan": {"up": "y"}}]})",
     "s.json: /nodes/0/chan: a .chan camera needs a \"file\""},
    {"chan up", R"({"nodes": [{"name": "a", "type": "camera", "chan": {"file": "c.chan", "up": "x"}}]})",
     "s.json: /nodes/0/chan/up: expected \"y\" or \"z\", got \"x\""},
    {"chan order", R"({"nodes": [{"name": "a", "type": "camera", "chan": {"file": "c.chan", "rotationOrder": "XXY"}}]})",
     "s.json: /nodes/0/chan/rotationOrder: expected one of XYZ, XZY, YXZ, YZX, ZXY, ZYX"},
    {"chan and transform", R"({"nodes": [{"name": "a", "type": "camera", "position": [0,0,0], "chan": {"file": "c.chan"}}]})",
     "s.json: /nodes/0/position: the camera's transform comes from its .chan file"},
    {"chan and transform key", R"({"nodes": [{"name": "a", "type": "camera", "chan": {"file": "c.chan"}, "keys": [{"frame": 1, "position": [0,0,0]}]}]})",
     "s.json: /nodes/0/keys/0: the camera's transform comes from its .chan file; its keys may give fov and shift only"},
    {"chan on dummy", R"({"nodes": [{"name": "a", "type": "camera"}, {"name": "d", "type": "dummy", "chan": {"file": "c.chan"}}]})",
     "s.json: /nodes/1/chan: only cameras take a .chan file"},
    {"key frame twice", R"({"nodes": [{"name": "a", "type": "camera", "keys": [{"frame": 3, "position": [0,0,0]}, {"frame": 3, "position": [1,0,0]}]}]})",
     "s.json: /nodes/0/keys/1/frame: frame 3 is keyed twice (also /nodes/0/keys/0)"},
    {"key frame fraction", R"({"nodes": [{"name": "a", "type": "camera", "keys": [{"frame": 1.5, "position": [0,0,0]}]}]})",
     "s.json: /nodes/0/keys/0/frame: expected an integer in"},
    {"key mixes with node", R"({"nodes": [{"name": "a", "type": "camera", "target": [0,1,0], "keys": [{"frame": 0, "rotation": [0,0,90]}]}]})",
     "s.json: /nodes/0/keys/0: target cannot be combined with rotation or scale (fields a key leaves out come from the node's own fields)"},
    {"camera unknown", R"({"render": {"camera": "Cam"}, "nodes": [{"name": "a", "type": "camera"}]})",
     "s.json: /render/camera: no node named \"Cam\""},
    {"camera is dummy", R"({"render": {"camera": "d"}, "nodes": [{"name": "d", "type": "dummy"}]})",
     "s.json: /render/camera: \"d\" is a dummy, not a camera"},
    {"effect without class", R"({"nodes": [{"name": "c", "type": "camera"}], "effects": [{"name": "x"}]})",
     "s.json: /effects/0: an effect needs a \"class\""},
    {"effect unknown key", R"({"nodes": [{"name": "c", "type": "camera"}], "effects": [{"class": "Qe_Velumbra", "param": {}}]})",
     "s.json: /effects/0/param: unknown key (did you mean \"params\"?)"},
    {"params type", R"({"nodes": [{"name": "c", "type": "camera"}], "effects": [{"class": "Qe_Velumbra", "params": []}]})",
     "s.json: /effects/0/params: expected an object, got []"},
    {"param null", R"({"nodes": [{"name": "c", "type": "camera"}], "effects": [{"class": "Qe_Velumbra", "params": {"seed": null}}]})",
     "s.json: /effects/0/params/seed: expected a value, got null"},
    {"param object", R"({"nodes": [{"name": "c", "type": "camera"}], "effects": [{"class": "Qe_Velumbra", "params": {"seed": {"value": 3}}}]})",
     "s.json: /effects/0/params/seed: expected a value or {\"keys\": [[frame, value], ...]}, got {\"value\":3}"},
    {"param keys and more", R"({"nodes": [{"name": "c", "type": "camera"}], "effects": [{"class": "Qe_Velumbra", "params": {"seed": {"keys": [[0, 1]], "ease": 1}}}]})",
     "s.json: /effects/0/params/seed/ease: unknown key; expected one of: keys"},
    {"param key shape", R"({"nodes": [{"name": "c", "type": "camera"}], "effects": [{"class": "Qe_Velumbra", "params": {"seed": {"keys": [[0, 1, 2]]}}}]})",
     "s.json: /effects/0/params/seed/keys/0: expected a key [frame, value], got [0,1,2]"},
    {"param keys empty", R"({"nodes": [{"name": "c", "type": "camera"}], "effects": [{"class": "Qe_Velumbra", "params": {"seed": {"keys": []}}}]})",
     "s.json: /effects/0/params/seed/keys: expected at least one [frame, value] key"},
    {"param key frame twice", R"({"nodes": [{"name": "c", "type": "camera"}], "effects": [{"class": "Qe_Velumbra", "params": {"seed": {"keys": [[4, 1], [4, 2]]}}}]})",
     "s.json: /effects/0/params/seed/keys/1/0: frame 4 is keyed twice"},
    {"param key value", R"({"nodes": [{"name": "c", "type": "camera"}], "effects": [{"class": "Qe_Velumbra", "params": {"tint": {"keys": [[0, [1, null, 0]]]}}}]})",
     "s.json: /effects/0/params/tint/keys/0/1/1: expected a value, got null"},
    {"pointer escaping", R"({"nodes": [{"name": "c", "type": "camera"}], "effects": [{"class": "Qe_Velumbra", "params": {"a/b~c": null}}]})",
     "s.json: /effects/0/params/a~1b~0c: expected a value"},
};

TEST(SceneFile, ErrorsNameTheFileAndTheJsonPath) {
  for (const ErrorCase& c : kErrors) {
    SCOPED_TRACE(c.what);
    try {
      ParseScene(c.document, "s.json", "/base");
      ADD_FAILURE() << "accepted: " << c.document;
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << "message: " << e.what() << "\nexpected: " << c.message;
    }
  }
}

TEST(SceneFile, DeepNestingIsRefusedNotACrash) {
  // A hostile file: a million nested arrays in a parameter value.
  const std::string deep = R"({"effects": [{"class": "X", "params": {"p": )" + std::string(1000000, '[') +
                           std::string(1000000, ']') + "}}]}";
  try {
    ParseScene(deep, "s.json", "");
    ADD_FAILURE();
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("s.json: /effects/0/params/p/0/0/0/0"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("values nested more than 32 levels deep"), std::string::npos);
  }
  // Ordinary depths are fine.
  EXPECT_NO_THROW(ParseScene(R"({"nodes": [{"name": "c", "type": "camera"}], "effects": [{"class": "X", "params": {"p": [[[[1]]]]}}]})",
                             "s.json", ""));
}

TEST(SceneFile, FrameRatesThatDivideIntoWholeTicks) {
  for (double fps : {1.0, 12.5, 24.0, 25.0, 30.0, 48.0, 60.0, 4800.0}) {
    const std::string doc =
        "{\"fps\": " + nlohmann::json(fps).dump() + ", \"nodes\": [{\"name\": \"c\", \"type\": \"camera\"}]}";
    const SceneDesc s = ParseScene(doc, "s.json", "");
    EXPECT_EQ(s.TicksPerFrame() * fps, 4800.0) << fps;
  }
  // The frame range follows the rate: 4800 ticks a frame at 1 fps.
  EXPECT_THROW(ParseScene(R"({"fps": 1, "render": {"frame": 447393}, "nodes": [{"name": "c", "type": "camera"}]})", "s", ""),
               InputError);
  EXPECT_NO_THROW(ParseScene(R"({"fps": 1, "render": {"frame": -447392}, "nodes": [{"name": "c", "type": "camera"}]})", "s", ""));
}

TEST(SceneFile, NtscRatesTakeTheTicksOfTheWholeRate) {
  const struct {
    const char* fps;
    int ticks;
  } cases[] = {{"23.976", 200}, {"\"24000/1001\"", 200}, {"29.97", 160},       {"\"30000/1001\"", 160},
               {"47.952", 100}, {"59.94", 80},           {"\"60000/1001\"", 80}, {"119.88", 40}};
  for (const auto& c : cases) {
    const SceneDesc s =
        ParseScene(std::string("{\"fps\": ") + c.fps + ", \"nodes\": [{\"name\": \"c\", \"type\": \"camera\"}]}", "s.json", "");
    EXPECT_EQ(s.TicksPerFrame(), c.ticks) << c.fps;
  }
  // Close to an NTSC rate is not one; a whole rate that does not divide 4800
  // has no NTSC rate either (7 x 1000/1001).
  for (double fps : {23.97, 23.98, 29.96, 7000.0 / 1001.0})
    EXPECT_EQ(velumbra::scene_check::WholeTicksPerFrame(fps), 0) << fps;
  // Saved and read again, the rate is the same.
  const SceneDesc s = ParseScene(R"({"fps": "24000/1001", "nodes": [{"name": "c", "type": "camera"}]})", "s.json", "");
  EXPECT_EQ(ParseScene(velumbra::SceneToJson(s, ""), "t.json", "").TicksPerFrame(), 200);
}

TEST(SceneFile, RelativePathsResolveFromTheSceneFolder) {
  TempDir dir;
  std::filesystem::create_directories(dir / "shots/a");
  WriteAll(dir / "shots/a/scene.json", R"({"render": {"image": "../plates/b.png", "objectId": "/abs/ids.exr:IndexOB"},
                                          "nodes": [{"name": "c", "type": "camera"}]})");
  const SceneDesc s = velumbra::LoadSceneFile(dir / "shots/a/scene.json");
  EXPECT_EQ(s.render.image, dir / "shots/plates/b.png");
  EXPECT_EQ(s.render.objectId->path, "/abs/ids.exr");
  EXPECT_EQ(s.render.objectId->channel, "IndexOB");
  EXPECT_EQ(s.source, (dir / "shots/a/scene.json").string());
}

TEST(SceneFile, AFolderIsNotASceneFile) {
  TempDir dir;
  try {
    velumbra::LoadSceneFile(dir.Path());
    ADD_FAILURE();
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("it is a folder"), std::string::npos) << e.what();
  }
}

TEST(SceneFile, MissingFileIsNamed) {
  try {
    velumbra::LoadSceneFile("/no/such/scene.json");
    ADD_FAILURE();
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot open /no/such/scene.json"), std::string::npos) << e.what();
  }
}

SceneDesc RichScene(const std::filesystem::path& base) {
  SceneDesc s;
  s.fps = 12.5;
  s.render.width = 321;
  s.render.height = 123;
  s.render.frame = -7;
  s.render.camera = "Cam";
  s.render.background = {0.1, 1.0 / 3.0, 0.0, 1.00390625};
  s.render.image = base / "plates" / "beauty.png";
  s.render.objectId = velumbra::ImageSource{base / "passes.exr", "IndexOB"};
  s.render.materialId = velumbra::ImageSource{base / "mtl.png", ""};
  velumbra::NodeDesc cam;
  cam.name = "Cam";
  cam.type = NodeType::Camera;
  cam.fov = 37.5;
  cam.parent = "Rig";
  cam.transform.position = velumbra::Vec3{1e-7, -2.5, 3};
  cam.transform.target = velumbra::Vec3{0, 10, 0};
  cam.keys.push_back({0, {}});
  cam.keys[0].fields.position = velumbra::Vec3{0, 0, 0};
  cam.keys.push_back({24, {}});
  cam.keys[1].fields.target = velumbra::Vec3{1, 10, 0.25};
  velumbra::NodeDesc rig;
  rig.name = "Rig";
  rig.type = NodeType::Dummy;
  rig.transform.matrix = velumbra::MatrixRows{{{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}, {5, 6, 7}}};
  velumbra::NodeDesc spin;
  spin.name = "Spin/Node \"2\"";
  spin.type = NodeType::Dummy;
  spin.transform.rotation = velumbra::Vec3{0, 0, 90};
  spin.transform.scale = velumbra::Vec3{2, 2, 2};
  spin.keys.push_back({-3, {}});
  spin.keys[0].fields.rotation = velumbra::Vec3{0, 0, 0};
  cam.shift = {0.125, -0.5};
  cam.keys.push_back({12, {}});
  cam.keys[2].fov = 20.0;
  cam.keys[2].shift = velumbra::Vec2{0, 0.25};
  velumbra::NodeDesc tracked;  // a camera from a .chan file, its fov from the file
  tracked.name = "Tracked";
  tracked.type = NodeType::Camera;
  tracked.chan = velumbra::ChanDesc{base / "track" / "cam.chan", false, "YXZ", true};
  tracked.keys.push_back({5, {}});
  tracked.keys[0].shift = velumbra::Vec2{0.1, 0};
  velumbra::NodeDesc ownFov = tracked;  // ... and one that gives its own
  ownFov.name = "OwnFov";
  ownFov.chan->fileFov = false;
  ownFov.fov = 33;
  s.nodes = {cam, rig, spin, tracked, ownFov};
  velumbra::EffectDesc fx;
  fx.className = "Qe_Velumbra";
  fx.name = "Stars";
  velumbra::ParamDesc count;
  count.name = "starscount";
  count.value = 20000;
  velumbra::ParamDesc colour;
  colour.name = "brightstarscolor";
  colour.value = nlohmann::json::array({1, 0.9, 0.8});
  velumbra::ParamDesc duration;
  duration.name = "duration";
  duration.keyed = true;
  duration.keys = {{30, 2.0}, {0, 0.1}};
  velumbra::ParamDesc flag;
  flag.name = "usecameraflag";
  flag.value = true;
  velumbra::ParamDesc names;  // separators and escapes inside strings
  names.name = "names";
  names.value = nlohmann::json::array({"a,b", "q\"x\\", "y"});
  fx.params = {count, colour, duration, flag, names};
  s.effects = {fx};
  velumbra::EffectDesc second;
  second.className = "Other";
  second.name = "Other";
  s.effects.push_back(second);
  return s;
}

// Before: a path in another encoding aborted the save (the JSON library
// cannot write it).
TEST(SceneFile, PathsThatAreNotUtf8AreNotWrittenIntoAScene) {
  TempDir dir;
  SceneDesc scene = velumbra::DefaultScene();
  scene.render.image = dir.Path() / "pl\xe4te.png";
  try {
    velumbra::SaveSceneFile(scene, dir.Path() / "s.json");
    ADD_FAILURE() << "saved";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("\"pl\\xE4te.png\""), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("not UTF-8"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "s.json"));
}

// Before: "in.png\u0000junk" read in.png, the rest of the name ignored.
TEST(SceneFile, FileNamesWithANulAreRefused) {
  for (const char* render : {R"("image": "in.png\u0000junk")", R"("objectId": "ids.exr\u0000:IndexOB")",
                             R"("materialId": "m\u0000.png")"}) {
    const std::string text = std::string(R"({"render": {"width": 4, "height": 4, )") + render +
                             R"(}, "nodes": [{"name": "C", "type": "camera"}]})";
    try {
      ParseScene(text, "s.json", "");
      ADD_FAILURE() << render;
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find("s.json: /render/"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("cannot hold a NUL"), std::string::npos) << e.what();
    }
  }
}

TEST(SceneFile, SaveThenLoadGivesTheSameDescription) {
  TempDir dir;
  const SceneDesc original = RichScene(dir.Path());
  ASSERT_NO_THROW(velumbra::ValidateScene(original));
  const auto file = dir / "sub/scene.json";  // paths written relative to sub/
  velumbra::SaveSceneFile(original, file);
  const std::string text = ReadAll(file);
  EXPECT_NE(text.find("\"image\": \"../plates/beauty.png\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"objectId\": \"../passes.exr:IndexOB\""), std::string::npos) << text;
  const SceneDesc loaded = velumbra::LoadSceneFile(file);
  EXPECT_TRUE(loaded == original) << text;
  EXPECT_NE(text.find("\"brightstarscolor\": [1, 0.9, 0.8]"), std::string::npos) << text;
  // Writing is then a fixed point.
  EXPECT_EQ(velumbra::SceneToJson(loaded, file.parent_path()), text);
  // Parameter paths point into the written file.
  EXPECT_EQ(loaded.effects[0].params[2].jsonPath, "/effects/0/params/duration");
}

TEST(SceneFile, RoundTripDetectsAChangedValue) {
  // The equality the round trip relies on sees a single changed number.
  TempDir dir;
  SceneDesc a = RichScene(dir.Path());
  SceneDesc b = a;
  EXPECT_TRUE(a == b);
  (*b.nodes[1].transform.matrix)[3][2] = 7.0000001;
  EXPECT_FALSE(a == b);
  b = a;
  b.effects[0].params[2].keys[0].second = 2.0000000000000004;
  EXPECT_FALSE(a == b);
}

TEST(SceneFile, ValidateCatchesDescriptionsMadeInCode) {
  SceneDesc s = velumbra::DefaultScene();
  s.source = "made";
  s.nodes[0].fov = std::nan("");
  try {
    velumbra::ValidateScene(s);
    ADD_FAILURE();
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("made: /nodes/0/fov: expected a number in (0, 180), got nan"),
              std::string::npos) << e.what();
  }
  s = velumbra::DefaultScene();
  s.nodes[0].transform.position = velumbra::Vec3{0, HUGE_VAL, 0};
  EXPECT_THROW(velumbra::ValidateScene(s), InputError);
  s = velumbra::DefaultScene();
  velumbra::ParamDesc p;
  p.name = "duration";
  p.value = std::nan("");
  s.effects[0].params.push_back(p);
  EXPECT_THROW(velumbra::ValidateScene(s), InputError);
}

TEST(SceneFile, DefaultScene) {
  const SceneDesc s = velumbra::DefaultScene();
  EXPECT_NO_THROW(velumbra::ValidateScene(s));
  EXPECT_EQ(s.fps, 30);
  EXPECT_EQ(s.render.width, 640);
  EXPECT_EQ(s.render.height, 480);
  EXPECT_EQ(s.render.background, (std::array<double, 4>{0, 0, 0, 0}));
  EXPECT_FALSE(s.render.image);
  ASSERT_NE(s.RenderCamera(), nullptr);
  EXPECT_EQ(s.RenderCamera()->name, "Camera001");
  EXPECT_EQ(s.RenderCamera()->fov, 45);
  ASSERT_EQ(s.effects.size(), 1u);
  EXPECT_EQ(s.effects[0].className, "Qe_Velumbra");
  EXPECT_TRUE(s.effects[0].params.empty());
  // It survives its own file format.
  const SceneDesc again = ParseScene(velumbra::SceneToJson(s), "default.json", "");
  EXPECT_TRUE(again == s);
}

TEST(SceneFile, ParamValueFromTheCommandLine) {
  const auto keyed = velumbra::ParseParamValue(nlohmann::json::parse(R"({"keys": [[0, 0.5], [30, 2]]})"),
                                               "duration", "--set duration", "", 160);
  EXPECT_TRUE(keyed.keyed);
  EXPECT_EQ(keyed.keys.size(), 2u);
  EXPECT_THROW(velumbra::ParseParamValue(nlohmann::json::parse(R"({"keys": [[1e9, 1]]})"), "duration",
                                         "--set duration", "", 160),
               InputError);
  EXPECT_EQ(velumbra::ParseParamValue("Camera001", "camera", "--set", "", 160).value, "Camera001");
}

TEST(SceneFile, FrameToTicks) {
  EXPECT_EQ(velumbra::FrameToTicks(30, 160), 4800);
  EXPECT_EQ(velumbra::FrameToTicks(-13421772, 160), -2147483520);
  EXPECT_FALSE(velumbra::FrameToTicks(13421773, 160));
  EXPECT_FALSE(velumbra::FrameToTicks(-447393, 4800));
}

}  // namespace
