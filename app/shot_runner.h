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
};

// The words of a render command line after "render" without the ones the
// shot runner sets itself for every frame (INPUT, -o, --frame, --report,
// -q) or keeps to itself (--frames, --chunk, --jobs, --skip-existing,
// --report-file).
std::vector<std::string> ForwardedArguments(const std::vector<std::string>& words,
                                            const std::string& input);

// What every frame is given besides the forwarded words: its share of the
// memory limit, DefaultMemoryLimit(workers), unless the forwarded words set
// --memory-limit themselves (then every frame has that limit).
std::vector<std::string> WorkerLimitArguments(const std::vector<std::string>& forwarded,
                                              size_t workers);

// Runs the shot; returns the exit code. Throws a UsageError (exit 2) before
// starting any frame for a bad pattern, frame list or chunk, or an empty
// frame list.
int RunShot(const ShotRun& run, std::FILE* out, std::FILE* err);

}  // namespace kestrion
