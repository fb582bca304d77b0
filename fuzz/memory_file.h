// memory_file.h: a file that lives in memory (memfd_create), reachable by
// path as /proc/self/fd/N, so that the readers the fuzz targets drive keep
// their interface (a path) while nothing is written to disk. A reader that
// chooses by file name extension reaches it through a symbolic link in a
// private temporary folder, made on first use and removed with the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrion_fuzz {

class MemoryFile {
 public:
  explicit MemoryFile(const char* name);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Makes the file hold exactly these bytes, read from its start.
  void Replace(const uint8_t* data, size_t size);
  // /proc/self/fd/N.
  const std::string& Path() const { return path; }
  // A path ending in `extension` (".exr") that resolves to the file.
  const std::string& PathWithExtension(const std::string& extension);

 private:
  int fd = -1;
  std::string path;
  std::string folder;
  std::string linked;
};

}  // namespace kestrion_fuzz
