// recording_window.h: a test window that records the messages it receives,
// standing in for a filter dialog or a control's parent.
#pragma once

#include <vector>

#include "platform/win32.h"

namespace test {

struct Message {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

class RecordingWindow {
 public:
  // A top-level window, or a child of `parent` with the identifier `id`.
  explicit RecordingWindow(HWND parent = nullptr, int id = 0);
  ~RecordingWindow();
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;

  void Destroy();
  // The messages of number `msg` received so far, oldest first.
  std::vector<Message> Received(UINT msg) const;
  // Messages of the host's protocol (numbers above WM_USER), oldest first.
  std::vector<Message> Notifications() const;
  void Clear() { messages.clear(); }

  HWND hwnd = nullptr;

 private:
  static LRESULT Procedure(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  std::vector<Message> messages;
};

}  // namespace test
