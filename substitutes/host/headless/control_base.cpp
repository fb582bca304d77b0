// control_base.cpp (headless): the custom controls on the headless
// services, which keep a window's text and have no screen or mouse.
#include "host/control_base.h"

namespace {

void Register(const char* name, WNDPROC procedure) {
  WNDCLASSA wc{};
  wc.style = CS_GLOBALCLASS;
  wc.lpfnWndProc = procedure;
  wc.lpszClassName = name;
  RegisterClassA(&wc);
}

}  // namespace

void RegisterEditClass(const char* name, WNDPROC procedure) { Register(name, procedure); }

void RegisterSpinnerClass(const char* name, WNDPROC procedure) { Register(name, procedure); }

LRESULT EditDefault(HWND edit, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(edit, msg, wParam, lParam);
}

LRESULT PaintSpinner(HWND spinner, bool) { return DefWindowProcA(spinner, WM_PAINT, 0, 0); }

void CaptureDrag(HWND) {}

void EndDragCapture(HWND) {}
