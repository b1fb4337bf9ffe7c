// Letter case in names the command compares: file extensions, channel and
// layer names, radio labels. ASCII only, whatever the locale: a name with
// other bytes matches only itself.
#pragma once

#include <cstddef>
#include <string_view>

namespace velumbra {

constexpr char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

}  // namespace velumbra
