#include "shot/frame_workers.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"

extern char** environ;

namespace kestrion {

namespace {

// An unlinked temporary file that holds a child's stdout or stderr: no pipe
// to drain while it runs, nothing left behind whatever happens.
int CaptureFile() {
  char name[] = "/tmp/kestrion-frame-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0)
    throw Failure(std::string("cannot create a temporary file in /tmp (") + std::strerror(errno) +
                  ")");
  unlink(name);
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

StartedWorker StartWorker(const std::string& executable, std::vector<std::string> words,
                          size_t frame) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  FrameWorker worker;
  worker.frame = frame;
  worker.out = CaptureFile();
  worker.err = CaptureFile();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, worker.out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, worker.err, STDERR_FILENO);
  const int error =
      posix_spawn(&worker.pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    close(worker.out);
    close(worker.err);
    return {std::nullopt, error};
  }
  return {worker, 0};
}

std::optional<WorkerResult> ReapWorker(FrameWorker& worker) {
  int status = 0;
  const pid_t done = waitpid(worker.pid, &status, WNOHANG);
  if (done != worker.pid && !(done < 0 && errno == ECHILD)) return std::nullopt;
  WorkerResult result;
  result.out = Lines(ReadAll(worker.out));
  result.err = Lines(ReadAll(worker.err));
  close(worker.out);
  close(worker.err);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

void SignalWorker(const FrameWorker& worker, int signal) { kill(worker.pid, signal); }

}  // namespace kestrion
