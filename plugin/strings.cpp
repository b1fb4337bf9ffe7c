#include "plugin/strings.h"

HINSTANCE hInstance = nullptr;

namespace {

// The one buffer every lookup loads into.
MCHAR stringBuffer[256];

}  // namespace

const MCHAR* GetString(int id) {
  if (!hInstance) return nullptr;
  // A negative ID converts to an ID far above any in the table: absent.
  const int copied = LoadStringA(hInstance, static_cast<UINT>(id), stringBuffer, sizeof stringBuffer);
  return copied > 0 ? stringBuffer : nullptr;
}
