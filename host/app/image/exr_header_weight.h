// What an OpenEXR file's header says it will cost to read, found by walking
// the header's bytes (a name, a type, a size and a value for each
// attribute) without keeping any value but the windows and the channel
// list: a header can claim a huge data window, or hold a string attribute
// of hundreds of megabytes, in a file of a few kilobytes or that the
// library would read whole into memory just to open the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace velumbra {

// A window the header leaves out is the library's default, 64 x 64, as the
// reader takes it.
struct ExrHeaderWeight {
  std::uint64_t displayWidth = 64;  // of the first part's display window
  std::uint64_t displayHeight = 64;
  std::uint64_t dataPixels = 64 * 64;   // of the first part's data window
  std::uint64_t bytesPerDataPixel = 0;  // its channels' samples (HALF 2, FLOAT and UINT 4), full resolution
  std::uint64_t attributeBytes = 0;     // every attribute's value in every part's header
};

// The weight of `file`'s headers; nullopt when the file is not an OpenEXR
// file that says (the reader then says why).
std::optional<ExrHeaderWeight> WeighExrHeader(const std::filesystem::path& file);

}  // namespace velumbra
