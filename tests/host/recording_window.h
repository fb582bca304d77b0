// recording_window.h: a test window that records the messages it receives,
// standing in for a filter dialog or a control's parent.
#pragma once

#include <vector>

#include "platform/win32.h"

namespace kestrion_test {

struct Message {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

class RecordingWindow {
 public:
  // A 300 x 200 top-level window at (100, 50), or a child of `parent`.
  explicit RecordingWindow(HWND parent = nullptr, int id = 0) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Procedure;
    wc.lpszClassName = "HostTestRecorder";
    RegisterClassA(&wc);
    hwnd = CreateWindowExA(0, wc.lpszClassName, "", parent ? WS_CHILD : WS_POPUP, 100, 50, 300, 200,
                           parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), nullptr,
                           nullptr);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~RecordingWindow() { Destroy(); }
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;

  void Destroy() {
    if (hwnd) DestroyWindow(hwnd);
  }
  // Messages of number `msg`, or (with 0) those of the host's protocol
  // above WM_USER, oldest first.
  std::vector<Message> Received(UINT msg = 0) const {
    std::vector<Message> found;
    for (const Message& m : messages) {
      if (msg ? m.msg == msg : m.msg > WM_USER) found.push_back(m);
    }
    return found;
  }
  void Clear() { messages.clear(); }

  HWND hwnd = nullptr;  // null once destroyed

 private:
  static LRESULT CALLBACK Procedure(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<RecordingWindow*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (self) {
      self->messages.push_back({msg, wParam, lParam});
      if (msg == WM_DESTROY) self->hwnd = nullptr;
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
  }
  std::vector<Message> messages;
};

}  // namespace kestrion_test
