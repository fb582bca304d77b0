#include "app/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "app/errors.h"

namespace kestrion {

namespace {

// The permissions a newly created file gets under the current umask; the
// temporary file starts private and takes these before it becomes visible.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

OutputFile::OutputFile(std::string targetPath) : target(std::move(targetPath)) {
  const std::filesystem::path path(target);
  if (path.filename().empty()) throw FileError(target, "not a file name");
  const std::filesystem::path directory = path.has_parent_path() ? path.parent_path() : ".";
  // A hidden name beside the target, so the rename stays on one file system.
  std::string hidden = ".";
  hidden += path.filename().string();
  hidden += ".kestrion-XXXXXX";
  const std::string pattern = (directory / hidden).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    throw FileError(target, std::string("cannot create a file in its directory (") +
                                std::strerror(errno) + ")");
  }
  fchmod(fd, NewFileMode());
  close(fd);
  temporary.assign(name.data());
}

OutputFile::~OutputFile() {
  if (!committed) std::remove(temporary.c_str());
}

void OutputFile::Commit() {
  if (std::rename(temporary.c_str(), target.c_str()) != 0) {
    throw FileError(target, std::string("cannot replace it (") + std::strerror(errno) + ")");
  }
  committed = true;
}

void OutputFile::Write(const std::function<void(const std::string& path)>& write) {
  try {
    write(temporary);
  } catch (const CommandError& e) {
    std::string message = e.what();
    for (size_t at = message.find(temporary); at != std::string::npos;
         at = message.find(temporary, at + target.size())) {
      message.replace(at, temporary.size(), target);
    }
    throw CommandError(e.ExitCode(), message);
  }
}

}  // namespace kestrion
