// exit_codes.h: the exit codes of `kestrion` and of the frames a shot runs
// as its child processes, which the shot's parent reads back: what kind of
// failure (errors.h) ends a command with which code, so that scripts can
// tell them apart.
#pragma once

#include "base/errors.h"

namespace kestrion {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;     // bad input or output file, unusable module, filter failure
constexpr int EXIT_USAGE = 2;      // the command line or the settings are wrong
constexpr int EXIT_ABORTED = 130;  // interrupted by the user (Ctrl-C)

constexpr int ExitCodeOf(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Usage:
      return EXIT_USAGE;
    case ErrorKind::Aborted:
      return EXIT_ABORTED;
    default:
      return EXIT_FAILED;
  }
}

}  // namespace kestrion
