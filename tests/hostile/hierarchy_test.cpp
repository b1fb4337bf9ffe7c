// Node hierarchies that are cyclic (refused) or very deep (100,000 levels):
// everything that walks the tree (checking, building, world transforms,
// the camera search, look-up by name, destruction) works without
// recursion, shown by running it all on a thread with a small stack, and
// in time linear in the number of nodes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "hostile/hostile_support.h"
#include "host/app/scene/scene_build.h"
#include "host/app/scene/scene_file.h"
#include "host/sdk/max_time.h"
#include "starfield/view_transforms.h"

namespace {

using velumbra::NodeDesc;
using velumbra::NodeType;
using velumbra::ParseScene;
using velumbra::SceneDesc;
using velumbra::Vec3;

constexpr int kDepth = 100000;
// Far below what recursion over kDepth levels would need (several MB).
constexpr std::size_t kSmallStack = 512 * 1024;

class Hierarchy : public ::testing::Test {
 protected:
  void TearDown() override { SetTicksPerFrame(160); }
};

std::string Name(int i) {
  std::string name = "n";
  name += std::to_string(i);
  return name;
}

// A chain n0 <- n1 <- ... <- n(depth-1) (each node the parent of the
// next), each moved 0.001 along X from its parent; the deepest node is a
// camera. `parentsFirst`: listed from the top down, else from the bottom up.
SceneDesc Chain(int depth, bool parentsFirst) {
  SceneDesc s;
  s.source = "deep.json";
  s.nodes.resize(depth);
  for (int i = 0; i < depth; ++i) {
    NodeDesc& n = s.nodes[parentsFirst ? i : depth - 1 - i];
    n.name = Name(i);
    n.type = i == depth - 1 ? NodeType::Camera : NodeType::Dummy;
    if (i > 0) n.parent = Name(i - 1);
    n.transform.position = Vec3{0.001, 0, 0};
  }
  s.render.camera = Name(depth - 1);
  return s;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

TEST_F(Hierarchy, CyclesAreRefusedNamingTheCycle) {
  ExpectInputError([] { ParseScene(R"({"nodes": [{"name": "c", "type": "camera", "parent": "c"}]})", "s.json", ""); },
                   {"s.json: /nodes/0/parent: ", "cycle: c -> c"});
  // Nodes hanging below a cycle are not part of it; the cycle is reported
  // at its first node in the file.
  ExpectInputError([] {
    ParseScene(R"({"nodes": [{"name": "cam", "type": "camera", "parent": "y"},
                             {"name": "x", "type": "dummy", "parent": "z"},
                             {"name": "y", "type": "dummy", "parent": "x"},
                             {"name": "z", "type": "dummy", "parent": "y"}]})", "s.json", "");
  }, {"s.json: /nodes/1/parent: ", "cycle: x -> z -> y -> x"});
  // Of two cycles, the one with the node that comes first.
  ExpectInputError([] {
    ParseScene(R"({"nodes": [{"name": "cam", "type": "camera", "parent": "q"},
                             {"name": "a", "type": "dummy", "parent": "b"},
                             {"name": "b", "type": "dummy", "parent": "a"},
                             {"name": "p", "type": "dummy", "parent": "q"},
                             {"name": "q", "type": "dummy", "parent": "p"}]})", "s.json", "");
  }, {"s.json: /nodes/1/parent: ", "cycle: a -> b -> a"});
}

TEST_F(Hierarchy, AHundredThousandNodeCycleIsRefusedInLinearTime) {
  SceneDesc s = Chain(kDepth, true);
  s.nodes[0].parent = s.nodes[kDepth - 1].name;  // close the chain
  const auto start = std::chrono::steady_clock::now();
  RunOnSmallStack(kSmallStack, [&] {
    ExpectInputError([&] { velumbra::ValidateScene(s); }, {"deep.json: /nodes/0/parent: ", "the parents make a cycle"});
  });
  // Quadratic checking (each node walking all its ancestors) takes minutes.
  EXPECT_LT(Seconds(start), 20.0);
}

TEST_F(Hierarchy, AHundredThousandLevelsBuildAndAreWalkedWithoutRecursion) {
  for (const bool parentsFirst : {true, false}) {
    SCOPED_TRACE(parentsFirst ? "parents first" : "children first");
    const SceneDesc s = Chain(kDepth, parentsFirst);
    RunOnSmallStack(kSmallStack, [&] {
      // Through the file format as well (once): written, read back, checked.
      const SceneDesc read = parentsFirst ? ParseScene(velumbra::SceneToJson(s), "deep.json", "") : s;
      ASSERT_EQ(read.nodes.size(), static_cast<size_t>(kDepth));

      auto ip = std::make_unique<Interface>();
      const velumbra::BuiltScene built = velumbra::BuildScene(read, *ip);
      ASSERT_NE(built.camera, nullptr);
      EXPECT_EQ(std::string(built.camera->GetName()), Name(kDepth - 1));

      // The world transform composes every level.
      const Matrix3 tm = built.camera->GetNodeTM(0);
      EXPECT_NEAR(tm.GetTrans().x, 0.001f * kDepth, 1.0f);

      // The depth-first search finds the camera at the bottom.
      EXPECT_EQ(FindCameraByView(ip->GetRootNode(), 0, Inverse(tm)), built.camera);
      EXPECT_EQ(ip->GetINodeByName(built.camera->GetName()), built.camera);
      EXPECT_EQ(ip->GetINodeByName("no such node"), nullptr);
      ip.reset();  // destroying the scene does not recurse either
    });
  }
}

}  // namespace
