#include "tests/host/recording_window.h"

namespace test {

namespace {
constexpr const char* RECORDING_CLASS = "HostTestRecorder";
}

RecordingWindow::RecordingWindow(HWND parent, int id) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = Procedure;
  wc.lpszClassName = RECORDING_CLASS;
  RegisterClassA(&wc);
  const DWORD style = parent ? WS_CHILD | WS_VISIBLE : WS_POPUP;
  hwnd = CreateWindowExA(0, RECORDING_CLASS, "", style, 100, 50, 300, 200, parent,
                         static_cast<UINT_PTR>(id), nullptr, nullptr);
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

RecordingWindow::~RecordingWindow() { Destroy(); }

void RecordingWindow::Destroy() {
  if (IsWindow(hwnd)) DestroyWindow(hwnd);
  hwnd = nullptr;
}

std::vector<Message> RecordingWindow::Received(UINT msg) const {
  std::vector<Message> found;
  for (const Message& m : messages) {
    if (m.msg == msg) found.push_back(m);
  }
  return found;
}

std::vector<Message> RecordingWindow::Notifications() const {
  std::vector<Message> found;
  for (const Message& m : messages) {
    if (m.msg > WM_USER) found.push_back(m);
  }
  return found;
}

LRESULT RecordingWindow::Procedure(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<RecordingWindow*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (self) {
    self->messages.push_back({msg, wParam, lParam});
    if (msg == WM_DESTROY) self->hwnd = nullptr;
  }
  return DefWindowProcA(wnd, msg, wParam, lParam);
}

}  // namespace test
