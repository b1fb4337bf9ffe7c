#include "host/app/quoting.h"

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

std::string PrintableMessage(std::string_view s, std::size_t maxChars) {
  std::string out;
  std::size_t chars = 0, i = 0;
  char hex[8];
  while (i < s.size() && chars < maxChars) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const std::size_t n = Utf8SequenceLength(s, i);
    if (n == 0) {
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
      i += 1;
    } else if ((c < 0x20 && c != '\n') || c == 0x7F) {
      std::snprintf(hex, sizeof hex, "\\u%04X", c);
      out += hex;
      i += 1;
    } else {
      out.append(s.substr(i, n));
      i += n;
    }
    ++chars;
  }
  if (i < s.size()) out += "... (" + std::to_string(s.size()) + " bytes)";
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
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      i += 1;
    } else if (c < 0x20 || c == 0x7F) {
      if (c == '\n') out += "\\n";
      else if (c == '\t') out += "\\t";
      else if (c == '\r') out += "\\r";
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
  out += '"';
  if (i < s.size()) out += "... (" + std::to_string(s.size()) + " bytes)";
  return out;
}

}  // namespace velumbra
