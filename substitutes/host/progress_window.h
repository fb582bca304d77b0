// progress_window.h: the host's progress window that a render is given. It
// answers the blur's progress message and abort query (HOST_PROGRESS,
// HOST_ABORT_QUERY) and records them. Renders on several threads at once
// each get their own (host/filter_pipeline.h): a window and its record are
// used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/win32.h"

class ProgressWindow {
 public:
  struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };

  ProgressWindow();
  ~ProgressWindow();
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  HWND Handle() const { return window; }

  // Answer the abort query with "abort" once `queries` queries have been
  // answered with "go on" (0: abort at the first query). Negative: never.
  void AbortAfter(int64_t queries) { abortAfter = queries; }
  // Called on every progress message (row, last row); may request an abort
  // by returning true, which the next abort query answers.
  void OnProgress(std::function<bool(int32_t row, int32_t lastRow)> fn) {
    progress = std::move(fn);
  }
  // Messages received so far, in order (recording can be turned off for
  // long renders).
  const std::vector<Received>& Log() const { return log; }
  void Record(bool on) { recording = on; }
  int64_t AbortQueries() const { return abortQueries; }

 private:
  static LRESULT CALLBACK Procedure(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Answer(UINT msg, WPARAM wParam, LPARAM lParam);

  HWND window = nullptr;
  int64_t abortAfter = -1;
  int64_t abortQueries = 0;
  bool abortRequested = false;
  bool recording = true;
  std::function<bool(int32_t, int32_t)> progress;
  std::vector<Received> log;
};
