// exr_output_stream.h: the stream an OpenEXR file is written through, with
// every failure seen. A file object OpenEXR opens by name flushes its last
// bytes when it is destroyed and cannot report a failure there (a full
// disk, a file-size limit): the file would be short and look written.
#pragma once

#include <ImfStdIO.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

namespace kestrion {

class ExrOutputStream {
 public:
  // Opens `path` for writing; throws std::runtime_error when it cannot.
  explicit ExrOutputStream(const std::string& path)
      : file(path, std::ios::binary | std::ios::trunc), stream(file, path.c_str()) {
    if (!file) throw std::runtime_error(Failed("cannot open it", true));
  }

  // What an OpenEXR file object writes to; it must be destroyed before Close().
  Imf::OStream& Stream() { return stream; }

  // Flushes and closes the file; throws std::runtime_error when any write
  // failed.
  void Close() {
    errno = 0;
    file.flush();
    file.close();
    if (file.fail()) throw std::runtime_error(Failed("a write failed", false));
  }

 private:
  // `what`, or the system's reason alone when `always` is false.
  static std::string Failed(const char* what, bool always) {
    if (!errno) return what;
    const std::string reason = std::strerror(errno);
    return always ? std::string(what) + " (" + reason + ")" : reason;
  }

  std::ofstream file;
  Imf::StdOFStream stream;
};

}  // namespace kestrion
