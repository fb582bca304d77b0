// errors.h: how the libraries fail. A failure is an Error: its kind says
// what went wrong (the programs choose their exit codes by it) and its
// message, one line unless it lists what a file holds, names what is at
// fault: the option, setting or file, by the label its caller gave.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrion {

enum class ErrorKind {
  Usage,        // the settings or the call are wrong
  Input,        // an input (a file, planes, the module) cannot be used
  Output,       // an output cannot be made or written
  Failed,       // the filter or the work failed
  OutOfMemory,  // an allocation failed
  Aborted,      // the caller's abort query said so
};

// A failure with its kind and its one-line message (without any program's
// prefix).
class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind(kind) {}
  ErrorKind Kind() const { return kind; }

 private:
  ErrorKind kind;
};

inline Error UsageError(const std::string& message) { return Error(ErrorKind::Usage, message); }
inline Error Failure(const std::string& message) { return Error(ErrorKind::Failed, message); }

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
inline Error FileError(const std::string& path, const std::string& what) {
  return Error(ErrorKind::Input, ShownName(path) + ": " + what);
}
// The same for a file being made or written.
inline Error OutputError(const std::string& path, const std::string& what) {
  return Error(ErrorKind::Output, ShownName(path) + ": " + what);
}
inline Error OutOfMemory(const std::string& message) {
  return Error(ErrorKind::OutOfMemory, message);
}
inline Error Aborted() { return Error(ErrorKind::Aborted, "aborted"); }

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
