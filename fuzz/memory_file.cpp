#include "fuzz/memory_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace kestrion_fuzz {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error("memory file: " + what + " (" + std::strerror(errno) + ")");
}

}  // namespace

MemoryFile::MemoryFile(const char* name) : fd(memfd_create(name, MFD_CLOEXEC)) {
  if (fd < 0) Fail("memfd_create");
  path = "/proc/self/fd/" + std::to_string(fd);
}

MemoryFile::~MemoryFile() {
  if (!linked.empty()) unlink(linked.c_str());
  if (!folder.empty()) rmdir(folder.c_str());
  close(fd);
}

void MemoryFile::Replace(const uint8_t* data, size_t size) {
  if (ftruncate(fd, 0) != 0) Fail("ftruncate");
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("pwrite");
    done += static_cast<size_t>(n);
  }
}

const std::string& MemoryFile::PathWithExtension(const std::string& extension) {
  if (!linked.empty()) return linked;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kestrion-fuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) Fail("mkdtemp");
  folder = pattern;
  const std::string link = folder + "/input" + extension;
  if (symlink(path.c_str(), link.c_str()) != 0) Fail("symlink");
  linked = link;
  return linked;
}

}  // namespace kestrion_fuzz
