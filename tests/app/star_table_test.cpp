// `velumbra stars` lists the records the render pass draws, asked of the
// effect through its star-field interface: the same records for any values
// a script can set (out-of-range ones included), written as CSV that reads
// back to the same floats, and the host's failures carried past the module.
// With catalogue stars: the catalogue's stars brighter than the limit as
// the render at that time places them, with what the catalogue says of
// them, then the fill-in; a catalogue that cannot be read is bad input.
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
#include "support/synthetic_catalogue.h"
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

// The fields of one CSV line (quoted fields unquoted).
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      out.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

std::vector<std::vector<std::string>> Rows(const std::string& csv) {
  std::istringstream in(csv);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) rows.push_back(Fields(line));
  return rows;
}

// Keeps the kind a listing announced and its sky records.
class CollectSky final : public StarRecordSink {
 public:
  void BeginStars(StarRecordsKind k) override { kinds.push_back(k); }
  bool TakeStars(std::uint32_t, const StarFieldRecord*, std::size_t) override {
    ADD_FAILURE() << "sky stars handed over as generated ones";
    return false;
  }
  bool TakeSkyStars(std::uint32_t, const StarFieldRecord* stars, const SkyStarRecord* sky,
                    std::size_t count) override {
    records.insert(records.end(), stars, stars + count);
    for (std::size_t k = 0; k < count; ++k) names.push_back(sky[k].name);
    return true;
  }
  std::vector<StarRecordsKind> kinds;
  std::vector<StarFieldRecord> records;
  std::vector<std::string> names;
};

struct BscStar {
  double decDeg, raHours;
  double magnitude;
  const char* name;
};

class SkyTable : public StarTable {
 protected:
  // A scene of the catalogue `file` (in the test's folder) with `params`
  // added.
  velumbra::SceneDesc SkyScene(const std::string& file, const std::string& params) {
    return velumbra::ParseScene(R"({"render": {"width": 16, "height": 12},
      "nodes": [{"name": "Cam", "type": "camera", "fov": 60, "position": [0, 0, 0], "target": [0, 1, 0]}],
      "effects": [{"class": "Qe_Velumbra", "params": {"starsource": 1, "catalogfile": ")" +
                                    (dir_ / file).string() + "\", " + params + "}}]}",
                                "sky.json", dir_.Path());
  }
  void WriteBsc(const std::string& file, const std::vector<BscStar>& stars) {
    std::string text = "# a test catalogue\n";
    int n = 1;
    for (const BscStar& s : stars) {
      char line[200];
      std::snprintf(line, sizeof line, "%8.4f %8.4f %5.2f \"%s\" %d 1 2\n", s.decDeg, s.raHours, s.magnitude, s.name, n++);
      text += line;
    }
    WriteAll(dir_ / file, text);
  }
};

// `velumbra stars` of a catalogue scene: the stars brighter than the limit,
// brightest first, where the render of that frame puts them, with their
// magnitude, light, position and name.
TEST_F(SkyTable, ListsTheCataloguesStarsBrighterThanTheLimit) {
  const std::vector<BscStar> stars = {
      {-16.7161, 6.7525, -1.46, "  9Alp CMa"}, {38.7836, 18.6156, 0.03, "  3Alp Lyr"},
      {7.4069, 5.9195, 0.50, " 58Alp Ori"},    {45.2803, 20.6905, 1.25, "Doe, Jane"},
      {-8.2016, 5.2423, 0.12, " 19Bet Ori"},   {27.0, 3.0, 3.5, "faint"},
      {10.0, 1.0, 2.99, "just in"},            {-60.0, 14.0, 3.01, "just out"},
  };
  WriteBsc("bsc.txt", stars);
  // The observer's sky an hour into the shot (frame 108000 at 30 fps),
  // every star listed wherever it stands.
  velumbra::RenderSession session(
      SkyScene("bsc.txt", R"("magnitudelimit": 3, "skyframe": 1, "observerlatitude": 48.2,
        "observertime": "2024-01-15T20:00:00Z", "belowhorizonflag": 1, "starsalphaflag": 1, "starsalpha": 200)"),
      Lookup());
  auto* effect = static_cast<Qe_Velumbra*>(session.Effects().at(0));
  const TimeValue t = session.FrameTime(108000);
  ASSERT_NE(session.RenderFrame(108000, nullptr), nullptr);
  const SkyField& drawn = effect->skyField;
  IStarField* field = GetStarFieldInterface(effect);
  ASSERT_NE(field, nullptr);

  const auto rows = Rows(velumbra::StarsCsv(*field, t));
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"index", "x", "y", "z", "r", "g", "b", "a", "size", "magnitude", "bv",
                                                "light", "ra", "dec", "fillin", "name"}));
  // Brightest first: the file's stars of magnitude 3 or less.
  const int order[] = {0, 1, 4, 2, 3, 6};
  ASSERT_EQ(drawn.count(), 6u);
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const std::vector<std::string>& f = rows[static_cast<std::size_t>(i) + 1];
    ASSERT_EQ(f.size(), 16u);
    const BscStar& want = stars[static_cast<std::size_t>(order[i])];
    const StarRecord& r = drawn.stars()[i];
    EXPECT_EQ(std::stoul(f[0]), static_cast<unsigned long>(i));
    EXPECT_EQ(std::strtof(f[1].c_str(), nullptr), r.pos.x);
    EXPECT_EQ(std::strtof(f[2].c_str(), nullptr), r.pos.y);
    EXPECT_EQ(std::strtof(f[3].c_str(), nullptr), r.pos.z);
    EXPECT_EQ(std::stoul(f[4]), r.color.r);
    EXPECT_EQ(std::stoul(f[5]), r.color.g);
    EXPECT_EQ(std::stoul(f[6]), r.color.b);
    EXPECT_EQ(std::stoul(f[7]), 200u * 256u);
    EXPECT_EQ(std::strtof(f[8].c_str(), nullptr), r.size);
    EXPECT_EQ(std::strtof(f[9].c_str(), nullptr), static_cast<float>(want.magnitude));
    EXPECT_EQ(f[10], "") << "the Yale catalogue gives no B-V";
    EXPECT_NEAR(std::strtod(f[11].c_str(), nullptr), std::pow(10.0, -0.4 * (want.magnitude - 6.0)),
                1e-6 * std::pow(10.0, -0.4 * (want.magnitude - 6.0)));
    EXPECT_NEAR(std::strtod(f[12].c_str(), nullptr), want.raHours * 15.0, 1e-6);
    EXPECT_NEAR(std::strtod(f[13].c_str(), nullptr), want.decDeg, 1e-6);
    EXPECT_EQ(f[14], "0");
  }
  EXPECT_EQ(rows[1][15], "9 Alp CMa");
  EXPECT_EQ(rows[5][15], "Doe, Jane");

  // The hour turned the sky: the listing at frame 0 places them elsewhere.
  const auto start = Rows(velumbra::StarsCsv(*field, 0));
  ASSERT_EQ(start.size(), rows.size());
  EXPECT_GT(std::abs(std::stod(start[1][3]) - std::stod(rows[1][3])), 0.01);

  // Sinks hear what the records are; one that takes generated records only
  // gets the same records.
  CollectSky sky;
  ASSERT_EQ(field->EnumStarRecords(t, sky, nullptr), STAR_RECORDS_DONE);
  EXPECT_EQ(sky.kinds, std::vector<StarRecordsKind>{STAR_RECORDS_SKY});
  Collect plain;
  ASSERT_EQ(field->EnumStarRecords(t, plain, nullptr), STAR_RECORDS_DONE);
  ASSERT_EQ(plain.records.size(), 6u);
  ASSERT_EQ(sky.records.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(std::memcmp(&plain.records[i], &drawn.stars()[i], sizeof(StarRecord)), 0);
    EXPECT_EQ(std::memcmp(&sky.records[i], &drawn.stars()[i], sizeof(StarRecord)), 0);
  }
  // A limit no star reaches lists the header alone.
  IParamBlock2& block = *effect->GetParamBlock(0);
  Set(block, "magnitudelimit", -5.0f);
  EXPECT_EQ(velumbra::StarsCsv(*field, t), "index,x,y,z,r,g,b,a,size,magnitude,bv,light,ra,dec,fillin,name\n");
}

