#include "host/app/params/radio_labels.h"

#include <cctype>

#include "host/app/base/ascii.h"
#include "host/platform/resources.h"
#include "host/sdk/classdesc.h"

namespace velumbra {

namespace {

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

}  // namespace

std::vector<std::string> RadioLabels(const ParamBlockDesc2& desc, const ParamDef& def) {
  if (def.type != TYPE_RADIOBTN_INDEX || def.ui.control != TYPE_RADIO || !def.ui.HasControl()) return {};
  ClassDesc2* cd = desc.ClassDescriptor();
  const RolloutDef* rollout = desc.GetRolloutByMap(def.ui.map);
  if (!cd || !rollout) return {};
  const DialogTemplate* dialog = FindDialogTemplate(ModuleResourcesOf(cd->HInstance()), rollout->dialogTemplate);
  if (!dialog) return {};
  std::vector<std::string> labels;
  for (int id : def.ui.ctrlIDs) {
    const DialogControl* control = FindDialogControl(dialog, id);
    if (!control) return {};
    labels.emplace_back(control->text);
  }
  return labels;
}

std::optional<int> RadioIndexOf(const std::vector<std::string>& labels, std::string_view name) {
  const std::string_view wanted = Trimmed(name);
  for (size_t i = 0; i < labels.size(); ++i)
    if (EqualIgnoringCase(Trimmed(labels[i]), wanted)) return static_cast<int>(i);
  return std::nullopt;
}

std::string RadioChoicesText(const std::vector<std::string>& labels) {
  std::string text;
  for (size_t i = 0; i < labels.size(); ++i) {
    if (i) text += ", ";
    text += std::to_string(i) + " \"" + labels[i] + "\"";
  }
  return text;
}

}  // namespace velumbra
