// The names of a radio parameter's choices: the captions of its radio
// buttons in the module's dialog template, in index order ("Additive With
// Alpha", "Additive With Inverse Alpha", ... for the apply method). The
// command lists them (`velumbra params`) and takes them in place of the
// index (`--set drawmode="Simple Additive"`, a scene's params).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/sdk/iparamb2.h"

namespace velumbra {

// The labels of `def`'s buttons (one per index), or empty when `def` is not
// a radio parameter or its module has no template or button for one.
std::vector<std::string> RadioLabels(const ParamBlockDesc2& desc, const ParamDef& def);

// The index whose label is `name`, compared ignoring letter case and
// surrounding blanks; nullopt when none is.
std::optional<int> RadioIndexOf(const std::vector<std::string>& labels, std::string_view name);

// "0 \"Additive With Alpha\", 1 ..." for messages and listings.
std::string RadioChoicesText(const std::vector<std::string>& labels);

}  // namespace velumbra
