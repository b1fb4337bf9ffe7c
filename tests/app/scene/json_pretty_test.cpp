#include "host/app/scene/json_pretty.h"

#include <gtest/gtest.h>

namespace {

using ojson = nlohmann::ordered_json;

TEST(PrettyJson, ReadsBackToTheSameValue) {
  const char* const documents[] = {
      R"({})",
      R"([])",
      R"({"a": [], "b": {}, "c": null})",
      R"({"v": [1, 2.5, -3e-07], "s": "x,y"})",
      R"({"tricky": ["a,b", "q\"x\\", "\\", ",", "\",\""], "after": [1, 2]})",
      R"({"keys": [[0, 0.5], [30, [1, 0.9, 0.8]]]})",
      R"({"long": [1000000, 2000000, 3000000, 4000000, 5000000, 6000000, 7000000, 8000000, 9000000, 10000000, 11000000]})",
      R"([{"name": "a", "v": [1, 2, 3]}, {"name": "b", "nested": {"deeper": [[1, 2], [3, 4]]}}])",
      R"({"z": 1, "a": 2, "m": 3})",
  };
  for (const char* doc : documents) {
    SCOPED_TRACE(doc);
    const ojson value = ojson::parse(doc);
    const std::string text = velumbra::PrettyJson(value);
    EXPECT_EQ(ojson::parse(text), value) << text;
    EXPECT_EQ(ojson::parse(text).dump(), value.dump()) << "member order kept";
  }
}

TEST(PrettyJson, ShortArraysStayOnOneLine) {
  const ojson value = ojson::parse(R"({"position": [0, 1, 0], "node": {"scale": [1, 1, 1]}})");
  EXPECT_EQ(velumbra::PrettyJson(value),
            "{\n"
            "  \"position\": [0, 1, 0],\n"
            "  \"node\": {\n"
            "    \"scale\": [1, 1, 1]\n"
            "  }\n"
            "}");
  // An array holding objects, or too long for a line, is spread out.
  const std::string spread = velumbra::PrettyJson(ojson::parse(R"([{"a": 1}])"));
  EXPECT_EQ(spread, "[\n  {\n    \"a\": 1\n  }\n]");
  std::string longLine = velumbra::PrettyJson(ojson(std::vector<int>(40, 123)));
  EXPECT_NE(longLine.find("[\n  123,\n  123,"), std::string::npos) << longLine;
}

}  // namespace
