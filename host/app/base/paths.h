// File identity for the command's checks.
#pragma once

#include <filesystem>

namespace velumbra {

// Whether two names reach the same file: the same file on disk (hard links,
// links, `./` and `..` all resolved), or, for files not made yet, the same
// absolute name once the links and dots of the part that exists are
// resolved. The one rule every "is this output one of the inputs" and "do
// these two names meet" check uses.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace velumbra
