// JSON for people to read and edit: two-space indentation like
// dump(2), but arrays without objects inside (vectors, matrix rows, colour
// values, parameter keys) on one line while they fit in 80 columns.
#pragma once

#include <cmath>
#include <string>

#include <nlohmann/json.hpp>

namespace velumbra {

// The text of `value`, without a final newline; reads back to the same value.
std::string PrettyJson(const nlohmann::ordered_json& value);

// The shortest text that reads back to the same float: 0.001, not
// 0.001000000047.
std::string FloatText(float x);

// `x` as a JSON number with FloatText's digits, so that 0.2f is listed and
// saved as 0.2, not 0.200000003; null for an infinite or NaN value (JSON has
// no such numbers). Json is nlohmann::json or nlohmann::ordered_json.
template <class Json = nlohmann::json>
Json FloatJson(float x) {
  return std::isfinite(x) ? Json::parse(FloatText(x)) : Json();
}

}  // namespace velumbra
