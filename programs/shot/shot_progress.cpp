#include "shot/shot_progress.h"

#include <unistd.h>

#include <cmath>
#include <string>

namespace kestrion {

ShotProgress::ShotProgress(bool enabled, std::FILE* out, size_t total)
    : enabled(enabled && total > 0), out(out), total(total), start(Clock::now()) {
  terminal = isatty(fileno(out)) != 0;
}

ShotProgress::~ShotProgress() { EndLine(); }

void ShotProgress::Finished(size_t done) {
  if (!enabled) return;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char left[32] = "?";
  if (rate > 0) {
    const long remaining = std::lround(static_cast<double>(total - done) / rate);
    std::snprintf(left, sizeof left, "%ld:%02ld", remaining / 60, remaining % 60);
  }
  if (terminal) {
    constexpr int WIDTH = 30;
    const int filled = static_cast<int>(WIDTH * done / total);
    std::fprintf(out, "\r[%s%s] %zu/%zu frames  %.2f fps  %s left ",
                 std::string(filled, '#').c_str(), std::string(WIDTH - filled, '.').c_str(), done,
                 total, rate, left);
    lineOpen = true;
  } else {
    std::fprintf(out, "kestrion: %zu/%zu frames, %.2f fps, %s left\n", done, total, rate, left);
  }
  std::fflush(out);
}

void ShotProgress::EndLine() {
  if (lineOpen) std::fputc('\n', out);
  lineOpen = false;
}

}  // namespace kestrion
