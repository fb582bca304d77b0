// window_internal.h: the platform's window objects, shared by the files of
// platform/ only.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

struct Window {
  std::string className;
  WNDPROC proc = nullptr;
  HINSTANCE instance = nullptr;
  // A child's parent, or a popup's owner (GetParent answers both). A popup
  // is not one of its owner's children: it is destroyed with its owner, but
  // it is neither found by GetDlgItem nor disabled with the owner.
  HWND parent = nullptr;
  // The owner of a popup (null for other windows), fixed before the window
  // is registered: the registry finds a window's popups by it without
  // reading windows that other threads use.
  HWND popupOwner = nullptr;
  std::vector<HWND> children;  // in creation order
  UINT_PTR id = 0;
  std::string text;
  DWORD style = 0;
  DWORD exStyle = 0;
  RECT rect{0, 0, 0, 0};
  LONG_PTR userData = 0;
  bool invalid = false;
  bool destroying = false;
  // Dialogs: the dialog procedure and the modal state.
  DLGPROC dialogProc = nullptr;
  bool dialogEnded = false;
  INT_PTR dialogResult = 0;
  // Dialogs: the base units of the template's font, in pixels (MapDialogRect).
  LONG baseUnitX = 0;
  LONG baseUnitY = 0;
  // Buttons: checked state. Statics with SS_BITMAP: the image resource.
  UINT checked = BST_UNCHECKED;
  const void* image = nullptr;
  // Buttons: the left button went down on it and has not come up yet.
  bool pressed = false;
};

namespace platform {

// All windows that exist now, children included, in creation order.
std::vector<HWND> LiveWindows();
// The registered class's procedure, or null.
WNDPROC FindClassProcedure(const std::string& className);
// True when the window and all of its ancestors up to its popup (or
// top-level) window are enabled.
bool EnabledWithAncestors(HWND wnd);
// Delivers WM_PAINT to every invalid window under (and including) `top`,
// parents first, and clears the invalid marks.
void PaintInvalid(HWND top);
// PaintInvalid for every top-level and popup window, in creation order:
// what an idle message loop does.
void PaintAllInvalid();
// The keyboard focus that GetFocus reports (0 for none).
void SetFocusWindow(HWND wnd);

}  // namespace platform
