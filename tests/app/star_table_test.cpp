// `velumbra stars` lists the records the render pass draws: both form the
// generation key from the block with one rule, also for values no scene
// file may hold but a script can set.
#include "host/app/commands/star_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "effect/qe_velumbra.h"
#include "host/app/render_frame.h"
#include "host/app/scene/scene_file.h"
#include "plugin/class_desc.h"
#include "support/module_handle.h"
#include "support/temp_dir.h"

namespace {

struct BlockValues {
  const char* label;
  int count;
  int seed;
  Color bright;
  Color dim;
  float variance;
  int alphaFlag;
  int alpha;
};

class StarTable : public ::testing::Test {
 protected:
  velumbra::ClassLookup Lookup() {
    return [](const std::string& name) -> ClassDesc* { return name == "Qe_Velumbra" ? GetQe_VelumbraDesc() : nullptr; };
  }
  velumbra::SceneDesc Scene() {
    return velumbra::ParseScene(R"({"render": {"width": 16, "height": 12},
      "nodes": [{"name": "Cam", "type": "camera", "fov": 60, "position": [0, 0, 0], "target": [0, 1, 0]}],
      "effects": [{"class": "Qe_Velumbra", "params": {"starscount": 50}}]})",
                                "key.json", dir_.Path());
  }
  ScopedInstance instance_;
  TempDir dir_;
};

void Set(IParamBlock2& b, const char* name, int v) { b.SetValue(b.IndexToID(b.FindParamByName(name)), 0, v); }
void Set(IParamBlock2& b, const char* name, float v) { b.SetValue(b.IndexToID(b.FindParamByName(name)), 0, v); }
void Set(IParamBlock2& b, const char* name, const Color& v) {
  b.SetValue(b.IndexToID(b.FindParamByName(name)), 0, v);
}

TEST_F(StarTable, KeyAgreesWithTheRenderPassForOutOfRangeValues) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const BlockValues cases[] = {
      {"in range", 40, 7, Color(1, 0.9f, 0.8f), Color(0.2f, 0.3f, 0.4f), 25.0f, 1, 128},
      {"negative count", -5, 7, Color(1, 1, 1), Color(0, 0, 0), 0.0f, 0, 255},
      {"colours beyond 0..1", 30, -3, Color(2.5f, -1, 1.0001f), Color(-0.5f, 70000, 0.5f), 150.0f, 0, 255},
      {"NaN colour", 30, 1, Color(nan, 0.5f, 0.5f), Color(0.5f, nan, 0.5f), -20.0f, 0, 0},
      {"alpha beyond 0..255", 30, 9, Color(1, 1, 1), Color(0.5f, 0.5f, 0.5f), 10.0f, 1, 300},
      {"negative alpha", 30, 9, Color(1, 1, 1), Color(0.5f, 0.5f, 0.5f), 10.0f, 1, -2},
  };
  for (const BlockValues& c : cases) {
    SCOPED_TRACE(c.label);
    velumbra::RenderSession session(Scene(), Lookup());
    auto* effect = static_cast<Qe_Velumbra*>(session.Effects().at(0));
    IParamBlock2& block = *effect->GetParamBlock(0);
    Set(block, "starscount", c.count);
    Set(block, "seed", c.seed);
    Set(block, "brightstarscolor", c.bright);
    Set(block, "dimstarscolor", c.dim);
    Set(block, "colorvariance", c.variance);
    Set(block, "starsalphaflag", c.alphaFlag);
    Set(block, "starsalpha", c.alpha);
    ASSERT_NE(session.RenderFrame(0, nullptr), nullptr);

    const StarFieldKey listed = velumbra::StarFieldKeyOf(block, 0);
    const StarFieldKey& drawn = effect->starField.key();
    EXPECT_EQ(std::memcmp(&listed, &drawn, sizeof listed), 0);
    StarField field;
    ASSERT_TRUE(field.RefreshStarField(listed, nullptr));
    ASSERT_EQ(field.count(), effect->starField.count());
    for (std::uint32_t i = 0; i < field.count(); ++i)
      ASSERT_EQ(std::memcmp(&field.stars()[i], &effect->starField.stars()[i], sizeof(StarRecord)), 0) << "star " << i;
    EXPECT_EQ(velumbra::StarsCsv(field), velumbra::StarsCsv(effect->starField));
  }
}

}  // namespace
