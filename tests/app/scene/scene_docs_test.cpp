// The user documentation of the scene format against the reader: the guide's
// example reads, and the JSON Schema names exactly the keys the reader takes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>

#include "support/temp_dir.h"
#include "host/app/base/app_error.h"
#include "host/app/scene/scene_file.h"

namespace {

std::filesystem::path SourceDir() {
  const char* dir = std::getenv("VELUMBRA_SOURCE_DIR");
  return dir ? dir : VELUMBRA_SOURCE_DIR_FALLBACK;
}

TEST(SceneDocs, TheGuidesExampleReads) {
  const std::string guide = ReadAll(SourceDir() / "docs/scene-format.md");
  const size_t begin = guide.find("```json\n");
  ASSERT_NE(begin, std::string::npos);
  const size_t end = guide.find("```", begin + 8);
  const std::string example = guide.substr(begin + 8, end - begin - 8);
  const velumbra::SceneDesc s = velumbra::ParseScene(example, "scene-format.md", "/docs");
  EXPECT_EQ(s.nodes.size(), 2u);
  EXPECT_EQ(s.effects.size(), 1u);
  EXPECT_EQ(s.render.materialId->channel, "MaterialID");
}

// The reader's list of accepted keys, from its message about an unknown one.
std::set<std::string> KeysTheReaderTakes(const std::string& document) {
  try {
    velumbra::ParseScene(document, "s.json", "");
  } catch (const velumbra::InputError& e) {
    const std::string what = e.what();
    const std::string marker = "expected one of: ";
    const size_t at = what.find(marker);
    if (at == std::string::npos) return {"(" + what + ")"};
    std::set<std::string> keys;
    std::stringstream list(what.substr(at + marker.size()));
    std::string key;
    while (std::getline(list, key, ',')) keys.insert(key.substr(key.find_first_not_of(' ')));
    return keys;
  }
  return {"(accepted)"};
}

std::set<std::string> KeysTheSchemaNames(const nlohmann::json& schema, const std::string& pointer) {
  std::set<std::string> keys;
  for (const auto& [key, value] : schema.at(nlohmann::json::json_pointer(pointer)).items()) keys.insert(key);
  return keys;
}

TEST(SceneDocs, SchemaNamesTheKeysTheReaderTakes) {
  const auto schema = nlohmann::json::parse(ReadAll(SourceDir() / "docs/scene.schema.json"));
  const std::string camera = R"({"name": "c", "type": "camera"})";
  const struct {
    const char* where;
    std::string document;
  } levels[] = {
      {"/properties", R"({"zzz": 1})"},
      {"/$defs/render/properties", R"({"render": {"zzz": 1}})"},
      {"/$defs/node/properties", R"({"nodes": [{"name": "c", "type": "camera", "zzz": 1}]})"},
      {"/$defs/key/properties", R"({"nodes": [{"name": "c", "type": "camera", "keys": [{"frame": 0, "zzz": 1}]}]})"},
      {"/$defs/chan/properties", R"({"nodes": [{"name": "c", "type": "camera", "chan": {"file": "c.chan", "zzz": 1}}]})"},
      {"/$defs/effect/properties", R"({"nodes": [)" + camera + R"(], "effects": [{"class": "X", "zzz": 1}]})"},
      {"/$defs/paramValue/anyOf/1/properties",
       R"({"nodes": [)" + camera + R"(], "effects": [{"class": "X", "params": {"p": {"keys": [[0, 1]], "zzz": 1}}}]})"},
  };
  for (const auto& level : levels) {
    SCOPED_TRACE(level.where);
    EXPECT_EQ(KeysTheReaderTakes(level.document), KeysTheSchemaNames(schema, level.where));
  }
}

}  // namespace
