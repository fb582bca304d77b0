// run_kestrion.h: starting the built kestrion command from a test, in a
// directory of the test's choosing, with its output captured.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

extern char** environ;

namespace kestrion::test_files {

struct RunResult {
  int exitCode;
  std::string out;
  std::string err;
};

// What kestrion is started with: the built program and `args`, and this
// process's environment without $KESTRION_MODULE and $OCIO, and with an
// empty $KESTRION_BLENDER_DATA, so that no installed Blender's either (a
// colour configuration would change every review image the tests expect). The pointers point into
// the object, which therefore stays where it is made.
class KestrionCommand {
 public:
  explicit KestrionCommand(const std::vector<std::string>& args) {
    words.push_back(KESTRION_APP_PATH);
    words.insert(words.end(), args.begin(), args.end());
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    for (char** e = environ; *e; ++e) {
      if (std::strncmp(*e, "KESTRION_MODULE=", 16) != 0 && std::strncmp(*e, "OCIO=", 5) != 0 &&
          std::strncmp(*e, "KESTRION_BLENDER_DATA=", 22) != 0) {
        env.push_back(*e);
      }
    }
    env.push_back(noBlenderData.data());
    env.push_back(nullptr);
  }
  KestrionCommand(const KestrionCommand&) = delete;
  KestrionCommand& operator=(const KestrionCommand&) = delete;

  char* const* Argv() { return argv.data(); }
  char* const* Env() { return env.data(); }

 private:
  std::vector<std::string> words;
  std::vector<char*> argv;
  std::vector<char*> env;
  std::string noBlenderData = "KESTRION_BLENDER_DATA=";
};

// Starts kestrion in `dir` without $KESTRION_MODULE, stdout and stderr to
// the given descriptors. -1 when it could not be started.
inline pid_t StartKestrion(const std::vector<std::string>& args, const std::string& dir, int outFd,
                           int errFd) {
  KestrionCommand command(args);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
  pid_t pid = -1;
  const int error =
      posix_spawn(&pid, command.Argv()[0], &actions, nullptr, command.Argv(), command.Env());
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

// The exit code, or 128 + the signal that ended the process.
inline int WaitForExit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline RunResult RunKestrion(const std::vector<std::string>& args, const std::string& dir) {
  ScratchDirectory logs;
  const int out = open((logs / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = open((logs / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const pid_t pid = StartKestrion(args, dir, out, err);
  close(out);
  close(err);
  if (pid < 0) return {-1, "", "could not start " KESTRION_APP_PATH};
  const int code = WaitForExit(pid);
  return {code, ReadText(logs / "out"), ReadText(logs / "err")};
}

inline size_t Lines(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace kestrion::test_files
