#include "cli/run_progress.h"

#include <unistd.h>

#include <algorithm>

#include "base/errors.h"
#include "cli/progress_report.h"

namespace kestrion {

namespace {

constexpr int WHOLE = 1000;         // per mille of the run
constexpr int PASSES_START = 100;   // reading ends here
constexpr int WRITING_START = 900;  // the passes end here
constexpr int BAR_WIDTH = 30;

}  // namespace

RunProgress::RunProgress(bool on, std::FILE* stream)
    : enabled(on), terminal(on && isatty(fileno(stream))), out(stream) {}

void RunProgress::Reading(const std::string& path) { Show(0, "reading " + ShownName(path), true); }

void RunProgress::Update(int32_t pass, int32_t passes, int32_t row, int32_t lastRow, bool layers) {
  if (passes < 1 || lastRow < 0) return;
  const int64_t rows = static_cast<int64_t>(lastRow) + 1;
  const int64_t done = static_cast<int64_t>(pass) * rows + std::clamp<int64_t>(row, 0, rows);
  const int permille =
      PASSES_START + static_cast<int>(done * (WRITING_START - PASSES_START) / (passes * rows));
  const std::string now = (layers ? "filtering, layer " : "filtering, pass ") +
                          std::to_string(pass + 1) + " of " + std::to_string(passes);
  Show(permille, now, now != stage);
}

void RunProgress::Writing(const std::string& path) {
  Show(WRITING_START, "writing " + ShownName(path), true);
}

void RunProgress::Show(const RenderProgress& progress) {
  switch (progress.stage) {
    case RenderProgress::Stage::Reading:
      Reading(progress.file);
      break;
    case RenderProgress::Stage::Filtering:
      Update(progress.pass, progress.passes, progress.row, progress.lastRow, progress.layers);
      break;
    case RenderProgress::Stage::Writing:
      Writing(progress.file);
      break;
    case RenderProgress::Stage::Done:
      Done();
      break;
  }
}

void RunProgress::Done() {
  Show(WHOLE, "done", true);
  EndLine();
}

RunProgress::~RunProgress() { EndLine(); }

void RunProgress::EndLine() {
  if (!lineOpen) return;
  std::fputc('\n', out);
  std::fflush(out);
  lineOpen = false;
}

void RunProgress::Show(int permille, const std::string& now, bool stageStarts) {
  // A log learns of a run once its passes start, so that a run refused
  // while its input is read leaves just the one line that says why.
  if (!enabled || (!terminal && permille < PASSES_START)) return;
  const int percent = permille / 10;
  const int step = terminal ? 1 : PROGRESS_LOG_STEP;
  const bool due = shownPermille < 0 || percent >= shownPermille / 10 + step;
  stage = now;
  if (!due && !stageStarts) return;
  shownPermille = permille;
  if (terminal) {
    const int filled = permille * BAR_WIDTH / WHOLE;
    std::fprintf(out, "\r[%s%s] %3d%% %-40s", std::string(filled, '#').c_str(),
                 std::string(BAR_WIDTH - filled, ' ').c_str(), percent, now.c_str());
    lineOpen = true;
  } else {
    std::fprintf(out, "kestrion: %3d%% %s\n", percent, now.c_str());
  }
  std::fflush(out);
}

}  // namespace kestrion
