// Hostile numbers in scenes: non-finite and out-of-precision values,
// singular and degenerate transforms, fields of view at the edges, node
// names given twice. Each is refused with the file and the JSON path.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "hostile/hostile_support.h"
#include "host/app/scene/scene_build.h"
#include "host/app/scene/scene_file.h"
#include "host/sdk/max_time.h"

namespace {

using velumbra::DefaultScene;
using velumbra::NodeDesc;
using velumbra::ParseScene;
using velumbra::SceneDesc;
using velumbra::ValidateScene;
using velumbra::Vec3;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class HostileScene : public ::testing::Test {
 protected:
  void TearDown() override { SetTicksPerFrame(160); }
};

SceneDesc WithDummy(const std::function<void(NodeDesc&)>& edit) {
  SceneDesc s = DefaultScene();
  s.source = "code.json";
  NodeDesc n;
  n.name = "Hostile";
  edit(n);
  s.nodes.push_back(n);
  return s;
}

// A description made in code can hold NaN and infinities, which no JSON
// text can: every field is checked all the same, and named.
TEST_F(HostileScene, NonFiniteNumbersInADescriptionAreRefusedWithTheirPath) {
  struct Case {
    const char* path;
    std::function<void(SceneDesc&)> edit;
  };
  const Case cases[] = {
      {"/fps", [](SceneDesc& s) { s.fps = kNaN; }},
      {"/render/background/2", [](SceneDesc& s) { s.render.background[2] = kInf; }},
      {"/nodes/0/fov", [](SceneDesc& s) { s.nodes[0].fov = kNaN; }},
      {"/nodes/1/position/1", [](SceneDesc& s) { s = WithDummy([](NodeDesc& n) { n.transform.position = Vec3{0, kNaN, 0}; }); }},
      {"/nodes/1/rotation/2", [](SceneDesc& s) { s = WithDummy([](NodeDesc& n) { n.transform.rotation = Vec3{0, 0, -kInf}; }); }},
      {"/nodes/1/scale/0", [](SceneDesc& s) { s = WithDummy([](NodeDesc& n) { n.transform.scale = Vec3{kInf, 1, 1}; }); }},
      {"/nodes/1/target/0", [](SceneDesc& s) { s = WithDummy([](NodeDesc& n) { n.transform.target = Vec3{kNaN, 1, 0}; }); }},
      {"/nodes/1/matrix/3/2", [](SceneDesc& s) {
         s = WithDummy([](NodeDesc& n) { n.transform.matrix = velumbra::MatrixRows{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, kNaN}}}; });
       }},
      {"/nodes/1/keys/1/position/2", [](SceneDesc& s) {
         s = WithDummy([](NodeDesc& n) {
           velumbra::TransformKeyDesc a, b;
           a.frame = 0;
           a.fields.position = Vec3{0, 0, 0};
           b.frame = 5;
           b.fields.position = Vec3{0, 0, kInf};
           n.keys = {a, b};
         });
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    SceneDesc s = DefaultScene();
    s.source = "code.json";
    c.edit(s);
    ExpectInputError([&] { ValidateScene(s); }, {std::string("code.json: ") + c.path + ": "});
    // BuildScene checks first: nothing non-finite reaches the host.
    Interface ip;
    ExpectInputError([&] { velumbra::BuildScene(s, ip); }, {c.path});
  }
}

// JSON has no NaN; a literal too large for a double is its infinity, and
// is refused where it stands.
TEST_F(HostileScene, OverflowingLiteralsNameTheirPath) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"nodes": [{"name": "c", "type": "camera", "position": [0, 0, -1e999]}]})", "s.json: /nodes/0/position/2: "},
      {R"({"render": {"width": 10, "background": [0, 1e400, 0, 0]}})", "s.json: /render/background/1: "},
      {R"({"nodes": [{"name": "c", "type": "camera", "keys": [{"frame": 0, "rotation": [1, 2, 3]},
                                                                {"frame": 1e999}]}]})", "s.json: /nodes/0/keys/1/frame: "},
      {R"({"effects": [{"class": "Qe_Velumbra", "params": {"duration": {"keys": [[0, 1], [1, 1e999]]}}}]})",
       "s.json: /effects/0/params/duration/keys/1/1: "},
      {"1e999", "s.json: top level: "},
  };
  for (const auto& [text, where] : cases) {
    SCOPED_TRACE(text);
    ExpectInputError([&] { ParseScene(text, "s.json", ""); }, {where, "number overflow", "finite"});
  }
}

