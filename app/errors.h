// errors.h: how a kestrion command fails. Every failure that reaches the
// user is one line on stderr and an exit code; the code tells scripts what
// kind of failure it was.
#pragma once

#include <stdexcept>
#include <string>

namespace kestrion {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;     // bad input file, unusable module, filter failure
constexpr int EXIT_USAGE = 2;      // the command line or the settings are wrong
constexpr int EXIT_ABORTED = 130;  // interrupted by the user (Ctrl-C)

// A failure with its one-line message (without the "kestrion: " prefix) and
// the exit code it ends the command with.
class CommandError : public std::runtime_error {
 public:
  CommandError(int exitCode, const std::string& message)
      : std::runtime_error(message), code(exitCode) {}
  int ExitCode() const { return code; }

 private:
  int code;
};

inline CommandError UsageError(const std::string& message) {
  return CommandError(EXIT_USAGE, message);
}
inline CommandError Failure(const std::string& message) {
  return CommandError(EXIT_FAILED, message);
}
// A failure that concerns one file: "<path>: <what is wrong>".
inline CommandError FileError(const std::string& path, const std::string& what) {
  return CommandError(EXIT_FAILED, path + ": " + what);
}
inline CommandError Aborted() { return CommandError(EXIT_ABORTED, "aborted"); }

}  // namespace kestrion
