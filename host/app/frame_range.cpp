#include "host/app/frame_range.h"

#include <charconv>
#include <cstdint>
#include <string>

#include "host/app/base/app_error.h"
#include "host/app/base/quoting.h"

namespace velumbra {

namespace {

[[noreturn]] void Fail(std::string_view list, std::string_view item, const std::string& why) {
  std::string message = "frame list " + Quoted(list);
  if (!item.empty() && item != list) message += ", item " + Quoted(item);
  throw InputError(message + ": " + why);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Reads an optionally signed decimal integer at the front of `s`; false
// when there is none.
bool TakeNumber(std::string_view& s, std::int64_t& value, bool& overflow) {
  const char* begin = s.data();
  const char* end = s.data() + s.size();
  if (begin == end) return false;
  const char* digits = *begin == '-' ? begin + 1 : begin;
  if (digits == end || *digits < '0' || *digits > '9') return false;
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  overflow = ec == std::errc::result_out_of_range;
  if (overflow) {
    const char* p = digits;
    while (p != end && *p >= '0' && *p <= '9') ++p;
    s.remove_prefix(static_cast<size_t>(p - begin));
    return true;
  }
  s.remove_prefix(static_cast<size_t>(ptr - begin));
  return true;
}

constexpr std::int64_t kIntMin = INT32_MIN;
constexpr std::int64_t kIntMax = INT32_MAX;

}  // namespace

std::vector<int> ParseFrameList(std::string_view text) {
  const std::string_view list = text;
  if (Trim(text).empty()) Fail(list, {}, "no frames given");
  std::vector<int> frames;
  while (true) {
    const size_t comma = text.find(',');
    const std::string_view item = Trim(text.substr(0, comma));
    if (item.empty()) Fail(list, {}, "empty item (two commas, or a comma at an end)");
    const std::string_view expected =
        "expected a frame (12), a range (1-100) or a range with a step (1-100x2)";

    std::string_view rest = item;
    std::int64_t first = 0, last = 0, step = 1;
    bool overflow = false;
    if (!TakeNumber(rest, first, overflow)) Fail(list, item, std::string(expected));
    if (overflow || first < kIntMin || first > kIntMax) Fail(list, item, "frame number out of range");
    last = first;
    bool isRange = false, hasStep = false;
    if (!rest.empty() && rest.front() == '-') {
      rest.remove_prefix(1);
      if (!TakeNumber(rest, last, overflow)) Fail(list, item, std::string(expected));
      if (overflow || last < kIntMin || last > kIntMax) Fail(list, item, "frame number out of range");
      isRange = true;
      if (!rest.empty() && rest.front() == 'x') {
        rest.remove_prefix(1);
        if (!TakeNumber(rest, step, overflow)) Fail(list, item, "expected a step after 'x' (1-100x2)");
        if (overflow || step < kIntMin || step > kIntMax) Fail(list, item, "step out of range");
        hasStep = true;
      }
    }
    if (!rest.empty()) Fail(list, item, std::string(expected));
    if (isRange) {
      if (step == 0) Fail(list, item, "the step must not be 0");
      if (first > last && !hasStep)
        Fail(list, item,
             "the range runs backwards; for descending frames give a negative step (" +
                 std::to_string(first) + "-" + std::to_string(last) + "x-1)");
      if ((first < last && step < 0) || (first > last && step > 0))
        Fail(list, item, "the step points away from the last frame");
    }
    const std::int64_t count = isRange ? (last - first) / step + 1 : 1;
    if (static_cast<std::uint64_t>(count) + frames.size() > kMaxFrameListLength)
      Fail(list, item, "more than " + std::to_string(kMaxFrameListLength) + " frames");
    for (std::int64_t i = 0; i < count; ++i) frames.push_back(static_cast<int>(first + i * step));

    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return frames;
}

}  // namespace velumbra
