// stdio_file.h: a C library file owned by a unique_ptr, for the libraries
// (libpng) that read and write through FILE*.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "base/errors.h"

namespace kestrion {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` with fopen's `mode`; throws a FileError naming it.
inline FilePtr OpenFile(const std::string& path, const char* mode) {
  FilePtr file(std::fopen(path.c_str(), mode));
  if (!file) throw FileError(path, std::string("cannot open (") + std::strerror(errno) + ")");
  return file;
}

}  // namespace kestrion
