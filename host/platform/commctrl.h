// The system's common controls (track bars, up-down buttons, progress bars,
// list and tree views, tab controls, tooltips).
//
// A module whose dialogs hold common controls calls InitCommonControls once
// before it builds any of them; the call registers their window classes for
// the whole process.
#pragma once

#include <string_view>

// The window classes InitCommonControls registers.
inline constexpr std::string_view kCommonControlClasses[] = {
    "msctls_trackbar32", "msctls_updown32",  "msctls_progress32", "SysListView32",
    "SysTreeView32",     "SysTabControl32", "tooltips_class32",
};

void InitCommonControls();

// True once InitCommonControls has run and `className` is a common control
// class.
bool IsCommonControlClassRegistered(std::string_view className);

// How many times InitCommonControls was called in this process.
int CommonControlsInitCount();
