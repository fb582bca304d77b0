#include "base/report_stream.h"

#include <cerrno>
#include <cstring>

namespace kestrion {

bool ReportStream::Line(const std::string& line) {
  if (failed) return false;
  errno = 0;
  const bool written = std::fprintf(out, "%s\n", line.c_str()) >= 0;
  if (std::fflush(out) == 0 && written && !std::ferror(out)) return true;
  failed = true;
  const int error = errno;
  std::fprintf(err, "kestrion: warning: cannot write the report to standard output%s%s%s\n",
               error ? " (" : "", error ? std::strerror(error) : "", error ? ")" : "");
  std::fflush(err);
  return false;
}

}  // namespace kestrion
