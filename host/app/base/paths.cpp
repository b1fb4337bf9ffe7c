#include "host/app/base/paths.h"

namespace velumbra {

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  if (a == b) return true;
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  const std::filesystem::path ca = std::filesystem::weakly_canonical(a, ec);
  if (ec) return false;
  const std::filesystem::path cb = std::filesystem::weakly_canonical(b, ec);
  return !ec && ca == cb;
}

}  // namespace velumbra
