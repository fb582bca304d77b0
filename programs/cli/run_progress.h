// run_progress.h: the progress of a whole `kestrion render` run on stderr,
// from reading the input through every pass of the module to writing the
// output, as one measure: reading takes the first tenth, the passes the
// next eight, writing the last.
//
// On a terminal one line is redrawn as a bar with the stage it is in;
// otherwise (a log, a pipe) a plain line is written when a stage starts and
// every PROGRESS_LOG_STEP percent, from the first pass on. Disabled, it
// writes nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "frame/frame_render.h"

namespace kestrion {

class RunProgress {
 public:
  RunProgress(bool enabled, std::FILE* out);
  RunProgress(const RunProgress&) = delete;
  RunProgress& operator=(const RunProgress&) = delete;
  // Ends a line left open, so that an error message starts a line of its own.
  ~RunProgress();

  // Where the render is, as RenderCallbacks::progress hears it.
  void Show(const RenderProgress& progress);
  // Ends a line left open, so that a message starts a line of its own.
  void EndLine();

 private:
  void Reading(const std::string& path);
  void Update(int32_t pass, int32_t passes, int32_t row, int32_t lastRow, bool layers);
  void Writing(const std::string& path);
  // The run succeeded: shows 100 % and ends the display.
  void Done();
  void Show(int permille, const std::string& stage, bool stageStarts);

  bool enabled;
  bool terminal;
  std::FILE* out;
  int shownPermille = -1;
  std::string stage;
  bool lineOpen = false;
};

}  // namespace kestrion
