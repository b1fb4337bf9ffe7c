#include "host/app/base/quoting.h"

#include <cstdio>

namespace velumbra {

namespace {

// The length of the well-formed UTF-8 sequence at s[i] (1 to 4), or 0 when
// the bytes there are not one (a stray continuation byte, an overlong or
// surrogate encoding, a sequence cut short).
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) return 1;
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) n = 2;
  else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return n;
}

}  // namespace

std::size_t FirstNonUtf8Byte(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8SequenceLength(s, i);
    if (n == 0) return i;
    i += n;
  }
  return std::string_view::npos;
}

namespace {

// Appends at most `maxChars` characters of `s` to `out`, every byte that is
// not part of well-formed UTF-8 as \xHH and the control characters as
// \uXXXX; `quoting` also escapes `"` and `\` and writes \n, \t, \r as a
// string literal would, else a newline stays as it is. Then, when `s` was
// cut, "... (N bytes)" after `closing`.
void AppendEscaped(std::string& out, std::string_view s, std::size_t maxChars, bool quoting, const char* closing) {
  std::size_t chars = 0;
  std::size_t i = 0;
  char hex[8];
  while (i < s.size() && chars < maxChars) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const std::size_t n = Utf8SequenceLength(s, i);
    if (n == 0) {
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
      i += 1;
    } else if (quoting && (c == '"' || c == '\\')) {
      out += '\\';
      out += static_cast<char>(c);
      i += 1;
    } else if ((c < 0x20 && (quoting || c != '\n')) || c == 0x7F) {
      if (quoting && c == '\n') out += "\\n";
      else if (quoting && c == '\t') out += "\\t";
      else if (quoting && c == '\r') out += "\\r";
      else {
        std::snprintf(hex, sizeof hex, "\\u%04X", c);
        out += hex;
      }
      i += 1;
    } else {
      out.append(s.substr(i, n));
      i += n;
    }
    ++chars;
  }
  out += closing;
  if (i < s.size()) out += "... (" + std::to_string(s.size()) + " bytes)";
}

}  // namespace

std::string PrintableMessage(std::string_view s, std::size_t maxChars) {
  std::string out;
  AppendEscaped(out, s, maxChars, /*quoting=*/false, "");
  return out;
}

std::string QuotedIfNeeded(std::string_view s, std::size_t maxChars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < s.size(); ++chars) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const std::size_t n = Utf8SequenceLength(s, i);
    if (n == 0 || c < 0x20 || c == 0x7F || c == '"' || c == '\\' || chars >= maxChars) return Quoted(s, maxChars);
    i += n;
  }
  return std::string(s);
}

std::string Quoted(std::string_view s, std::size_t maxChars) {
  std::string out = "\"";
  AppendEscaped(out, s, maxChars, /*quoting=*/true, "\"");
  return out;
}

}  // namespace velumbra
