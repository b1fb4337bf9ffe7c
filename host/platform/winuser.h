// Windows and dialogs, on Linux: the part of the window system that the
// host's automatic rollouts use.
//
// A window is a node of a tree: a dialog (a rollout page) owns its child
// controls, each with its class name, caption, control ID, style bits,
// position, enabled state and check state. There is no drawing and no
// message loop: a host that shows the windows (the velumbra panel) reads
// this tree, and user input reaches a control through the input functions
// of host/sdk/custom_controls.h, which notify the control's dialog the way
// WM_COMMAND does.
//
// Positions: a dialog template places controls in dialog units; a dialog's
// base units (taken from its font) convert them to pixels: x * baseX / 4,
// y * baseY / 8, truncated (MapDialogRect).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/sdk/max_types.h"

struct HWND__;
using HWND = HWND__*;
using LONG = std::int32_t;

struct RECT {
  LONG left = 0;
  LONG top = 0;
  LONG right = 0;
  LONG bottom = 0;
};

// Notification codes a control sends to its dialog.
inline constexpr int BN_CLICKED = 0;           // a button (check box, radio, push/pick button) was clicked
inline constexpr int EN_CHANGE = 0x0300;       // an edit field's text was entered
inline constexpr int CC_SPINNER_CHANGE = 0x0501;  // a spinner's value changed
inline constexpr int CC_SLIDER_CHANGE = 0x0502;   // a slider's value changed (moved or reset)
inline constexpr int CC_COLOR_CHANGE = 0x0503;    // a colour swatch's colour changed

// Check states of buttons.
inline constexpr UINT BST_UNCHECKED = 0;
inline constexpr UINT BST_CHECKED = 1;

// State a window class keeps beyond the common fields (the custom
// controls' values); owned by its window.
class WindowExtra {
 public:
  virtual ~WindowExtra() = default;
};

struct HWND__ {
  std::string className;  // "BUTTON", "STATIC", or a custom control class as the template names it
  std::string text;       // caption or label
  int id = -1;            // control ID; -1 for controls nobody addresses
  DWORD style = 0;
  DWORD exStyle = 0;
  RECT dialogRect;        // in dialog units, relative to the parent (as the template gives it)
  int textResourceId = 0;  // the bitmap a picture control shows, else 0
  bool enabled = true;
  UINT checked = BST_UNCHECKED;
  int baseUnitX = 8, baseUnitY = 16;  // dialogs: the font's dialog base units
  HWND__* parent = nullptr;
  std::vector<std::unique_ptr<HWND__>> children;  // in template order
  std::unique_ptr<WindowExtra> extra;
  // Dialogs: called with the control and the notification code when a
  // control reports user input (the dialog procedure's WM_COMMAND).
  std::function<void(HWND control, int code)> onCommand;
};

// A new dialog window without parent. `cx` x `cy` dialog units; the base
// units come from the font ("MS Sans Serif" at 8 points: 6 x 13; any other
// font, or none: the system font's 8 x 16).
HWND CreateDialogWindow(const std::string& fontName, int fontPointSize, int cx, int cy);
// A new child control of `dialog`, appended after its other controls.
HWND CreateChildWindow(HWND dialog, const std::string& className, const std::string& text, int id, DWORD style,
                       DWORD exStyle, RECT dialogRect);
// Destroys `hwnd` and its children; FALSE for null.
BOOL DestroyWindow(HWND hwnd);

// The first child of `dialog` with control ID `id`, or null (also for a
// null dialog).
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND hwnd);
HWND GetParent(HWND hwnd);

// Enables or disables input to the window; returns TRUE when it was
// disabled before (as Windows does).
BOOL EnableWindow(HWND hwnd, BOOL enable);
BOOL IsWindowEnabled(HWND hwnd);

BOOL SetWindowTextA(HWND hwnd, const char* text);
// Copies the text as LoadStringA copies strings; returns its length.
int GetWindowTextA(HWND hwnd, char* buffer, int size);

BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);

// The rectangle in pixels of `rect` given in the dialog units of `dialog`.
BOOL MapDialogRect(HWND dialog, RECT* rect);

// Button type of a BUTTON control (BS_* in its low four bits).
UINT ButtonType(HWND hwnd);
bool IsCheckBox(HWND hwnd);
bool IsRadioButton(HWND hwnd);

// Sends `code` from `control` to its dialog's onCommand, if any.
void NotifyParent(HWND control, int code);
