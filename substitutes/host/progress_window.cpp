// progress_window.cpp: the host's progress window: records the blur's progress
// messages and answers its abort queries as the test or host program asks.
#include "host/progress_window.h"

#include "host/messages.h"

namespace {
constexpr const char* PROGRESS_WINDOW_CLASS = "KestrionProgressWindow";
}

ProgressWindow::ProgressWindow() {
  // Registering the class again replaces it with the same procedure.
  WNDCLASSA wc{};
  wc.lpfnWndProc = &ProgressWindow::Procedure;
  wc.lpszClassName = PROGRESS_WINDOW_CLASS;
  RegisterClassA(&wc);
  window = CreateWindowExA(0, PROGRESS_WINDOW_CLASS, "Progress", WS_POPUP, 0, 0, 200, 40, nullptr,
                           0, nullptr, this);
}

ProgressWindow::~ProgressWindow() { DestroyWindow(window); }

LRESULT CALLBACK ProgressWindow::Procedure(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return 0;
  }
  auto* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (self && (msg == HOST_PROGRESS || msg == HOST_ABORT_QUERY)) {
    return self->Answer(msg, wParam, lParam);
  }
  return DefWindowProcA(wnd, msg, wParam, lParam);
}

LRESULT ProgressWindow::Answer(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (recording) log.push_back({msg, wParam, lParam});
  if (msg == HOST_PROGRESS) {
    if (progress && progress(static_cast<int32_t>(wParam), static_cast<int32_t>(lParam))) {
      abortRequested = true;
    }
    return 0;
  }
  // Abort query: lParam is the address of the caller's 32-bit flag.
  auto* flag = reinterpret_cast<int32_t*>(lParam);
  const bool abort = abortRequested || (abortAfter >= 0 && abortQueries >= abortAfter);
  ++abortQueries;
  if (flag && abort) *flag = 1;
  return 0;
}
