// shot_runner.h: `kestrion render` over a shot. When INPUT holds a frame
// pattern (frame_pattern.h) the command becomes a parent that expands the
// frames and renders each one as a child process of the same binary:
//
//   kestrion render <input of n> -o <output of n> --frame <n> --report json -q
//                   [--memory-limit <share>] <every other option the user gave, verbatim>
//
// up to --jobs children at a time. Each child writes its output through a
// temporary file renamed into place, so an output that exists is complete;
// the files do not depend on the number of jobs.
//
// Exit codes: 0 every frame done (or skipped), 1 some frame failed or was
// missing, 2 wrong usage (also when a child reports wrong usage: the other
// frames would fail the same way, so no more are started), 128 + the signal
// when SIGINT, SIGTERM or SIGHUP stopped the run: no frame is started after
// it, the signal is forwarded to every running child and each is waited for.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrion {

// The options only a shot has.
struct ShotOptions {
  std::optional<std::string> frames;  // e.g. 1-240x2; unset: every input frame on disk
  std::optional<std::string> chunk;   // K/N or slurm/N
  std::optional<unsigned> jobs;       // unset: one per core
  bool skipExisting = false;          // frames whose output exists are not rendered
  std::string reportFile;             // the JSON lines also go here
};

struct ShotRun {
  std::string executable = "/proc/self/exe";  // the kestrion each frame runs
  std::string input;                          // patterns
  std::string output;
  std::vector<std::string> forwarded;  // the user's other options, for every frame
  ShotOptions shot;
  bool jsonReport = false;  // --report json: one JSON line a frame on `out`
  bool quiet = false;       // no progress on `err`
  // The signal the shot is asked to stop by (SIGINT, SIGTERM, SIGHUP), 0
  // while there is none: asked every 10 ms; from the first one on no
  // frame is started and the signal is passed to every running frame.
  std::function<int()> stopSignal;
  // A Slurm job array's SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_MIN, for
  // --chunk slurm/N; unset outside one.
  std::optional<std::string> arrayTaskId;
  std::optional<std::string> arrayTaskMin;
};

// Runs the shot; returns the exit code. Throws a UsageError (exit 2) before
// starting any frame for a bad pattern, frame list or chunk, or an empty
// frame list. The frames' command lines are made as shot_arguments.h says.
int RunShot(const ShotRun& run, std::FILE* out, std::FILE* err);

}  // namespace kestrion
