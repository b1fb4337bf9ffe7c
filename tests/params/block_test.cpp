// IParamBlock2: values by ID and time, keys, change messages, clones.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "effect/qe_velumbra_params.h"
#include "plugin/host.h"

namespace {

// A maker holding one block as its only reference and recording every
// message the block sends.
class Listener : public ReferenceMaker {
 public:
  explicit Listener(IParamBlock2* block) { ReplaceReference(0, block); }
  ~Listener() override { DeleteAllRefs(); }

  int NumRefs() override { return 1; }
  RefTargetHandle GetReference(int) override { return block_; }
  RefResult NotifyRefChanged(Interval, RefTargetHandle target, PartID& part, RefMessage message) override {
    messages.push_back(message);
    EXPECT_EQ(target, block_);
    EXPECT_EQ(part, PART_ALL);
    return REF_SUCCEED;
  }

  IParamBlock2* block() const { return block_; }
  std::vector<RefMessage> messages;

 protected:
  void SetReference(int, RefTargetHandle t) override { block_ = static_cast<IParamBlock2*>(t); }

 private:
  IParamBlock2* block_ = nullptr;
};

// A fresh block of the effect's schema, owned by a listener.
struct Fixture {
  Listener owner{new IParamBlock2(&qe_velumbra_param_blk)};
  IParamBlock2& b = *owner.block();
};

TEST(ParamBlock, NewBlockHoldsTheDefaultsForever) {
  Fixture f;
  Interval valid = FOREVER;
  int i = -1;
  float x = -1;
  Color c(-1, -1, -1);
  INode* node = reinterpret_cast<INode*>(&f);
  EXPECT_TRUE(f.b.GetValue(pb_starscount, 0, i, valid));
  EXPECT_EQ(i, 10000);
  EXPECT_TRUE(f.b.GetValue(pb_seed, 4800, i, valid));
  EXPECT_EQ(i, 12345);
  EXPECT_TRUE(f.b.GetValue(pb_starsalphaflag, 0, i, valid));
  EXPECT_EQ(i, 1);
  EXPECT_TRUE(f.b.GetValue(pb_drawmode, 0, i, valid));
  EXPECT_EQ(i, 0);
  EXPECT_TRUE(f.b.GetValue(pb_durationsubdivisions, 0, i, valid));
  EXPECT_EQ(i, 1);
  EXPECT_TRUE(f.b.GetValue(pb_scintillationfrequency, -100, x, valid));
  EXPECT_EQ(x, 2.0f);
  EXPECT_TRUE(f.b.GetValue(pb_dimstarscolor, 0, c, valid));
  EXPECT_EQ(c, Color(0.8f, 0.8f, 0.8f));
  EXPECT_TRUE(f.b.GetValue(pb_camera, 0, node, valid));
  EXPECT_EQ(node, nullptr);
  EXPECT_EQ(valid, FOREVER);
  // Every flag but the alpha flag is off.
  for (ParamID flag : {pb_useobjoriginflag, pb_starsdomain3dflag, pb_starsobjectidflag, pb_starsmaterialidflag,
                       pb_usecameraflag, pb_bakobjectidflag, pb_bakmaterialidflag, pb_hyperspaceflag,
                       pb_scintillationflag}) {
    EXPECT_TRUE(f.b.GetValue(flag, 0, i, valid));
    EXPECT_EQ(i, 0) << flag;
  }
  EXPECT_EQ(f.b.ID(), 0);
  EXPECT_EQ(f.b.NumParams(), 60);
  EXPECT_EQ(f.b.GetDesc(), &qe_velumbra_param_blk);
  EXPECT_EQ(f.b.GetMap(0), nullptr);
}

TEST(ParamBlock, TheSkysDefaultsKeepTheGeneratedField) {
  // Scenes saved before the sky load with these: the generator draws.
  Fixture f;
  Interval valid = FOREVER;
  int i = -1;
  float x = -1;
  ASSERT_TRUE(f.b.GetValue(pb_starsource, 0, i, valid));
  EXPECT_EQ(i, starsource_generated);
  ASSERT_TRUE(f.b.GetValue(pb_skyframe, 0, i, valid));
  EXPECT_EQ(i, skyframe_celestial);
  for (ParamID flag : {pb_refractionflag, pb_belowhorizonflag, pb_fillinflag}) {
    ASSERT_TRUE(f.b.GetValue(flag, 0, i, valid));
    EXPECT_EQ(i, 0) << flag;
  }
  ASSERT_TRUE(f.b.GetValue(pb_magnitudelimit, 0, x, valid));
  EXPECT_EQ(x, 6.5f);
  EXPECT_STREQ(f.b.GetStr(pb_observertime), "2000-01-01T12:00:00Z");
  EXPECT_STREQ(f.b.GetStr(pb_catalogfile), "/usr/share/kstars/stars.dat");
}

TEST(ParamBlock, UnknownIdsAndMismatchedTypesAreRefused) {
  Fixture f;
  Interval valid = FOREVER;
  int i = 77;
  float x = 7.5f;
  Color c(1, 2, 3);
  INode* node = nullptr;
  struct Case {
    const char* what;
    BOOL result;
  };
  const Case cases[] = {
      {"parameter 8", f.b.GetValue(8, 0, i, valid)},
      {"parameter 61", f.b.GetValue(61, 0, i, valid)},
      {"negative ID", f.b.GetValue(-1, 0, x, valid)},
      {"float read as int", f.b.GetValue(pb_duration, 0, i, valid)},
      {"int read as float", f.b.GetValue(pb_starscount, 0, x, valid)},
      {"bool read as float", f.b.GetValue(pb_starsalphaflag, 0, x, valid)},
      {"colour read as float", f.b.GetValue(pb_brightstarscolor, 0, x, valid)},
      {"node read as int", f.b.GetValue(pb_camera, 0, i, valid)},
      {"float read as colour", f.b.GetValue(pb_duration, 0, c, valid)},
      {"int read as node", f.b.GetValue(pb_seed, 0, node, valid)},
      {"table index", f.b.GetValue(pb_seed, 0, i, valid, 1)},
      {"set float as int", f.b.SetValue(pb_duration, 0, 3)},
      {"set int as float", f.b.SetValue(pb_starscount, 0, 3.0f)},
      {"set colour on float", f.b.SetValue(pb_duration, 0, Color(1, 1, 1))},
      {"set node on int", f.b.SetValue(pb_seed, 0, static_cast<INode*>(nullptr))},
      {"text read as int", f.b.GetValue(pb_observertime, 0, i, valid)},
      {"file name read as float", f.b.GetValue(pb_catalogfile, 0, x, valid)},
      {"set text on float", f.b.SetValue(pb_magnitudezero, 0, "6")},
      {"set parameter 8", f.b.SetValue(8, 0, 1)},
      {"set table index", f.b.SetValue(pb_seed, 0, 5, 2)},
  };
  for (const Case& k : cases) EXPECT_EQ(k.result, FALSE) << k.what;
  // Nothing was written and nobody was told.
  EXPECT_EQ(i, 77);
  EXPECT_EQ(x, 7.5f);
  EXPECT_EQ(c, Color(1, 2, 3));
  EXPECT_TRUE(f.owner.messages.empty());
  EXPECT_EQ(valid, FOREVER);
}

TEST(ParamBlock, SetValueStoresWithoutClampingAndNotifies) {
  Fixture f;
  Interval valid = FOREVER;
  EXPECT_TRUE(f.b.SetValue(pb_starscount, 0, 20000000));  // above the range: kept
  EXPECT_TRUE(f.b.SetValue(pb_duration, 0, -3.5f));
  EXPECT_TRUE(f.b.SetValue(pb_brightstarscolor, 0, Color(2.0f, -1.0f, 0.5f)));
  INode* fakeNode = reinterpret_cast<INode*>(&f);  // never dereferenced by the block
  EXPECT_TRUE(f.b.SetValue(pb_camera, 0, fakeNode));
  EXPECT_TRUE(f.b.SetValue(pb_drawmode, 0, 9));
  int i = 0;
  float x = 0;
  Color c;
  INode* node = nullptr;
  EXPECT_TRUE(f.b.GetValue(pb_starscount, 12345, i, valid));
  EXPECT_EQ(i, 20000000);
  EXPECT_TRUE(f.b.GetValue(pb_duration, -4800, x, valid));
  EXPECT_EQ(x, -3.5f);
  EXPECT_TRUE(f.b.GetValue(pb_brightstarscolor, 0, c, valid));
  EXPECT_EQ(c, Color(2.0f, -1.0f, 0.5f));
  EXPECT_TRUE(f.b.GetValue(pb_camera, 0, node, valid));
  EXPECT_EQ(node, fakeNode);
  EXPECT_TRUE(f.b.GetValue(pb_drawmode, 0, i, valid));
  EXPECT_EQ(i, 9);
  EXPECT_EQ(valid, FOREVER);  // constants hold for all time
  EXPECT_EQ(f.owner.messages, std::vector<RefMessage>(5, REFMSG_CHANGE));
}

TEST(ParamBlock, FloatKeysInterpolateLinearlyAndHoldBeyondTheEnds) {
  Fixture f;
  const std::array<ParamKey<float>, 3> keys = {{{0, 10.0f}, {160, 20.0f}, {480, 0.0f}}};
  ASSERT_TRUE(f.b.SetKeys(pb_duration, keys));
  struct Probe {
    TimeValue t;
    float value;
    Interval valid;
  };
  const Probe probes[] = {
      {-1000, 10.0f, {TIME_NegInfinity, 0}},  // before the first key
      {0, 10.0f, {0, 0}},
      {40, 12.5f, {40, 40}},      // a quarter of the way to 20
      {80, 15.0f, {80, 80}},
      {160, 20.0f, {160, 160}},   // exactly on a key
      {320, 10.0f, {320, 320}},   // half way from 20 to 0
      {400, 5.0f, {400, 400}},
      {480, 0.0f, {480, TIME_PosInfinity}},
      {TIME_PosInfinity, 0.0f, {480, TIME_PosInfinity}},
  };
  for (const Probe& p : probes) {
    Interval valid = FOREVER;
    float x = -1;
    ASSERT_TRUE(f.b.GetValue(pb_duration, p.t, x, valid));
    EXPECT_EQ(x, p.value) << "t = " << p.t;
    EXPECT_EQ(valid, p.valid) << "t = " << p.t;
  }
  EXPECT_EQ(f.b.NumKeys(pb_duration), 3);
}

TEST(ParamBlock, ValidityOnlyNarrows) {
  Fixture f;
  const std::array<ParamKey<float>, 2> keys = {{{0, 0.0f}, {100, 1.0f}}};
  ASSERT_TRUE(f.b.SetKeys(pb_duration, keys));
  Interval valid(-50, 50);
  float x = 0;
  ASSERT_TRUE(f.b.GetValue(pb_duration, -10, x, valid));
  EXPECT_EQ(valid, Interval(-50, 0));  // the held part ends at the first key
}

TEST(ParamBlock, ColourKeysInterpolateEachComponent) {
  Fixture f;
  const std::array<ParamKey<Color>, 2> keys = {{{100, Color(0.0f, 0.5f, 1.0f)}, {200, Color(1.0f, 0.5f, 0.0f)}}};
  ASSERT_TRUE(f.b.SetKeys(pb_starsdimmingfilter, keys));
  struct Probe {
    TimeValue t;
    Color c;
  };
  const Probe probes[] = {{0, Color(0.0f, 0.5f, 1.0f)},
                          {125, Color(0.25f, 0.5f, 0.75f)},
                          {150, Color(0.5f, 0.5f, 0.5f)},
                          {175, Color(0.75f, 0.5f, 0.25f)},
                          {999, Color(1.0f, 0.5f, 0.0f)}};
  for (const Probe& p : probes) {
    Interval valid = FOREVER;
    Color c;
    ASSERT_TRUE(f.b.GetValue(pb_starsdimmingfilter, p.t, c, valid));
    EXPECT_EQ(c, p.c) << "t = " << p.t;
  }
}

TEST(ParamBlock, FloatInterpolationAgreesWithAClosedForm) {
  // Between keys (t0, v0) and (t1, v1) the value is v0 + (v1 - v0) * u with
  // u = (t - t0) / (t1 - t0), in single precision; checked against double
  // arithmetic over a whole segment, including keys far apart on the time
  // line.
  Fixture f;
  const TimeValue t0 = -2000000000, t1 = 2000000000;
  const std::array<ParamKey<float>, 2> keys = {{{t0, -3.0f}, {t1, 5.0f}}};
  ASSERT_TRUE(f.b.SetKeys(pb_hyperspacedepth, keys));
  for (int k = 0; k <= 64; ++k) {
    const TimeValue t = static_cast<TimeValue>(t0 + (static_cast<long long>(t1) - t0) * k / 64);
    Interval valid = FOREVER;
    float x = 0;
    ASSERT_TRUE(f.b.GetValue(pb_hyperspacedepth, t, x, valid));
    const double exact = -3.0 + 8.0 * (static_cast<double>(t) - t0) / (static_cast<double>(t1) - t0);
    EXPECT_NEAR(x, exact, 1e-5) << "t = " << t;
  }
}

TEST(ParamBlock, IntegerBoolAndRadioKeysHoldTheLastKey) {
  Fixture f;
  struct Case {
    ParamID id;
    std::vector<ParamKey<int>> keys;  // deliberately not in time order
    std::vector<std::pair<TimeValue, int>> probes;
  };
  const Case cases[] = {
      {pb_starscount, {{100, 7}, {0, 5}}, {{-5, 5}, {0, 5}, {99, 5}, {100, 7}, {1000, 7}}},
      {pb_hyperspaceflag, {{50, 1}, {0, 0}, {100, 0}}, {{-1, 0}, {49, 0}, {50, 1}, {75, 1}, {99, 1}, {100, 0}}},
      {pb_drawmode, {{160, 4}, {-160, 2}, {0, 3}}, {{-1000, 2}, {-1, 2}, {0, 3}, {159, 3}, {160, 4}}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(f.b.SetKeys(c.id, std::span<const ParamKey<int>>(c.keys)));
    for (const auto& [t, expected] : c.probes) {
      Interval valid = FOREVER;
      int v = -1;
      ASSERT_TRUE(f.b.GetValue(c.id, t, v, valid));
      EXPECT_EQ(v, expected) << "parameter " << c.id << " at " << t;
      EXPECT_TRUE(valid.InInterval(t));
    }
  }
  // An integer value holds from its key up to the tick before the next one.
  Interval valid = FOREVER;
  int v = 0;
  ASSERT_TRUE(f.b.GetValue(pb_drawmode, 80, v, valid));
  EXPECT_EQ(valid, Interval(0, 159));
  valid = FOREVER;
  ASSERT_TRUE(f.b.GetValue(pb_drawmode, -500, v, valid));
  EXPECT_EQ(valid, Interval(TIME_NegInfinity, -161));
}

TEST(ParamBlock, SetValueOnAKeyedParameterSetsOrAddsTheKey) {
  Fixture f;
  const std::array<ParamKey<float>, 2> keys = {{{0, 1.0f}, {100, 2.0f}}};
  ASSERT_TRUE(f.b.SetKeys(pb_starsdimming, keys));
  f.owner.messages.clear();
  ASSERT_TRUE(f.b.SetValue(pb_starsdimming, 100, 4.0f));  // replaces the key at 100
  EXPECT_EQ(f.b.NumKeys(pb_starsdimming), 2);
  ASSERT_TRUE(f.b.SetValue(pb_starsdimming, 50, 0.0f));  // adds a key between
  EXPECT_EQ(f.b.NumKeys(pb_starsdimming), 3);
  EXPECT_EQ(f.b.GetKeyTime(pb_starsdimming, 0), 0);
  EXPECT_EQ(f.b.GetKeyTime(pb_starsdimming, 1), 50);
  EXPECT_EQ(f.b.GetKeyTime(pb_starsdimming, 2), 100);
  EXPECT_EQ(f.b.GetKeyTime(pb_starsdimming, 3), 0);
  Interval valid = FOREVER;
  float x = -1;
  ASSERT_TRUE(f.b.GetValue(pb_starsdimming, 25, x, valid));
  EXPECT_EQ(x, 0.5f);
  ASSERT_TRUE(f.b.GetValue(pb_starsdimming, 75, x, valid));
  EXPECT_EQ(x, 2.0f);
  EXPECT_EQ(f.owner.messages, std::vector<RefMessage>(2, REFMSG_CHANGE));
  // An empty key list returns the parameter to its constant value.
  ASSERT_TRUE(f.b.SetKeys(pb_starsdimming, std::span<const ParamKey<float>>()));
  EXPECT_EQ(f.b.NumKeys(pb_starsdimming), 0);
  valid = FOREVER;
  ASSERT_TRUE(f.b.GetValue(pb_starsdimming, 75, x, valid));
  EXPECT_EQ(x, 0.3f);
  EXPECT_EQ(valid, FOREVER);
}

TEST(ParamBlock, BadKeyListsAreRefusedAndChangeNothing) {
  Fixture f;
  const std::array<ParamKey<float>, 2> twice = {{{10, 1.0f}, {10, 2.0f}}};
  const std::array<ParamKey<float>, 1> one = {{{10, 1.0f}}};
  const std::array<ParamKey<int>, 1> intKey = {{{10, 1}}};
  EXPECT_FALSE(f.b.SetKeys(pb_duration, twice));     // two keys at one time
  EXPECT_FALSE(f.b.SetKeys(pb_starscount, one));     // float keys on an integer
  EXPECT_FALSE(f.b.SetKeys(pb_duration, intKey));    // integer keys on a float
  EXPECT_FALSE(f.b.SetKeys(pb_camera, intKey));      // nodes are not animatable
  EXPECT_FALSE(f.b.SetKeys(8, intKey));              // no such parameter
  EXPECT_EQ(f.b.NumKeys(pb_duration), 0);
  EXPECT_EQ(f.b.NumKeys(pb_starscount), 0);
  EXPECT_EQ(f.b.NumKeys(8), 0);
  EXPECT_TRUE(f.owner.messages.empty());
}

TEST(ParamBlock, SingleKeyHoldsEverywhere) {
  Fixture f;
  const std::array<ParamKey<float>, 1> one = {{{300, 7.0f}}};
  ASSERT_TRUE(f.b.SetKeys(pb_colorvariance, one));
  for (TimeValue t : {TIME_NegInfinity, 0, 300, 301, TIME_PosInfinity}) {
    Interval valid = FOREVER;
    float x = 0;
    ASSERT_TRUE(f.b.GetValue(pb_colorvariance, t, x, valid));
    EXPECT_EQ(x, 7.0f) << t;
  }
}

TEST(ParamBlock, CloneCopiesValuesAndKeysAndIsIndependent) {
  Fixture f;
  ASSERT_TRUE(f.b.SetValue(pb_seed, 0, 99));
  const std::array<ParamKey<float>, 2> keys = {{{0, 0.0f}, {100, 1.0f}}};
  ASSERT_TRUE(f.b.SetKeys(pb_velumbralimit, keys));
  INode* fakeNode = reinterpret_cast<INode*>(&f);
  ASSERT_TRUE(f.b.SetValue(pb_hsdirectionobject, 0, fakeNode));

  RemapDir remap;
  auto* clone = static_cast<IParamBlock2*>(remap.CloneRef(&f.b));
  ASSERT_NE(clone, nullptr);
  ASSERT_NE(clone, &f.b);
  Listener cloneOwner(clone);
  Interval valid = FOREVER;
  int i = 0;
  float x = 0;
  INode* node = nullptr;
  EXPECT_TRUE(clone->GetValue(pb_seed, 0, i, valid));
  EXPECT_EQ(i, 99);
  EXPECT_TRUE(clone->GetValue(pb_velumbralimit, 50, x, valid));
  EXPECT_EQ(x, 0.5f);
  EXPECT_EQ(clone->NumKeys(pb_velumbralimit), 2);
  EXPECT_TRUE(clone->GetValue(pb_hsdirectionobject, 0, node, valid));
  EXPECT_EQ(node, fakeNode);

  f.owner.messages.clear();
  ASSERT_TRUE(clone->SetValue(pb_seed, 0, 5));
  EXPECT_TRUE(f.b.GetValue(pb_seed, 0, i, valid));
  EXPECT_EQ(i, 99);                      // the source keeps its value
  EXPECT_TRUE(f.owner.messages.empty());  // and its dependents hear nothing
  EXPECT_EQ(cloneOwner.messages, std::vector<RefMessage>{REFMSG_CHANGE});
}

TEST(ParamBlock, LookupByInternalName) {
  Fixture f;
  const int index = f.b.FindParamByName("scintillationdy");
  ASSERT_GE(index, 0);
  EXPECT_EQ(f.b.IndexToID(index), pb_scintillationdy);
  EXPECT_EQ(f.b.IDtoIndex(pb_scintillationdy), index);
  EXPECT_EQ(f.b.FindParamByName("nosuchparameter"), -1);
  EXPECT_EQ(f.b.IndexToID(60), -1);
  EXPECT_EQ(f.b.IndexToID(-1), -1);
}

}  // namespace
