#include "host/app/scene/json_pretty.h"

#include <charconv>

namespace velumbra {

namespace {

using ojson = nlohmann::ordered_json;

bool HoldsObject(const ojson& v) {
  if (v.is_object()) return true;
  if (v.is_array())
    for (const ojson& e : v)
      if (HoldsObject(e)) return true;
  return false;
}

void WritePretty(std::string& out, const ojson& v, int depth) {
  const std::string pad(2 * (depth + 1), ' '), closePad(2 * depth, ' ');
  if (v.is_object()) {
    if (v.empty()) {
      out += "{}";
      return;
    }
    out += "{\n";
    size_t i = 0;
    for (const auto& [key, value] : v.items()) {
      out += pad + ojson(key).dump() + ": ";
      WritePretty(out, value, depth + 1);
      out += ++i < v.size() ? ",\n" : "\n";
    }
    out += closePad + "}";
  } else if (v.is_array() && !v.empty()) {
    const std::string compact = v.dump(-1, ' ', false, ojson::error_handler_t::strict);
    if (!HoldsObject(v) && compact.size() + 2 * depth <= 80) {
      // The compact form with a space after each comma outside strings.
      bool inString = false, escaped = false;
      for (const char ch : compact) {
        out += ch;
        if (escaped) escaped = false;
        else if (inString && ch == '\\') escaped = true;
        else if (ch == '"') inString = !inString;
        else if (ch == ',' && !inString) out += ' ';
      }
      return;
    }
    out += "[\n";
    for (size_t i = 0; i < v.size(); ++i) {
      out += pad;
      WritePretty(out, v[i], depth + 1);
      out += i + 1 < v.size() ? ",\n" : "\n";
    }
    out += closePad + "]";
  } else {
    out += v.dump();
  }
}

}  // namespace

std::string PrettyJson(const nlohmann::ordered_json& value) {
  std::string text;
  WritePretty(text, value, 0);
  return text;
}

std::string FloatText(float x) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, x);
  return std::string(text, result.ptr);
}

}  // namespace velumbra
