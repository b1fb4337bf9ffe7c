#include "host/app/output_name.h"

#include <cstdint>

#include "host/app/app_error.h"

namespace velumbra {

bool HasFrameNumberField(std::string_view name) { return name.find('#') != std::string_view::npos; }

std::string OutputNameForFrame(std::string_view name, int frame) {
  // The magnitude in 64 bits: -INT_MIN does not fit an int.
  const std::int64_t wide = frame;
  const std::string digits = std::to_string(wide < 0 ? -wide : wide);
  std::string out;
  out.reserve(name.size() + digits.size() + 1);
  for (size_t i = 0; i < name.size();) {
    if (name[i] != '#') {
      out += name[i++];
      continue;
    }
    size_t width = 0;
    while (i < name.size() && name[i] == '#') ++width, ++i;
    if (frame < 0) out += '-';
    if (digits.size() < width) out.append(width - digits.size(), '0');
    out += digits;
  }
  return out;
}

void CheckOutputName(std::string_view name, std::size_t frameCount) {
  if (frameCount > 1 && !HasFrameNumberField(name))
    throw InputError("output name \"" + std::string(name) + "\" has no '#' for the frame number, " +
                     "so it can hold only one frame, but " + std::to_string(frameCount) +
                     " frames were asked for (write e.g. stars.####.png)");
}

}  // namespace velumbra
