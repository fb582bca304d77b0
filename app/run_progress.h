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

#include "app/module_passes.h"

namespace kestrion {

class RunProgress : public PassProgress {
 public:
  RunProgress(bool enabled, std::FILE* out);
  void Reading(const std::string& path);
  // The module's passes, as FilterPlanes reports them.
  void Update(int32_t pass, int32_t passes, int32_t row, int32_t lastRow) override;
  // The passes ended; an incomplete end (an abort, an error) ends the line.
  void Finish(bool complete) override;
  void Writing(const std::string& path);
  // The run succeeded: shows 100 % and ends the display.
  void Done();
  // Ends a line left open, so that an error message starts a line of its own.
  ~RunProgress() override;

 private:
  void Show(int permille, const std::string& stage, bool stageStarts);
  void EndLine();

  bool enabled;
  bool terminal;
  std::FILE* out;
  int shownPermille = -1;
  std::string stage;
  bool lineOpen = false;
};

}  // namespace kestrion
