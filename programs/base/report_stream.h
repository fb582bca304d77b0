// report_stream.h: the lines a command reports on stdout once its work is
// done (the "wrote" line, a frame's JSON line, a shot's lines). The exit
// status says whether the output was written; a report that cannot be
// delivered (stdout a closed pipe, a full disk, `| head -n 1`) does not
// undo that. It is said once on stderr instead, and the run goes on.
#pragma once

#include <cstdio>
#include <string>

namespace kestrion {

class ReportStream {
 public:
  explicit ReportStream(std::FILE* out, std::FILE* err = stderr) : out(out), err(err) {}

  // Writes `line` and a line end, flushed; false when the stream failed
  // (now or before).
  bool Line(const std::string& line);

 private:
  std::FILE* out;
  std::FILE* err;
  bool failed = false;
};

}  // namespace kestrion
