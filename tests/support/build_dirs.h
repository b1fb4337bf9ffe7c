// The build and source folders of the tree under test: CTest passes them
// in the environment; a test run by hand falls back to the folders the test
// was built for (VELUMBRA_BUILD_DIR_FALLBACK, VELUMBRA_SOURCE_DIR_FALLBACK,
// given by the folder's extra.cmake).
#pragma once

#include <cstdlib>
#include <filesystem>

inline std::filesystem::path BuildDir() {
  const char* env = std::getenv("VELUMBRA_BUILD_DIR");
  return env ? env : VELUMBRA_BUILD_DIR_FALLBACK;
}

inline std::filesystem::path SourceDir() {
  const char* env = std::getenv("VELUMBRA_SOURCE_DIR");
  return env ? env : VELUMBRA_SOURCE_DIR_FALLBACK;
}
