// about_box.cpp: the about box and the filter's operation that shows it.
#include "ui/about_box.h"

#include "filter/focus_filter.h"
#include "host/custom_controls.h"
#include "module/module.h"

INT_PTR AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      CenterWindow(dialog, GetParent(dialog));
      SetCursor(LoadCursorA(nullptr, IDC_ARROW));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) EndDialog(dialog, 1);
      if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

int32_t FocusFilter::ShowAboutBox(HWND parent) {
  return static_cast<int32_t>(
      DialogBoxParamA(moduleInstance, MAKEINTRESOURCEA(static_cast<WORD>(ABOUT_DIALOG_ID)), parent,
                      AboutDialogProc, reinterpret_cast<LPARAM>(this)));
}