// The fill-in follows the catalogue's stars: fainter than its limit, in
// order of magnitude, unnamed, with the colours of its faint stars.
TEST_F(SkyTable, ListsTheFillInAfterTheCatalogue) {
  SyntheticSky synthetic;
  synthetic.stars = 20000;
  WriteAll(dir_ / "synthetic.dat", SyntheticKStars(synthetic));
  velumbra::RenderSession session(SkyScene("synthetic.dat", R"("magnitudelimit": 9.5, "fillinflag": 1)"), Lookup());
  auto* effect = static_cast<Qe_Velumbra*>(session.Effects().at(0));
  IStarField* field = GetStarFieldInterface(effect);
  const auto rows = Rows(velumbra::StarsCsv(*field, 0));
  ASSERT_GT(rows.size(), 20001u + 5000u);
  float previous = -10.0f;
  std::size_t named = 0;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const std::vector<std::string>& f = rows[i];
    ASSERT_EQ(f.size(), 16u) << i;
    const float m = std::strtof(f[9].c_str(), nullptr);
    ASSERT_GE(m, previous) << "row " << i;
    previous = m;
    const bool fill = i > 20000;
    ASSERT_EQ(f[14], fill ? "1" : "0") << "row " << i;
    if (fill) {
      ASSERT_GE(m, 9.0f);
      ASSERT_LE(m, 9.5f);
      ASSERT_EQ(f[10], "1.2") << "the B-V of the catalogue's faint stars";
      ASSERT_EQ(f[15], "");
    }
    named += !f[15].empty();
  }
  EXPECT_EQ(named, 40u);  // every 500th of the catalogue's
  EXPECT_EQ(rows[1][15], "Doe, Jane");
}

TEST_F(SkyTable, ACatalogueItCannotReadIsBadInput) {
  WriteAll(dir_ / "damaged.txt", "# test\n 10.0000  5.0000  1.00 \"a\" 1 2 3\n 12.0000  x.0000  1.00 \"b\" 1 2 3\n");
  WriteBsc("good.txt", {{10.0, 5.0, 1.0, "a"}});
  struct Case {
    const char* label;
    std::string file, params;
    std::string message;
  };
  const Case cases[] = {
      {"missing", "none.dat", R"("magnitudelimit": 3)", (dir_ / "none.dat").string() + ": no such file"},
      {"damaged", "damaged.txt", R"("magnitudelimit": 3)", (dir_ / "damaged.txt").string() + ":3:"},
      {"not a time", "good.txt", R"("observertime": "yesterday")", "observertime \"yesterday\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    velumbra::RenderSession session(SkyScene(c.file, c.params), Lookup());
    IStarField* field = GetStarFieldInterface(session.Effects().at(0));
    try {
      velumbra::StarsCsv(*field, 0);
      ADD_FAILURE() << "listed";
    } catch (const velumbra::InputError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_EQ(GetHostLog()->Count(), 0u) << "the listing takes the entries it reports";
  }
}

}  // namespace
