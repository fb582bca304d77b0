// shot_progress.h: a shot's progress on stderr: frames done of the total,
// frames per second and the time left, as a redrawn bar on a terminal and a
// line per finished frame otherwise.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>

namespace kestrion {

class ShotProgress {
 public:
  // Shows nothing when `enabled` is false or there is nothing to render.
  ShotProgress(bool enabled, std::FILE* out, size_t total);
  ~ShotProgress();
  ShotProgress(const ShotProgress&) = delete;
  ShotProgress& operator=(const ShotProgress&) = delete;

  // `done` of the frames have finished.
  void Finished(size_t done);
  // Ends a bar left open, so that a message starts a line of its own.
  void EndLine();

 private:
  using Clock = std::chrono::steady_clock;

  bool enabled;
  bool terminal = false;
  bool lineOpen = false;
  std::FILE* out;
  size_t total;
  Clock::time_point start;
};

}  // namespace kestrion
