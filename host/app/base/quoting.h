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

// `s` as it is when it is plain text (well-formed UTF-8 without control
// characters, quotes or backslashes, at most `maxChars` characters), so that
// ordinary values read naturally in messages ("--set seed=7"); Quoted(s)
// otherwise.
std::string QuotedIfNeeded(std::string_view s, std::size_t maxChars = 200);

// A whole message as it may be printed: bytes that are not UTF-8 shown as
// \xHH, control characters other than line breaks as \u00XX, cut after
// `maxChars` characters with "... (N bytes)". The last guard, where the
// command prints errors, for messages holding a value that no Quoted cut (a
// library's message repeating an option).
std::string PrintableMessage(std::string_view message, std::size_t maxChars = 2000);

// The offset of the first byte of `s` that is not part of well-formed UTF-8
// (no overlong forms, no surrogates, nothing beyond U+10FFFF), or npos when
// all of `s` is UTF-8. JSON text holds only UTF-8: bytes from outside (an
// option, a file name) are checked with this before they become a JSON
// string.
std::size_t FirstNonUtf8Byte(std::string_view s);

}  // namespace velumbra
