#include "host/platform/commctrl.h"

#include <algorithm>
#include <atomic>

namespace {

std::atomic<int> initCalls{0};

}  // namespace

void InitCommonControls() { ++initCalls; }

bool IsCommonControlClassRegistered(std::string_view className) {
  return initCalls.load() > 0 && std::find(std::begin(kCommonControlClasses), std::end(kCommonControlClasses),
                                           className) != std::end(kCommonControlClasses);
}

int CommonControlsInitCount() { return initCalls.load(); }
