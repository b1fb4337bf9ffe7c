// Where tests find the tree they were built from: the build folder (the
// velumbra binary, the module) and the source folder (scenes, docs, fuzz
// corpora). CTest sets VELUMBRA_BUILD_DIR and VELUMBRA_SOURCE_DIR; a test
// binary run by hand falls back on the folders its build compiled in
// (VELUMBRA_*_DIR_FALLBACK, defined by the extra.cmake of the folders that
// need them).
#pragma once

#include <cstdlib>
#include <filesystem>

#ifdef VELUMBRA_BUILD_DIR_FALLBACK
inline std::filesystem::path BuildDir() {
  const char* env = std::getenv("VELUMBRA_BUILD_DIR");
  return env ? env : VELUMBRA_BUILD_DIR_FALLBACK;
}
#endif

#ifdef VELUMBRA_SOURCE_DIR_FALLBACK
inline std::filesystem::path SourceDir() {
  const char* env = std::getenv("VELUMBRA_SOURCE_DIR");
  return env ? env : VELUMBRA_SOURCE_DIR_FALLBACK;
}
#endif
