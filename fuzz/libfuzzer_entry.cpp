// libFuzzer's entry point for one target, chosen at compile time by
// VELUMBRA_FUZZ_ENTRY (a function of fuzz/targets/fuzz_targets.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/targets/fuzz_targets.h"

#ifndef VELUMBRA_FUZZ_ENTRY
#error "VELUMBRA_FUZZ_ENTRY names the target function"
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return velumbra::fuzz::VELUMBRA_FUZZ_ENTRY(data, size);
}
