// about_box.cpp: the about box's procedure and how the filter runs it.
#include "ui/about_box.h"

#include "filter/dialogs.h"
#include "filter/focus_filter.h"
#include "host/custom_controls.h"
#include "ui/module_instance.h"

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
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

int32_t RunAboutBox(FocusFilter& filter, HWND parent) {
  return static_cast<int32_t>(
      DialogBoxParamA(moduleInstance, MAKEINTRESOURCEA(static_cast<WORD>(ABOUT_DIALOG_ID)), parent,
                      AboutDialogProc, reinterpret_cast<LPARAM>(&filter)));
}
