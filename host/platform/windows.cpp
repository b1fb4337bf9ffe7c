#include "host/platform/windows.h"

#include <algorithm>
#include <cstring>

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
  if (!buffer || size < 1) return 0;
  buffer[0] = '\0';
  const StringResource* s = FindStringResource(ModuleResourcesOf(instance), id);
  if (!s) return 0;
  const std::size_t length = std::strlen(s->text);
  const std::size_t n = std::min(length, static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, s->text, n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}
