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
  HWND parent = nullptr;
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
  // Buttons: checked state. Statics with SS_BITMAP: the image resource.
  UINT checked = BST_UNCHECKED;
  const void* image = nullptr;
};

namespace platform {

// All windows that exist, children included, in creation order.
const std::vector<HWND>& LiveWindows();
// The registered class's procedure, or null.
WNDPROC FindClassProcedure(const std::string& className);
// True when the window and all of its ancestors are enabled.
bool EnabledWithAncestors(HWND wnd);
// Delivers WM_PAINT to every invalid window under (and including) `top`,
// parents first, and clears the invalid marks.
void PaintInvalid(HWND top);

}  // namespace platform
