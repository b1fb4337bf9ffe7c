#include "host/platform/resources.h"

#include <algorithm>
#include <cstring>

namespace {

// Binary search over a table sorted by `id`.
template <typename T, typename Id>
const T* FindById(const T* table, std::size_t count, Id id) {
  if (!table) return nullptr;
  const T* end = table + count;
  const T* it = std::lower_bound(table, end, id, [](const T& e, Id v) { return e.id < v; });
  return it != end && it->id == id ? it : nullptr;
}

}  // namespace

const ModuleResources* ModuleResourcesOf(const void* handle) {
  if (!handle) return nullptr;
  const auto* module = static_cast<const ModuleResources*>(handle);
  if (module->magic != kModuleResourcesMagic || module->version != kModuleResourcesVersion) return nullptr;
  return module;
}

const StringResource* FindStringResource(const ModuleResources* module, std::uint32_t id) {
  return module ? FindById(module->strings, module->stringCount, id) : nullptr;
}

const DialogTemplate* FindDialogTemplate(const ModuleResources* module, int id) {
  return module ? FindById(module->dialogs, module->dialogCount, id) : nullptr;
}

const BitmapResource* FindBitmapResource(const ModuleResources* module, int id) {
  return module ? FindById(module->bitmaps, module->bitmapCount, id) : nullptr;
}

const char* FindVersionString(const ModuleResources* module, const char* key) {
  if (!module || !module->versionInfo || !key) return nullptr;
  const VersionResource& v = *module->versionInfo;
  for (std::size_t i = 0; i < v.stringCount; ++i)
    if (std::strcmp(v.strings[i].key, key) == 0) return v.strings[i].value;
  return nullptr;
}

const DialogControl* FindDialogControl(const DialogTemplate* dialog, int id) {
  if (!dialog) return nullptr;
  for (std::size_t i = 0; i < dialog->controlCount; ++i)
    if (dialog->controls[i].id == id) return &dialog->controls[i];
  return nullptr;
}