// Finite doubles that single precision cannot hold would turn into
// infinities in the host's matrices.
TEST_F(HostileScene, TransformNumbersBeyondSinglePrecisionAreRefused) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"nodes": [{"name": "c", "type": "camera", "position": [1e39, 0, 0]}]})", "/nodes/0/position/0"},
      {R"({"nodes": [{"name": "c", "type": "camera", "rotation": [0, -4e38, 0]}]})", "/nodes/0/rotation/1"},
      {R"({"nodes": [{"name": "c", "type": "camera"},
                     {"name": "d", "type": "dummy", "keys": [{"frame": 3, "scale": [1, 1, 1e300]}]}]})",
       "/nodes/1/keys/0/scale/2"},
  };
  for (const auto& [text, where] : cases) {
    SCOPED_TRACE(text);
    ExpectInputError([&] { ParseScene(text, "s.json", ""); },
                     {std::string("s.json: ") + where + ": ", "single precision"});
  }
  // The largest float itself is still a number the host can hold.
  std::string text = R"({"nodes": [{"name": "c", "type": "camera", "position": [0, 0, X]}]})";
  text.replace(text.find('X'), 1, std::to_string(-FLT_MAX));
  EXPECT_NO_THROW(ParseScene(text, "s.json", ""));
}

// A transform regular in double precision can be singular once the host
// evaluates it in single precision; such a camera would have no view.
TEST_F(HostileScene, TransformsSingularInSinglePrecisionAreRefused) {
  const std::pair<const char*, const char*> cases[] = {
      // det 1e-90 in double, 0 in single precision
      {R"({"nodes": [{"name": "c", "type": "camera", "scale": [1e-30, 1e-30, 1e-30]}]})", "s.json: /nodes/0: "},
      // rows of 1e20: the determinant 1e60 overflows a float
      {R"({"nodes": [{"name": "c", "type": "camera", "matrix": [[1e20, 0, 0], [0, 1e20, 0], [0, 0, 1e20], [0, 0, 0]]}]})",
       "s.json: /nodes/0: "},
      // det 1e-40: a subnormal float, whose inverse overflows
      {R"({"nodes": [{"name": "c", "type": "camera"}, {"name": "d", "type": "dummy", "scale": [1e-20, 1e-20, 1]}]})",
       "s.json: /nodes/1: "},
      // a key's own fields
      {R"({"nodes": [{"name": "c", "type": "camera", "position": [1, 2, 3],
                      "keys": [{"frame": 0, "rotation": [0, 0, 0]}, {"frame": 1, "scale": [1e-30, 1e-30, 1e-30]}]}]})",
       "s.json: /nodes/0/keys/1: "},
  };
  for (const auto& [text, where] : cases) {
    SCOPED_TRACE(text);
    ExpectInputError([&] { ParseScene(text, "s.json", ""); }, {where, "singular"});
  }
  // Singular in any precision, with the reason named.
  ExpectInputError([] { ParseScene(R"({"nodes": [{"name": "c", "type": "camera",
      "matrix": [[1, 2, 3], [2, 4, 6], [0, 0, 1], [0, 0, 0]]}]})", "s.json", ""); },
                   {"s.json: /nodes/0/matrix: ", "linearly dependent"});
  ExpectInputError([] { ParseScene(R"({"nodes": [{"name": "c", "type": "camera", "scale": [1, 0, 1]}]})", "s.json", ""); },
                   {"s.json: /nodes/0/scale/1: ", "singular"});
}

// A look-at whose target is its position has no direction: documented to
// look along world +Y, a sound camera.
TEST_F(HostileScene, LookAtWithTargetOnThePositionLooksAlongY) {
  const SceneDesc s = ParseScene(R"({"nodes": [{"name": "c", "type": "camera", "position": [1, 2, 3],
                                                 "target": [1, 2, 3]}]})", "s.json", "");
  Interface ip;
  const velumbra::BuiltScene built = velumbra::BuildScene(s, ip);
  const Matrix3 tm = built.camera->GetNodeTM(0);
  Matrix3 view;
  ASSERT_TRUE(InverseChecked(tm, view));
  const Point3 forward = tm.VectorTransform({0, 0, -1});
  EXPECT_NEAR(forward.x, 0.0f, 1e-6f);
  EXPECT_NEAR(forward.y, 1.0f, 1e-6f);
  EXPECT_NEAR(forward.z, 0.0f, 1e-6f);
}

