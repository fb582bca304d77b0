// frame_report.h: what `kestrion render` reports about one frame, for a
// person (--focus-report) or for a program running a shot (--report json).
//
// The JSON form is one object on one line:
//   {"input": "...", "output": "...", "frame": 12, "width": 1920, "height": 1080,
//    "focusDepth": 7.5, "range": 10, "size": 4, "source": "whole",
//    "passes": 3, "layers": null, "seconds": 1.25, "status": "done",
//    "error": null, "warning": null}
// passes counts the passes through the module; layers the depth layers of a
// layered render (null for the default one).
// status is "done" or "failed" (a shot runner also writes "skipped" lines of
// the same form); error is null when done, else the one-line message;
// warning is the shot runner's (what it found before rendering the frame),
// null in a frame's own line. A
// field not known when the frame failed (size of a file that could not be
// read, a focal depth never found) is null.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace kestrion {

struct FrameReport {
  std::string input;
  std::string output;
  int32_t frame = 0;
  std::optional<int32_t> width;
  std::optional<int32_t> height;
  std::optional<float> focusDepth;
  std::optional<float> range;
  std::optional<float> size;
  std::optional<std::string> source;
  std::optional<int32_t> passes;
  std::optional<int32_t> layers;
  double seconds = 0.0;
  std::string status = "done";
  std::optional<std::string> error;

  // One JSON object, without a line end.
  std::string Json() const;
  // "frame 12: focus depth 7.5, range 10, size 4" for a person.
  std::string FocusLine() const;
};

// Which report `text` asks for: false for none, true for JSON; throws a
// UsageError naming `option` for anything else.
bool ParseReportFormat(const std::optional<std::string>& text, const std::string& option);

}  // namespace kestrion
