// The host's custom controls: the edit fields, spinners, sliders, colour
// swatches and buttons that plug-in dialogs hold next to the system's
// controls.
//
// A module calls InitCustomControls with its instance handle once, from its
// entry routine, before any of its dialogs is built; from then on the
// window classes of the custom controls are registered for that module, and
// a dialog of the module may name them. The rollout machinery asks
// IsCustomControlClassRegistered before it builds a control.
#pragma once

#include <string_view>

#include "host/platform/windows.h"

// The window classes InitCustomControls registers, by the names dialog
// templates use for them.
inline constexpr std::string_view kCustomControlClasses[] = {
    "CustEdit", "SpinnerControl", "SliderControl", "ColorSwatch", "CustButton", "CustStatus", "CustImage",
};

// Registers the custom control classes for module `hInst`. A null handle
// registers nothing (there is no module to register for).
void InitCustomControls(HINSTANCE hInst);

// True when InitCustomControls(hInst) has run and `className` is one of the
// custom control classes (case-sensitive, as the templates spell them).
bool IsCustomControlClassRegistered(HINSTANCE hInst, std::string_view className);

// How many times InitCustomControls was called for `hInst` since the module
// was loaded.
int CustomControlsInitCount(HINSTANCE hInst);

// The host forgets the registrations of a module it closes: another module
// loaded later may get the same handle, and must register for itself.
void ReleaseCustomControls(HINSTANCE hInst);
