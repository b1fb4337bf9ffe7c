// Values quoted for the command's messages.
#pragma once

#include <string>
#include <string_view>

namespace velumbra {

// `s` in double quotes as a JSON string literal would write it: `"` and `\`
// escaped, control characters as \n, \t or \u00XX, and every byte that is
// not part of well-formed UTF-8 as \xHH, so that any bytes (a NUL, a file
// name in another encoding) can be shown safely. A value longer than
// `maxChars` characters is cut there and followed by "... (N bytes)", so a
// message never repeats a huge value whole.
std::string Quoted(std::string_view s, std::size_t maxChars = 200);

}  // namespace velumbra
