// JSON for people to read and edit: two-space indentation like
// dump(2), but arrays without objects inside (vectors, matrix rows, colour
// values, parameter keys) on one line while they fit in 80 columns.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace velumbra {

// The text of `value`, without a final newline; reads back to the same value.
std::string PrettyJson(const nlohmann::ordered_json& value);

// The shortest text that reads back to the same float: 0.001, not
// 0.001000000047.
std::string FloatText(float x);

}  // namespace velumbra
