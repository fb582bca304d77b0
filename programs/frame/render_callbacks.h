// render_callbacks.h: what a caller hears while one frame is filtered
// (progress, warnings, the filter's message boxes), how it stops the call,
// and what the frame resolved to. Shared by the in-memory entry
// (memory_frame.h) and the render of files (frame_render.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frame/filter_session.h"
#include "frame/focus_record.h"

namespace kestrion {

// Where a render is. Reading and writing name their file; filtering gives
// pass `pass` (0-based) of `passes` about to process `row` of 0..lastRow.
// Done comes once the output is in place.
struct RenderProgress {
  enum class Stage { Reading, Filtering, Writing, Done };
  Stage stage = Stage::Reading;
  std::string file;
  int32_t pass = 0;
  int32_t passes = 0;
  int32_t row = 0;
  int32_t lastRow = 0;
  // pass and passes count depth layers (a layered render), each of them
  // all of its passes.
  bool layers = false;
};

// What a caller hears while a frame renders, and how it stops one. Every
// member may be empty. Each is called on the thread that made the call
// (the message box observer on the thread of the filter that shows it).
struct RenderCallbacks {
  std::function<void(const RenderProgress&)> progress;
  // Asked at short intervals (abort_check.h), on the calling thread: once it
  // says yes the call ends in Aborted() and writes nothing.
  std::function<bool()> abort;
  // Each warning about the frame, one line, as it arises.
  std::function<void(const std::string& line)> warning;
  // Each message box the filter shows.
  MessageBoxObserver messageBox;
};

// What a frame resolved to.
struct FrameResolution {
  int32_t frame = 0;
  int32_t width = 0;
  int32_t height = 0;
  float focusDepth = 0.0f;
  // The filter's blur range and size at the frame: its record's, or its
  // tracks' values there when they are keyed.
  float range = 0.0f;
  float size = 0.0f;
  SourceSelection source;
  int32_t passes = 0;  // through the module
  int32_t layers = 0;  // depth layers of a layered render; 0 for the default one
  std::vector<std::string> warnings;
};

}  // namespace kestrion
