#include "host/app/scene/param_binding.h"

#include <gtest/gtest.h>

#include <memory>

#include "host/app/base/app_error.h"
#include "plugin/class_desc.h"
#include "support/module_handle.h"

namespace {

using velumbra::BindParam;
using velumbra::InputError;
using velumbra::ParamDesc;
using velumbra::ParseSetOption;

// A block of the effect's own schema, and a scene with a camera and a dummy.
class ParamBinding : public ::testing::Test {
 protected:
  ParamBinding() {
    ip_.CreateNode("Cam", std::make_unique<CameraObject>(0.8f));
    ip_.CreateNode("Helper", std::make_unique<DummyObject>());
    effect_ = static_cast<Effect*>(GetQe_VelumbraDesc()->Create(FALSE));
    block_ = effect_->GetParamBlock(0);
  }
  ~ParamBinding() override { effect_->DeleteMe(); }

  ParamID Id(const char* name) const { return block_->IndexToID(block_->FindParamByName(name)); }

  template <class T>
  T Get(const char* name, TimeValue t = 0) {
    T v{};
    Interval valid(TIME_NegInfinity, TIME_PosInfinity);
    EXPECT_TRUE(block_->GetValue(Id(name), t, v, valid)) << name;
    return v;
  }

  // Binds a scene value given as JSON text.
  void Bind(const char* name, const char* json) {
    ParamDesc p = velumbra::ParseParamValue(nlohmann::json::parse(json), name, "shot.json",
                                            std::string("/effects/0/params/") + name, 160);
    BindParam(*block_, p, "shot.json", ip_, 160);
  }

  // The message of the InputError binding throws.
  std::string Error(const char* name, const char* json) {
    try {
      Bind(name, json);
    } catch (const InputError& e) {
      return e.what();
    }
    ADD_FAILURE() << name << " = " << json << " was accepted";
    return {};
  }

