#include "host/app/image/image_limits.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <string_view>

#include "host/app/base/app_error.h"

namespace velumbra {

std::uint64_t MaxImagePixels() {
  const char* text = std::getenv(kMaxPixelsVariable);
  if (!text) return kDefaultMaxImagePixels;
  const std::string_view s(text);
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || error != std::errc() || end != s.data() + s.size() || value < 1 || value > kLargestMaxImagePixels)
    throw InputError(std::string(kMaxPixelsVariable) + ": expected a whole number of pixels from 1 to " +
                     std::to_string(kLargestMaxImagePixels) + ", got \"" + std::string(s) + "\"");
  return value;
}

std::string TooManyPixels(std::int64_t width, std::int64_t height, std::uint64_t limit) {
  return std::to_string(width) + " x " + std::to_string(height) + " pixels is more than the limit of " +
         std::to_string(limit) + " pixels (" + kMaxPixelsVariable + " changes it)";
}

}  // namespace velumbra
