// kestrion: the command-line host of the Kestrion depth-of-field filter.
//
//   kestrion info     what the loaded module says about itself
//   kestrion demo     render the built-in scene and filter it
//   kestrion render   filter a render by depth (a shot over a frame pattern)
//   kestrion inspect  what kestrion sees in an OpenEXR file
//   kestrion studio   the module's dialog and a live preview in a browser
//
// Exit codes: 0 done, 1 failed (for a shot: some frame failed), 2 wrong
// usage, 130 / 143 / 129 interrupted by SIGINT (Ctrl-C) / SIGTERM / SIGHUP.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include "base/errors.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "shot/exit_codes.h"

namespace {

using namespace kestrion;

// A standard descriptor the caller closed (`kestrion ... >&-`) would go to
// the next file kestrion opens, and the report or progress would be written
// into the output. /dev/null takes its place.
void OpenStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
}

// The exit code of a failure: an abort after a signal ends with the
// signal's code.
int ExitCodeOf(const Error& error) {
  if (error.Kind() == ErrorKind::Aborted && InterruptSignal() != 0) {
    return InterruptExitCode(InterruptSignal());
  }
  return ExitCodeOf(error.Kind());
}

int Run(CommandLine& commandLine) {
  switch (commandLine.Chosen()) {
    case Command::Info:
      RunInfo(commandLine.info, stdout);
      break;
    case Command::Demo:
      RunDemo(commandLine.demo, stdout);
      break;
    case Command::Shot:
      return RunShotCommand(commandLine.Shot(), stdout, stderr);
    case Command::Render:
      RunRender(commandLine.render, stdout);
      break;
    case Command::Inspect:
      RunInspect(commandLine.inspect, stdout);
      break;
    case Command::Studio:
      return RunStudioCommand(commandLine.Studio(), stdout, stderr);
  }
  return EXIT_OK;
}

}  // namespace

int main(int argc, char** argv) {
  OpenStandardDescriptors();
  CommandLine commandLine;
  if (const std::optional<int> ended = commandLine.Parse(argc, argv)) return *ended;

  // The commands ask for signals while they work; from here on, one that
  // comes after a command has committed its output is only recorded.
  CatchInterruptsUntilExit();
  try {
    return Run(commandLine);
  } catch (const Error& e) {
    std::fprintf(stderr, "kestrion: %s\n", PrintableMessage(e.what()).c_str());
    return ExitCodeOf(e);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "kestrion: not enough memory\n");
    return EXIT_FAILED;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestrion: %s\n", PrintableMessage(e.what()).c_str());
    return EXIT_FAILED;
  }
}
