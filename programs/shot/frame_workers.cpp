#include "shot/frame_workers.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

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

// The child's side of StartWorker, between fork and exec: async-signal-safe
// calls only (the parent may have threads, whose locks the child holds in
// whatever state they were). Never returns: it execs the worker, or writes
// why it could not to `report` and exits.
[[noreturn]] void BecomeWorker(const char* executable, char* const* argv, pid_t parent, int out,
                               int err, int report, const sigset_t& mask) {
  // The parent's handlers would catch a signal that comes before exec and
  // lose it: the worker would render a frame nobody asked for any more.
  // Until exec a signal ends the child as it would a program that has not
  // started; what the parent ignores stays ignored, as posix_spawn leaves it.
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction action {};
    if (sigaction(signal, nullptr, &action) != 0) continue;
    if (action.sa_handler == SIG_IGN || action.sa_handler == SIG_DFL) continue;
    action.sa_handler = SIG_DFL;
    action.sa_flags = 0;
    sigaction(signal, &action, nullptr);
  }
#if defined(__linux__)
  // When the parent dies, however it dies (SIGKILL included), the worker
  // gets SIGTERM, which ends its frame and removes its partial output. A
  // parent that died before this was set is seen here: the worker is
  // another process's child already.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(128 + SIGTERM);
#else
  (void)parent;
#endif
  if (dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) {
    const int error = errno;
    [[maybe_unused]] const ssize_t written = write(report, &error, sizeof error);
    _exit(127);
  }
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  execve(executable, argv, environ);
  const int error = errno;
  [[maybe_unused]] const ssize_t written = write(report, &error, sizeof error);
  _exit(127);
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
  const auto fail = [&worker](int error) {
    close(worker.out);
    close(worker.err);
    return StartedWorker{std::nullopt, error};
  };
  // The child says through this pipe why it could not exec; a pipe closed
  // by the exec without a word says it did.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return fail(errno);
  // No signal is handled between fork and the child's own setup; the
  // parent gets those that came meanwhile once its mask is back.
  sigset_t all, mask;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &mask);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    BecomeWorker(executable.c_str(), argv.data(), parent, worker.out, worker.err, report[1], mask);
  }
  const int forkError = errno;
  pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  close(report[1]);
  if (pid < 0) {
    close(report[0]);
    return fail(forkError);
  }
  int error = 0;
  ssize_t got = 0;
  do {
    got = read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof error)) {
    waitpid(pid, nullptr, 0);
    return fail(error);
  }
  worker.pid = pid;
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
