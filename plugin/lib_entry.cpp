#include "plugin/lib_entry.h"

#include "plugin/class_desc.h"
#include "plugin/strings.h"
#include "resources/resource.h"

int controlsInit = 0;

BOOL WINAPI DllMain(HINSTANCE instance, ULONG, LPVOID) noexcept {
  hInstance = instance;
  if (!controlsInit) {
    controlsInit = 1;
    // The dialogs hold the host's spinners, sliders, colour swatches and
    // pick buttons, and the system's controls.
    InitCustomControls(hInstance);
    InitCommonControls();
  }
  return TRUE;
}

const MCHAR* LibDescription() noexcept { return GetString(IDS_LIBDESCRIPTION); }

int LibNumberClasses() noexcept { return 1; }

ClassDesc* LibClassDesc(int i) noexcept { return i == 0 ? GetQe_VelumbraDesc() : nullptr; }

ULONG LibVersion() noexcept { return VERSION_3DSMAX; }
