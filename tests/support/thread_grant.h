// Takes back the host's grant of render threads when a test ends, however
// it ends (a failed ASSERT returns early).
#pragma once

#include "host/sdk/render_threads.h"

struct GrantScope {
  GrantScope() = default;
  GrantScope(const GrantScope&) = delete;
  GrantScope& operator=(const GrantScope&) = delete;
  ~GrantScope() { GrantRenderThreads(0); }
};
