#include "formats/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <vector>

#include "base/errors.h"

namespace kestrion {

namespace {

// The hidden name a content file has while it is visible: short, so that
// it fits beside any valid target name.
constexpr const char* HIDDEN_PATTERN = ".kestrion-XXXXXX";
constexpr int NAME_TRIES = 100;

std::string Reason(int error) { return std::string(" (") + std::strerror(error) + ")"; }

// The permissions a newly created file gets under the current umask.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// `pattern` with its trailing X's replaced by random letters and digits.
std::string RandomName(std::string pattern) {
  static constexpr char LETTERS[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static thread_local std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<size_t> pick(0, sizeof LETTERS - 2);
  for (size_t i = pattern.size(); i > 0 && pattern[i - 1] == 'X'; --i) {
    pattern[i - 1] = LETTERS[pick(random)];
  }
  return pattern;
}

std::string Joined(const std::string& directory, const std::string& name) {
  return (std::filesystem::path(directory) / name).string();
}

}  // namespace

OutputFile::OutputFile(std::string targetPath, Naming naming)
    : target(std::move(targetPath)), naming(naming) {
  const std::filesystem::path name(target);
  if (name.filename().empty()) throw FileError(target, "not a file name");
  directory = name.has_parent_path() ? name.parent_path().string() : ".";
  // Fails now, before a long run, what would fail once writing starts.
  if (access(directory.c_str(), W_OK | X_OK) != 0) {
    throw FileError(target, "cannot create a file in its directory" + Reason(errno));
  }
  struct stat info {};
  if (stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    throw FileError(target, "is a directory");
  }
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
  if (fd < 0) return;
  close(fd);
  fd = -1;
  if (!anonymous && !committed) unlink(path.c_str());
}

void OutputFile::Create() {
  if (naming == Naming::UnnamedFirst) {
    fd = open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  }
  if (fd >= 0) {
    path = "/proc/self/fd/" + std::to_string(fd);
    struct stat info {};
    fstat(fd, &info);
    createdMode = info.st_mode & 07777;
    // The writers reopen the file by its path: its owner must be allowed to
    // read and write it, whatever the umask took away.
    if ((createdMode & 0600) != 0600) fchmod(fd, createdMode | 0600);
    if (access(path.c_str(), W_OK) == 0) {
      anonymous = true;
      return;
    }
    close(fd);  // no /proc to reopen it through
    fd = -1;
  }
  // The file system refuses unnamed files, or they were not wanted: a short
  // hidden name instead.
  std::string name = Joined(directory, HIDDEN_PATTERN);
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  fd = mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) throw FileError(target, "cannot create a file in its directory" + Reason(errno));
  path.assign(buffer.data());
  anonymous = false;
  createdMode = NewFileMode();
}

void OutputFile::Write(const std::function<void(const std::string& path)>& write) {
  if (fd < 0) Create();
  try {
    write(path);
  } catch (const CommandError& e) {
    Discard();
    std::string message = e.what();
    for (size_t at = message.find(path); at != std::string::npos;
         at = message.find(path, at + target.size())) {
      message.replace(at, path.size(), target);
    }
    throw CommandError(e.ExitCode(), message);
  } catch (...) {
    Discard();
    throw;
  }
}

void OutputFile::Commit() {
  if (fd < 0 || committed) throw std::logic_error("OutputFile::Commit without content");
  // The target's permissions and owner as it has them now; a new file's as
  // it was created.
  struct stat existing {};
  mode_t mode = createdMode;
  if (stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    struct stat own {};
    if (fstat(fd, &own) == 0 && (own.st_uid != existing.st_uid || own.st_gid != existing.st_gid)) {
      // Only the owner's own groups, or root, may: otherwise the file is the
      // user's, as a file the user created would be.
      [[maybe_unused]] const int ignored = fchown(fd, existing.st_uid, existing.st_gid);
    }
    mode = existing.st_mode & 07777;
  }
  fchmod(fd, mode);

  std::string from = path;
  if (anonymous) {
    int error = EEXIST;
    for (int tries = 0; tries < NAME_TRIES && error == EEXIST; ++tries) {
      from = Joined(directory, RandomName(HIDDEN_PATTERN));
      error = linkat(AT_FDCWD, path.c_str(), AT_FDCWD, from.c_str(), AT_SYMLINK_FOLLOW) == 0
                  ? 0
                  : errno;
    }
    if (error != 0) {
      Discard();
      throw FileError(target, "cannot put it in place" + Reason(error));
    }
  }
  if (std::rename(from.c_str(), target.c_str()) != 0) {
    const int error = errno;
    if (anonymous) unlink(from.c_str());
    Discard();
    throw FileError(target, "cannot replace it" + Reason(error));
  }
  committed = true;
  Discard();
}

void MakeFolders(const std::string& target) {
  const std::filesystem::path parent = std::filesystem::path(target).parent_path();
  if (parent.empty()) return;
  // Each folder from the top down, as mkdir -p makes them; one made
  // meanwhile by another process (a shot's frames start together) is no
  // failure.
  std::filesystem::path folder;
  for (const std::filesystem::path& piece : parent) {
    folder /= piece;
    if (piece == "/" || piece.empty()) continue;
    if (mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST) {
      struct stat status {};
      if (stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) continue;
      throw FileError(folder.string(), "cannot make the folder: a file of that name is in the way");
    }
    throw FileError(folder.string(), "cannot make the folder" + Reason(errno));
  }
}

}  // namespace kestrion
