// The seam: every source of the effect reaches the host through this header
// and nothing else. Against the real host it would include the host SDK's
// headers instead of the stand-in.
#pragma once

#include "host/sdk/max.h"
#include "host/platform/windows.h"
#include "host/platform/commctrl.h"
