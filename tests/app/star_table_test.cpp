// `velumbra stars` lists the records the render pass draws, asked of the
// effect through its star-field interface: the same records for any values
// a script can set (out-of-range ones included), written as CSV that reads
// back to the same floats, and the host's failures carried past the module.
#include "host/app/commands/star_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "effect/qe_velumbra.h"
#include "host/app/base/app_error.h"
#include "host/app/render_frame.h"
#include "host/app/scene/scene_file.h"
#include "plugin/class_desc.h"
#include "support/module_handle.h"
#include "support/recording_abort.h"
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

// Keeps every record handed over, and where each run began.
class Collect final : public StarRecordSink {
 public:
  bool TakeStars(std::uint32_t first, const StarFieldRecord* stars, std::size_t count) override {
    firsts.push_back(first);
    records.insert(records.end(), stars, stars + count);
    return stopAfter < 0 || static_cast<int>(firsts.size()) < stopAfter;
  }
  std::vector<std::uint32_t> firsts;
  std::vector<StarFieldRecord> records;
  int stopAfter = -1;
};

class StarTable : public ::testing::Test {
 protected:
  velumbra::ClassLookup Lookup() {
    return [](const std::string& name) -> ClassDesc* { return name == "Qe_Velumbra" ? GetQe_VelumbraDesc() : nullptr; };
  }
  velumbra::SceneDesc Scene(int stars = 50) {
    return velumbra::ParseScene(R"({"render": {"width": 16, "height": 12},
      "nodes": [{"name": "Cam", "type": "camera", "fov": 60, "position": [0, 0, 0], "target": [0, 1, 0]}],
      "effects": [{"class": "Qe_Velumbra", "params": {"starscount": )" + std::to_string(stars) + "}}]}",
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

TEST_F(StarTable, ListsTheRecordsTheRenderPassDrawsForOutOfRangeValues) {
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

    IStarField* field = GetStarFieldInterface(effect);
    ASSERT_NE(field, nullptr);
    Collect listed;
    ASSERT_EQ(field->EnumStarRecords(0, listed, nullptr), STAR_RECORDS_DONE);
    const StarField& drawn = effect->starField;
    ASSERT_EQ(listed.records.size(), drawn.count());
    for (std::uint32_t i = 0; i < drawn.count(); ++i)
      ASSERT_EQ(std::memcmp(&listed.records[i], &drawn.stars()[i], sizeof(StarRecord)), 0) << "star " << i;

    // One line a star; every float reads back to the one drawn.
    std::istringstream csv(velumbra::StarsCsv(*field, 0));
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "index,x,y,z,r,g,b,a,size");
    std::uint32_t i = 0;
    for (; std::getline(csv, line); ++i) {
      ASSERT_LT(i, drawn.count());
      const StarRecord& s = drawn.stars()[i];
      char* p = line.data();
      EXPECT_EQ(std::strtoul(p, &p, 10), i);
      for (float v : {s.pos.x, s.pos.y, s.pos.z}) EXPECT_EQ(std::strtof(p + 1, &p), v);
      for (unsigned v : {s.color.r, s.color.g, s.color.b, s.color.a}) EXPECT_EQ(std::strtoul(p + 1, &p, 10), v);
      EXPECT_EQ(std::strtof(p + 1, &p), s.size);
      EXPECT_EQ(*p, '\0');
    }
    EXPECT_EQ(i, drawn.count());
  }
}

// The listing leaves the effect's own field alone, hands the records over in
// runs, and stops where the host stops it: a sink's false, a progress
// callback's stop, an exception of the text's sink (thrown on the host's
// side of the module, rethrown there).
TEST_F(StarTable, RunsStopsAndFailuresReachTheHost) {
  velumbra::RenderSession session(Scene(20000), Lookup());
  auto* effect = static_cast<Qe_Velumbra*>(session.Effects().at(0));
  IStarField* field = GetStarFieldInterface(effect);
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(effect->GetInterface(Interface_ID(1, 2)), nullptr);

  Collect all;
  ASSERT_EQ(field->EnumStarRecords(0, all, nullptr), STAR_RECORDS_DONE);
  ASSERT_EQ(all.records.size(), 20000u);
  EXPECT_EQ(all.firsts, (std::vector<std::uint32_t>{0, 4096, 8192, 12288, 16384}));
  EXPECT_EQ(effect->starField.stars(), nullptr);  // nothing rendered: nothing cached

  Collect stopped;
  stopped.stopAfter = 1;
  EXPECT_EQ(field->EnumStarRecords(0, stopped, nullptr), STAR_RECORDS_STOPPED);
  EXPECT_EQ(stopped.firsts.size(), 1u);

  RecordingAbort stop(0);
  Collect none;
  EXPECT_EQ(field->EnumStarRecords(0, none, &stop), STAR_RECORDS_ABORTED);
  EXPECT_TRUE(none.records.empty());
  RecordingAbort stopAgain(0);
  EXPECT_THROW(velumbra::WriteStarsCsv(*field, 0, &stopAgain, [](std::string_view) {}), velumbra::Interrupted);

  // About 1.4 MB of text: the first piece is written while the module lists.
  EXPECT_THROW(velumbra::WriteStarsCsv(*field, 0, nullptr,
                                       [](std::string_view) { throw std::runtime_error("disk full"); }),
               std::runtime_error);
}

}  // namespace
