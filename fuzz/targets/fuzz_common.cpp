#include <cstdio>
#include <cstdlib>

#include "fuzz/targets/fuzz_targets.h"

namespace velumbra::fuzz {

void Fault(const char* target, const std::string& what) {
  std::fprintf(stderr, "fuzz target %s: %s\n", target, what.c_str());
  std::fflush(stderr);
  std::abort();
}

std::span<const Target> Targets() {
  static const Target kTargets[] = {
      {"scene_file", FuzzSceneFile},
      {"png_reader", FuzzPngReader},
      {"exr_reader", FuzzExrReader},
      {"param_list", FuzzParamList},
      {"chan_file", FuzzChanFile},
      {"frame_pattern", FuzzFramePattern},
      {"catalogue", FuzzCatalogue},
  };
  return kTargets;
}

}  // namespace velumbra::fuzz