// Targets so far away that the distance overflows single precision, or so
// close that its square underflows, still give the direction towards them
// (found by fuzzing: the distance overflowed and the axis divided by 0).
TEST_F(HostileScene, LookAtFarAndNearTargetsKeepTheirDirection) {
  const struct {
    Point3 position, target, forward;
  } cases[] = {
      {{0, 0, 0}, {0, 1e38f, 3e37f}, {0, 0.957826f, 0.287348f}},
      {{-3e38f, 0, 0}, {3e38f, 0, 0}, {1, 0, 0}},  // target - position is infinite
      {{1, 1, 1}, {1, 1 + 1e-7f, 1}, {0, 1, 0}},
      {{0, 0, 0}, {-3e-30f, 0, 4e-30f}, {-0.6f, 0, 0.8f}},  // the square underflows
  };
  for (const auto& c : cases) {
    const Matrix3 tm = LookAtMatrix(c.position, c.target);
    Matrix3 view;
    ASSERT_TRUE(InverseChecked(tm, view));
    const Point3 forward = tm.VectorTransform({0, 0, -1});
    EXPECT_NEAR(forward.x, c.forward.x, 1e-5f);
    EXPECT_NEAR(forward.y, c.forward.y, 1e-5f);
    EXPECT_NEAR(forward.z, c.forward.z, 1e-5f);
  }
  // Keys far apart: the interpolated position stays between them.
  const SceneDesc s = ParseScene(R"({"nodes": [{"name": "c", "type": "camera",
      "keys": [{"frame": 0, "position": [-3e38, 0, 0]}, {"frame": 10, "position": [3e38, 0, 0]}]}]})", "s.json", "");
  Interface ip;
  const velumbra::BuiltScene built = velumbra::BuildScene(s, ip);
  const Matrix3 mid = built.camera->GetNodeTM(5 * GetTicksPerFrame());
  EXPECT_NEAR(mid.GetTrans().x, 0.0f, 1e32f);
  EXPECT_TRUE(std::isfinite(mid.GetTrans().x));
}

// The projection divides by tan(fov / 2) in single precision: angles that
// round to 0 or past 180 degrees there are refused, others near the ends
// still give a positive, finite scale.
TEST_F(HostileScene, FieldsOfViewTooCloseToTheEndsAreRefused) {
  const auto scene = [](const char* fov) {
    std::string text = R"({"nodes": [{"name": "c", "type": "camera", "fov": X}]})";
    return text.replace(text.find('X'), 1, fov);
  };
  for (const char* fov : {"179.99999999", "179.999999", "1e-300", "1e-45"}) {
    SCOPED_TRACE(fov);
    ExpectInputError([&] { ParseScene(scene(fov), "s.json", ""); }, {"s.json: /nodes/0/fov: ", "too close"});
  }
  for (const char* fov : {"0", "180", "-5"}) {
    SCOPED_TRACE(fov);
    ExpectInputError([&] { ParseScene(scene(fov), "s.json", ""); }, {"s.json: /nodes/0/fov: ", "(0, 180)"});
  }
  for (const char* fov : {"179.99", "0.001"}) {
    SCOPED_TRACE(fov);
    Interface ip;
    const velumbra::BuiltScene built = velumbra::BuildScene(ParseScene(scene(fov), "s.json", ""), ip);
    const float radians = static_cast<const CameraObject*>(built.camera->GetObjectRef())->GetFOV(0);
    const float kx = (65535.0f / 2.0f) / std::tan(radians / 2.0f);
    EXPECT_GT(kx, 0.0f);
    EXPECT_TRUE(std::isfinite(kx));
  }
}

TEST_F(HostileScene, DuplicateNodeNamesNameBothPaths) {
  ExpectInputError([] {
    ParseScene(R"({"nodes": [{"name": "A", "type": "camera"}, {"name": "B", "type": "dummy"},
                             {"name": "A", "type": "dummy"}]})", "s.json", "");
  }, {"s.json: /nodes/2/name: ", "\"A\" already exists (/nodes/0)"});
  // Names differing only in case or space are different nodes.
  EXPECT_NO_THROW(ParseScene(R"({"nodes": [{"name": "A", "type": "camera"}, {"name": "a", "type": "dummy"},
                                           {"name": "A ", "type": "dummy"}]})", "s.json", ""));
}

// A parameter value from the command line is not bounded by the scene
// reader; a deeply nested one is refused without recursing over its depth.
TEST_F(HostileScene, DeeplyNestedParameterValuesAreRefusedWithoutRecursion) {
  nlohmann::json deep = 1;
  for (int i = 0; i < 100000; ++i) deep = nlohmann::json::array({std::move(deep)});
  RunOnSmallStack(256 * 1024, [&] {
    ExpectInputError([&] { velumbra::ParseParamValue(deep, "duration", "--set duration", "", 160); },
                     {"--set duration: ", "nested more than 32 levels"});
  });
  // 32 levels are still a value (refused later by the binding for its type).
  nlohmann::json ok = 1;
  for (int i = 0; i < 32; ++i) ok = nlohmann::json::array({std::move(ok)});
  EXPECT_NO_THROW(velumbra::ParseParamValue(ok, "duration", "--set duration", "", 160));
}

}  // namespace