  ScopedInstance instance_;
  Interface ip_;
  Effect* effect_ = nullptr;
  IParamBlock2* block_ = nullptr;
};

TEST_F(ParamBinding, EveryTypeBindsByInternalName) {
  Bind("starscount", "20000");
  Bind("seed", "7.0");  // a whole float is an integer
  Bind("starsalphaflag", "false");
  Bind("starsobjectidflag", "1");
  Bind("drawmode", "4");
  Bind("velumbralimit", "0.25");
  Bind("brightstarscolor", "[1, 0.5, 0]");
  Bind("camera", "\"Cam\"");
  Bind("objectorigin", "\"Helper\"");
  EXPECT_EQ(Get<int>("starscount"), 20000);
  EXPECT_EQ(Get<int>("seed"), 7);
  EXPECT_EQ(Get<int>("starsalphaflag"), 0);
  EXPECT_EQ(Get<int>("starsobjectidflag"), 1);
  EXPECT_EQ(Get<int>("drawmode"), 4);
  EXPECT_EQ(Get<float>("velumbralimit"), 0.25f);
  EXPECT_EQ(Get<Color>("brightstarscolor"), Color(1.0f, 0.5f, 0.0f));
  EXPECT_EQ(Get<INode*>("camera"), ip_.GetINodeByName("Cam"));
  EXPECT_EQ(Get<INode*>("objectorigin"), ip_.GetINodeByName("Helper"));
}

TEST_F(ParamBinding, RangesAreCheckedInTheParametersPrecision) {
  // The bounds are floats: the nearest float to 0.001 is the lowest frequency.
  Bind("scintillationfrequency", "0.001");
  EXPECT_EQ(Get<float>("scintillationfrequency"), 0.001f);
  Bind("hyperspacedepth", "-1");
  Bind("starscount", "0");
  Bind("starscount", "10000000");
  Bind("durationsubdivisions", "1");

  const std::string freq = Error("scintillationfrequency", "0.0009");
  EXPECT_NE(freq.find("shot.json: /effects/0/params/scintillationfrequency: expected a number in [0.001, 4800]"),
            std::string::npos)
      << freq;
  EXPECT_NE(Error("starscount", "10000001").find("an integer in 0..10000000, got 10000001"), std::string::npos);
  EXPECT_NE(Error("durationsubdivisions", "0").find("1..1000"), std::string::npos);
  EXPECT_NE(Error("drawmode", "5").find("0..4"), std::string::npos);
  EXPECT_NE(Error("starscount", "2.5").find("got 2.5"), std::string::npos);
  EXPECT_NE(Error("starsalphaflag", "2").find("true, false, 0 or 1"), std::string::npos);
  EXPECT_NE(Error("velumbralimit", "1e300").find("[0, 1]"), std::string::npos);
  EXPECT_NE(Error("velumbralimit", "\"wide\"").find("got \"wide\""), std::string::npos);
  // Rejected values leave the block as it was.
  EXPECT_EQ(Get<int>("starscount"), 10000000);
}

TEST_F(ParamBinding, ColoursAreThreeComponentsInZeroToOne) {
  const std::string big = Error("dimstarscolor", "[0.5, 1.5, 0]");
  EXPECT_NE(big.find("/effects/0/params/dimstarscolor/1: expected a number in [0, 1]"), std::string::npos) << big;
  EXPECT_NE(Error("dimstarscolor", "[0.5, 0.5]").find("a colour [r, g, b]"), std::string::npos);
  EXPECT_NE(Error("dimstarscolor", "0.5").find("a colour"), std::string::npos);
  EXPECT_NE(Error("dimstarscolor", "[-0.1, 0, 0]").find("/0:"), std::string::npos);
}

TEST_F(ParamBinding, NodeParametersNameNodesAndHonourThePickFilter) {
  EXPECT_NE(Error("objectorigin", "\"Nobody\"").find("no node named \"Nobody\""), std::string::npos);
  const std::string dummy = Error("camera", "\"Helper\"");
  EXPECT_NE(dummy.find("/effects/0/params/camera: \"Helper\" is not a camera"), std::string::npos) << dummy;
  EXPECT_NE(Error("camera", "3").find("the name of a camera node"), std::string::npos);
  EXPECT_NE(Error("camera", R"({"keys": [[0, "Cam"]]})").find("cannot be keyed"), std::string::npos);
  EXPECT_EQ(Get<INode*>("camera"), nullptr);
}

TEST_F(ParamBinding, UnknownNamesSuggestTheClosest) {
  const std::string message = Error("starcount", "5");
  EXPECT_NE(message.find("/effects/0/params/starcount: unknown parameter \"starcount\" (did you mean \"starscount\"?)"),
            std::string::npos)
      << message;
  EXPECT_EQ(Error("zzzzzzzz", "5").find("did you mean"), std::string::npos);
}

TEST_F(ParamBinding, KeysInterpolateFloatsAndHoldIntegers) {
  Bind("duration", R"({"keys": [[30, 2.0], [0, 0.5]]})");  // any order
  EXPECT_EQ(block_->NumKeys(Id("duration")), 2);
  EXPECT_EQ(Get<float>("duration", 0), 0.5f);
  EXPECT_EQ(Get<float>("duration", 15 * 160), 1.25f);
  EXPECT_EQ(Get<float>("duration", 60 * 160), 2.0f);

  Bind("starscount", R"({"keys": [[0, 100], [10, 900]]})");
  EXPECT_EQ(Get<int>("starscount", 9 * 160), 100);
  EXPECT_EQ(Get<int>("starscount", 10 * 160), 900);

  Bind("dimstarscolor", R"({"keys": [[0, [0, 0, 0]], [2, [1, 1, 0]]]})");
  EXPECT_EQ(Get<Color>("dimstarscolor", 160), Color(0.5f, 0.5f, 0.0f));

  // A later constant replaces the keys.
  Bind("duration", "3");
  EXPECT_EQ(block_->NumKeys(Id("duration")), 0);
  EXPECT_EQ(Get<float>("duration", 15 * 160), 3.0f);

  const std::string bad = Error("duration", R"({"keys": [[0, 0.5], [30, 200]]})");
  EXPECT_NE(bad.find("/effects/0/params/duration/keys/1/1: expected a number in [0, 100]"), std::string::npos) << bad;
}

TEST(SetOption, ValuesAreJsonOrBareWords) {
  const auto count = ParseSetOption("starscount=20000", 160);
  EXPECT_EQ(count.param.name, "starscount");
  EXPECT_EQ(count.param.value, 20000);
  EXPECT_EQ(count.Where(), "--set starscount=20000");

  EXPECT_EQ(ParseSetOption("camera=Camera001", 160).param.value, "Camera001");
  EXPECT_EQ(ParseSetOption("camera=\"Camera001\"", 160).param.value, "Camera001");
  EXPECT_EQ(ParseSetOption("brightstarscolor=[1,0.9,0.8]", 160).param.value, nlohmann::json::parse("[1,0.9,0.8]"));
  // '=' inside the value belongs to it.
  EXPECT_EQ(ParseSetOption("camera=a=b", 160).param.value, "a=b");

  const auto keyed = ParseSetOption(R"(duration={"keys":[[0,0.5],[30,2]]})", 160);
  ASSERT_TRUE(keyed.param.keyed);
  ASSERT_EQ(keyed.param.keys.size(), 2u);
  EXPECT_EQ(keyed.param.keys[1].first, 30);
}

// Before: the bytes reached a JSON string, whose dump aborted the command.
TEST(SetOption, OptionsThatAreNotUtf8AreRefused) {
  const struct {
    const char* text;
    const char* shown;  // the option as the message quotes it
  } cases[] = {
      {"camera=\xff", "--set \"camera=\\xFF\""},
      {"\xff=1", "--set \"\\xFF=1\""},
      {"brightstarscolor=\xc3(", "--set \"brightstarscolor=\\xC3(\""},
      {"camera=\"\xed\xa0\x80\"", "--set \"camera=\\\"\\xED\\xA0\\x80\\\"\""},
  };
  for (const auto& c : cases) {
    try {
      ParseSetOption(c.text, 160);
      ADD_FAILURE() << c.text << " was accepted";
    } catch (const InputError& e) {
      const std::string m = e.what();
      EXPECT_EQ(m.rfind(c.shown, 0), 0u) << m;
      EXPECT_NE(m.find("is not UTF-8 text"), std::string::npos) << m;
    }
  }
  // Well-formed UTF-8 is a value like any other.
  EXPECT_EQ(ParseSetOption("camera=Cam\xc3\xa9ra", 160).param.value, "Cam\xc3\xa9ra");
}

TEST(SetOption, MalformedOptionsAreNamed) {
  const auto message = [](const char* text) {
    try {
      ParseSetOption(text, 160);
    } catch (const InputError& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_NE(message("starscount").find("--set starscount: expected NAME=VALUE"), std::string::npos);
  EXPECT_NE(message("=5").find("expected NAME=VALUE"), std::string::npos);
  EXPECT_NE(message("starscount=").find("the value is missing"), std::string::npos);
  EXPECT_EQ(message("seed=null"), "--set seed=null: expected a value, got null");
  EXPECT_NE(message(R"(duration={"keys":[[0,1],[0,2]]})").find("/keys/1/0: frame 0 is keyed twice"),
            std::string::npos);
}

}  // namespace
