// controls.cpp: the standard "BUTTON" and "STATIC" controls and the dialog
// functions that set and read button checks.
//
// Buttons act on the mouse: a left button released over a button that it
// went down on clicks it. A click notifies the parent with WM_COMMAND
// (BN_CLICKED); an auto radio button first checks itself and unchecks the
// other auto radio buttons of its group. A group runs from a control with
// WS_GROUP to the next control with WS_GROUP, in creation order. Group boxes
// take no input. Statics only show their text or their bitmap.
#include <algorithm>

#include "platform/standard_classes.h"
#include "platform/window_internal.h"

namespace {

DWORD ButtonType(HWND wnd) { return wnd->style & BS_TYPEMASK; }

bool HoldsCheck(HWND wnd) {
  const DWORD type = ButtonType(wnd);
  return type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON && type != BS_GROUPBOX;
}

bool IsAutoRadio(HWND wnd) {
  return platform::FindClassProcedure(wnd->className) == platform::ButtonProcedure &&
         ButtonType(wnd) == BS_AUTORADIOBUTTON;
}

// The siblings of `button` in its group, `button` included.
std::vector<HWND> GroupOf(HWND button) {
  const std::vector<HWND>& siblings = button->parent->children;
  const auto at = std::find(siblings.begin(), siblings.end(), button);
  auto first = at;
  while (first != siblings.begin() && !((*first)->style & WS_GROUP)) --first;
  auto last = at + 1;
  while (last != siblings.end() && !((*last)->style & WS_GROUP)) ++last;
  return std::vector<HWND>(first, last);
}

void CheckInGroup(HWND button) {
  SendMessageA(button, BM_SETCHECK, BST_CHECKED, 0);
  if (!button->parent) return;
  for (HWND other : GroupOf(button)) {
    if (other != button && IsAutoRadio(other)) SendMessageA(other, BM_SETCHECK, BST_UNCHECKED, 0);
  }
}

void Click(HWND button) {
  if (ButtonType(button) == BS_AUTORADIOBUTTON) CheckInGroup(button);
  SendMessageA(button->parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(button->id), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
}

}  // namespace

namespace platform {

LRESULT ButtonProcedure(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_LBUTTONDOWN:
      if (ButtonType(wnd) != BS_GROUPBOX) wnd->pressed = true;
      return 0;
    case WM_LBUTTONUP:
      if (wnd->pressed) {
        wnd->pressed = false;
        Click(wnd);
      }
      return 0;
    case BM_GETCHECK:
      return wnd->checked;
    case BM_SETCHECK:
      if (HoldsCheck(wnd)) wnd->checked = static_cast<UINT>(wParam);
      return 0;
    default:
      return DefWindowProcA(wnd, msg, wParam, lParam);
  }
}

LRESULT StaticProcedure(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case STM_GETIMAGE:
      return reinterpret_cast<LRESULT>(wnd->image);
    case STM_SETIMAGE: {
      const void* previous = wnd->image;
      wnd->image = reinterpret_cast<const void*>(lParam);
      return reinterpret_cast<LRESULT>(previous);
    }
    default:
      return DefWindowProcA(wnd, msg, wParam, lParam);
  }
}

}  // namespace platform

BOOL CheckRadioButton(HWND dialog, int first, int last, int check) {
  if (!IsWindow(dialog)) return FALSE;
  const std::vector<HWND> children = dialog->children;
  for (HWND child : children) {
    const int id = static_cast<int>(child->id);
    if (id < first || id > last) continue;
    SendMessageA(child, BM_SETCHECK, id == check ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  return TRUE;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND button = GetDlgItem(dialog, id);
  if (!button) return FALSE;
  SendMessageA(button, BM_SETCHECK, check, 0);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  return button ? static_cast<UINT>(SendMessageA(button, BM_GETCHECK, 0, 0)) : 0;
}
