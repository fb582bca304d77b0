// frame_workers.h: the child processes a shot renders its frames in. A
// worker is the program started again with one frame's words; its stdout
// and stderr go to unlinked temporary files, so that there is no pipe to
// drain while it runs and nothing is left behind whatever happens, and the
// shot looks at it without blocking until it has ended.
//
// A worker outlives no parent: on Linux it is started with SIGTERM as its
// parent-death signal, so that when the shot dies, however it dies (a farm
// killing the job with SIGKILL, the memory killer), every worker ends its
// frame as on any SIGTERM and removes its partial output. The signal comes
// when the thread that started the worker ends, so a shot starts its
// workers from a thread that lives as long as they do (the runner's own).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kestrion {

struct FrameWorker {
  size_t frame = 0;  // the frame's index in the shot
  pid_t pid = -1;
  int out = -1;  // its stdout's file
  int err = -1;  // its stderr's file
};

// What a worker left when it ended: its exit code (128 + the signal that
// ended it), and the non-empty lines of its stdout and its stderr.
struct WorkerResult {
  int exitCode = 0;
  std::vector<std::string> out;
  std::vector<std::string> err;
};

// Starts `executable` with `words` (words[0] its name) for frame `frame`.
// Throws a Failure when no temporary file can be made; returns the error
// number fork or exec gave when the program cannot be started.
struct StartedWorker {
  std::optional<FrameWorker> worker;
  int error = 0;
};
StartedWorker StartWorker(const std::string& executable, std::vector<std::string> words,
                          size_t frame);

// What the worker left once it has ended (its files closed), else nothing.
std::optional<WorkerResult> ReapWorker(FrameWorker& worker);

// Sends `signal` to the worker.
void SignalWorker(const FrameWorker& worker, int signal);

}  // namespace kestrion
