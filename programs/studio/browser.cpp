// browser.cpp: xdg-open started as a child with an empty signal mask.
#include "studio/browser.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <thread>

extern char** environ;

namespace studio {

bool OpenInBrowser(const std::string& url, std::string& error) {
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The studio blocks its stop signals; the browser must not inherit that.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  std::string program = "xdg-open";
  std::string argument = url;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  const int failed = posix_spawnp(&child, program.c_str(), nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  if (failed) {
    error = std::string("cannot start xdg-open: ") + std::strerror(failed);
    return false;
  }
  std::thread([child] {
    int status = 0;
    waitpid(child, &status, 0);
  }).detach();
  return true;
}

}  // namespace studio
