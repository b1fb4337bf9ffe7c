// The parameters of an effect class as `velumbra params` shows them, taken
// from the class's own parameter-block descriptors: ID, internal name, type,
// default, range, display name (from the module's string table) and the
// rollout the control sits in.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/app/scene/scene_file.h"
#include "host/sdk/classdesc.h"

namespace velumbra {

// One line per parameter under a header line, columns aligned, then the
// names of the radio parameters' choices.
std::string ParamListingText(ClassDesc2& cd);

// {"class": ..., "blocks": [{"id", "name", "params": [{"id", "name", "type",
// "default", "range", "displayName", "rollout", "animatable"[, "choices"]},
// ...]}]}; "choices" lists a radio parameter's names in index order.
// Defaults are written as a scene's params take them, so any of them can be
// pasted into a scene or a --set option.
nlohmann::ordered_json ParamListingJson(ClassDesc2& cd);

// The parameter reference in Markdown (docs/parameters.md): by rollout, each
// parameter's display name, type, default, range or choices from the block,
// and its hand-written note (param_notes.h).
std::string ParamReferenceMarkdown(ClassDesc2& cd);

// Every parameter of the class's blocks at its default, as a scene's params
// hold it (the value ParamListingJson lists as "default"); node parameters,
// which default to no node, are left out.
std::vector<ParamDesc> DefaultParamValues(ClassDesc2& cd);

}  // namespace velumbra
