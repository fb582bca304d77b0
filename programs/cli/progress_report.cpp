#include "cli/progress_report.h"

#include <unistd.h>

namespace kestrion {

namespace {
constexpr int PERCENT = 100;
}

ProgressReport::ProgressReport(bool on, std::FILE* stream)
    : enabled(on), terminal(on && isatty(fileno(stream))), out(stream) {}

void ProgressReport::Update(int32_t row, int32_t lastRow) {
  if (!enabled || lastRow < 0 || row < 0) return;
  const int percent =
      static_cast<int>(static_cast<int64_t>(row) * PERCENT / (int64_t{lastRow} + 1));
  const int step = terminal ? 1 : PROGRESS_LOG_STEP;
  if (shown < 0 || percent >= shown + step) Show(percent - percent % step);
}

void ProgressReport::Finish(bool complete) {
  if (!enabled) return;
  if (complete && shown != PERCENT) Show(PERCENT);
  if (terminal && shown >= 0) std::fputc('\n', out);
  std::fflush(out);
}

void ProgressReport::Show(int percent) {
  shown = percent;
  std::fprintf(out, terminal ? "\rkestrion: filtering %3d%%" : "kestrion: filtering %d%%\n",
               percent);
  std::fflush(out);
}

}  // namespace kestrion
