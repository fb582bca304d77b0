// progress_report.h: the filter's progress, shown on stderr as a percentage.
// On a terminal one line is rewritten at every whole percent; otherwise (a
// log, a pipe) a line is written every PROGRESS_LOG_STEP percent.
#pragma once

#include <cstdint>
#include <cstdio>

namespace kestrion {

constexpr int PROGRESS_LOG_STEP = 10;

class ProgressReport {
 public:
  // Shows nothing when `enabled` is false.
  ProgressReport(bool enabled, std::FILE* out);
  // The filter is about to process `row` of rows 0..lastRow.
  void Update(int32_t row, int32_t lastRow);
  // Ends the display; `complete` shows 100%.
  void Finish(bool complete);

 private:
  void Show(int percent);

  bool enabled;
  bool terminal;
  std::FILE* out;
  int shown = -1;  // the last percentage shown
};

}  // namespace kestrion
