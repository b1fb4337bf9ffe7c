#include "host/platform/winuser.h"

#include <algorithm>
#include <cstring>

#include "host/platform/resource_constants.h"

HWND CreateDialogWindow(const std::string& fontName, int fontPointSize, int cx, int cy) {
  auto* dialog = new HWND__;
  dialog->className = "#32770";  // the dialog class
  dialog->style = WS_CHILD | WS_VISIBLE;
  dialog->dialogRect = {0, 0, cx, cy};
  if (fontName == "MS Sans Serif" && fontPointSize == 8) {
    dialog->baseUnitX = 6;
    dialog->baseUnitY = 13;
  }
  return dialog;
}

HWND CreateChildWindow(HWND dialog, const std::string& className, const std::string& text, int id, DWORD style,
                       DWORD exStyle, RECT dialogRect) {
  if (!dialog) return nullptr;
  auto child = std::make_unique<HWND__>();
  child->className = className;
  child->text = text;
  child->id = id;
  child->style = style;
  child->exStyle = exStyle;
  child->dialogRect = dialogRect;
  child->enabled = (style & WS_DISABLED) == 0;
  child->parent = dialog;
  dialog->children.push_back(std::move(child));
  return dialog->children.back().get();
}

BOOL DestroyWindow(HWND hwnd) {
  if (!hwnd) return FALSE;
  if (HWND parent = hwnd->parent) {
    auto& kids = parent->children;
    auto it = std::find_if(kids.begin(), kids.end(), [&](const auto& k) { return k.get() == hwnd; });
    if (it != kids.end()) {
      kids.erase(it);
      return TRUE;
    }
  }
  delete hwnd;
  return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
  if (!dialog) return nullptr;
  for (const auto& child : dialog->children)
    if (child->id == id) return child.get();
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) { return hwnd ? hwnd->id : 0; }

HWND GetParent(HWND hwnd) { return hwnd ? hwnd->parent : nullptr; }

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  if (!hwnd) return FALSE;
  const BOOL wasDisabled = hwnd->enabled ? FALSE : TRUE;
  hwnd->enabled = enable != FALSE;
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND hwnd) { return hwnd && hwnd->enabled ? TRUE : FALSE; }

BOOL SetWindowTextA(HWND hwnd, const char* text) {
  if (!hwnd) return FALSE;
  hwnd->text = text ? text : "";
  return TRUE;
}

int GetWindowTextA(HWND hwnd, char* buffer, int size) {
  if (!buffer || size < 1) return 0;
  buffer[0] = '\0';
  if (!hwnd) return 0;
  const std::size_t n = std::min(hwnd->text.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, hwnd->text.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND button = GetDlgItem(dialog, id);
  if (!button) return FALSE;
  button->checked = check;
  return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  return button ? button->checked : BST_UNCHECKED;
}

BOOL MapDialogRect(HWND dialog, RECT* rect) {
  if (!dialog || !rect) return FALSE;
  rect->left = rect->left * dialog->baseUnitX / 4;
  rect->right = rect->right * dialog->baseUnitX / 4;
  rect->top = rect->top * dialog->baseUnitY / 8;
  rect->bottom = rect->bottom * dialog->baseUnitY / 8;
  return TRUE;
}

UINT ButtonType(HWND hwnd) { return hwnd && hwnd->className == "BUTTON" ? (hwnd->style & BS_TYPEMASK) : ~0u; }

bool IsCheckBox(HWND hwnd) {
  const UINT type = ButtonType(hwnd);
  return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE;
}

bool IsRadioButton(HWND hwnd) {
  const UINT type = ButtonType(hwnd);
  return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

void NotifyParent(HWND control, int code) {
  if (!control || !control->parent || !control->parent->onCommand) return;
  // Copied: the handler may rebuild what it was stored in.
  const auto handler = control->parent->onCommand;
  handler(control, code);
}
