#include "host/app/output/output_name.h"

#include <cstdint>
#include <optional>

#include "host/app/base/app_error.h"
#include "host/app/base/quoting.h"

namespace velumbra {

namespace {

// The widest printf field taken: wider ones are not frame numbers.
constexpr size_t kMaxPrintfWidth = 32;

struct Field {
  size_t length = 0;  // characters of the name it takes
  size_t width = 0;   // minimum digits
};

// The frame-number field starting at name[i], if one does.
std::optional<Field> FieldAt(std::string_view name, size_t i) {
  if (name[i] == '#') {
    size_t end = i;
    while (end < name.size() && name[end] == '#') ++end;
    return Field{end - i, end - i};
  }
  if (name[i] != '%') return std::nullopt;
  // %d, or %0Nd with N of one or more digits.
  size_t j = i + 1;
  if (j < name.size() && name[j] == 'd') return Field{2, 0};
  if (j >= name.size() || name[j] != '0') return std::nullopt;
  ++j;
  size_t width = 0;
  const size_t digitsStart = j;
  while (j < name.size() && name[j] >= '0' && name[j] <= '9' && j - digitsStart < 3)
    width = width * 10 + static_cast<size_t>(name[j++] - '0');
  if (j == digitsStart || j >= name.size() || name[j] != 'd' || width > kMaxPrintfWidth) return std::nullopt;
  return Field{j + 1 - i, width};
}

// True when name[i] starts an escape: '%%' or '%#', one literal character.
bool EscapeAt(std::string_view name, size_t i) {
  return name[i] == '%' && i + 1 < name.size() && (name[i + 1] == '%' || name[i + 1] == '#');
}

}  // namespace

bool HasFrameNumberField(std::string_view name) {
  for (size_t i = 0; i < name.size(); ++i) {
    if (EscapeAt(name, i)) {
      ++i;
      continue;
    }
    if (FieldAt(name, i)) return true;
  }
  return false;
}

std::string OutputNameForFrame(std::string_view name, int frame) {
  // The magnitude in 64 bits: -INT_MIN does not fit an int.
  const std::int64_t wide = frame;
  const std::string digits = std::to_string(wide < 0 ? -wide : wide);
  std::string out;
  out.reserve(name.size() + digits.size() + 1);
  for (size_t i = 0; i < name.size();) {
    if (EscapeAt(name, i)) {
      out += name[i + 1];
      i += 2;
      continue;
    }
    const std::optional<Field> field = FieldAt(name, i);
    if (!field) {
      out += name[i++];
      continue;
    }
    if (frame < 0) out += '-';
    if (digits.size() < field->width) out.append(field->width - digits.size(), '0');
    out += digits;
    i += field->length;
  }
  return out;
}

std::string FileOfName(std::string_view name) {
  return HasFrameNumberField(name) ? std::string(name) : OutputNameForFrame(name, 0);
}

void CheckOutputName(std::string_view name, std::size_t frameCount) {
  if (frameCount > 1 && !HasFrameNumberField(name))
    throw InputError("output name " + Quoted(name) + " has no '#' run or %04d for the frame number, " +
                     "so it can hold only one frame, but " + std::to_string(frameCount) +
                     " frames were asked for (write e.g. stars.####.png)");
}

}  // namespace velumbra
