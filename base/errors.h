// errors.h: how a kestrion command fails. Every failure that reaches the
// user is one line on stderr and an exit code; the code tells scripts what
// kind of failure it was.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

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
// A name that comes from a file or the command line (a file's path, a
// part, layer, channel or attribute name) as every message, progress line,
// report and listing shows it: whole, with control characters (line breaks
// included) escaped as C does (\n, \x1b) and bytes that are not
// well-formed UTF-8 as \xNN, so that it can neither break a message into
// lines nor reach a terminal as a control sequence. Printable text passes
// unchanged, so a shown name is shown again as it is.
std::string ShownName(std::string_view name);

// A failure that concerns one file: "<path>: <what is wrong>", the path
// shown as ShownName shows it.
inline CommandError FileError(const std::string& path, const std::string& what) {
  return CommandError(EXIT_FAILED, ShownName(path) + ": " + what);
}
inline CommandError Aborted() { return CommandError(EXIT_ABORTED, "aborted"); }

// Messages quote what the user wrote, which may be huge, hold control
// characters or bytes that are not UTF-8. A shown value is at most
// QUOTED_VALUE_MAX characters (a longer one is cut between characters and
// ends in "..."), with control characters escaped as C does (\n, \t,
// \x1b) and bytes that are not well-formed UTF-8 as \xNN. QuotedValue adds
// single quotes around it.
constexpr size_t QUOTED_VALUE_MAX = 80;
std::string ShownValue(std::string_view value);
std::string QuotedValue(std::string_view value);

// The lines of `message` as printed: control characters other than the
// line breaks and bytes that are not UTF-8 escaped as in a shown value, and
// the first line (what is wrong) cut in its middle to at most
// `firstLineMax` characters, so that the option or file it starts with and
// what is wrong at its end both stay. The lines after it (what a file
// holds) are kept whole. Every message goes through this on its way out.
constexpr size_t FIRST_LINE_MAX = 1000;
std::string PrintableMessage(std::string_view message, size_t firstLineMax = FIRST_LINE_MAX);

// A library's message, which may span lines or quote a name from the file,
// as one line: escaped as ShownName escapes a name.
std::string OneLine(std::string_view message);

}  // namespace kestrion
