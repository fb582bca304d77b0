#include "formats/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
constexpr const char* HIDDEN_PREFIX = ".kestrion-";
constexpr const char* HIDDEN_PATTERN = ".kestrion-XXXXXX";
constexpr size_t HIDDEN_RANDOM = 6;
constexpr int NAME_TRIES = 100;
// What a content file under a hidden name carries while it is written, and
// loses when it is committed: the sticky bit, which means nothing on a
// regular file, so that no file a user keeps carries it.
constexpr mode_t WRITING_MARK = S_ISVTX;

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

// Writes the directory's entries to the disk, so that a name just given
// survives a crash or a power cut. File systems that cannot sync a
// directory (EINVAL) keep their entries by other means.
int SyncDirectory(const std::string& directory) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  close(fd);
  return error;
}

bool LetterOrDigit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Whether `name` is one HIDDEN_PATTERN gives.
bool HiddenName(const std::string& name) {
  const size_t prefix = std::char_traits<char>::length(HIDDEN_PREFIX);
  return name.size() == prefix + HIDDEN_RANDOM && name.compare(0, prefix, HIDDEN_PREFIX) == 0 &&
         std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix), name.end(), LetterOrDigit);
}

// Whether `info` is what a content file of this user that is being written,
// or was when its writer died, looks like.
bool MarkedContentFile(const struct stat& info) {
  return S_ISREG(info.st_mode) && (info.st_mode & WRITING_MARK) && info.st_uid == geteuid() &&
         info.st_nlink == 1;
}

// Removes the content files writers killed outright left under hidden
// names in `directory` (see output_file.h). One is proven left over when it
// is a marked content file and no process holds the lock its writer held;
// the name is removed only while it still names that file. Anything else
// is left alone: files of other users, unmarked ones (another program's, or
// an earlier kestrion's), and whatever cannot be looked at.
void RemoveLeftContentFiles(const std::string& directory) {
  DIR* listing = opendir(directory.c_str());
  if (!listing) return;
  const int dirFd = dirfd(listing);
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    struct stat seen {};
    if (!HiddenName(name) || fstatat(dirFd, name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0 ||
        !MarkedContentFile(seen)) {
      continue;
    }
    const int fd =
        openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat opened {};
    struct stat now {};
    if (fstat(fd, &opened) == 0 && opened.st_dev == seen.st_dev && opened.st_ino == seen.st_ino &&
        MarkedContentFile(opened) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        fstatat(dirFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        now.st_dev == opened.st_dev && now.st_ino == opened.st_ino) {
      unlinkat(dirFd, name.c_str(), 0);
    }
    close(fd);
  }
  closedir(listing);
}

}  // namespace

OutputFile::OutputFile(std::string targetPath, Naming naming)
    : target(std::move(targetPath)), naming(naming) {
  const std::filesystem::path name(target);
  if (name.filename().empty()) throw OutputError(target, "not a file name");
  directory = name.has_parent_path() ? name.parent_path().string() : ".";
  // Fails now, before a long run, what would fail once writing starts.
  if (access(directory.c_str(), W_OK | X_OK) != 0) {
    throw OutputError(target, "cannot create a file in its directory" + Reason(errno));
  }
  struct stat info {};
  if (stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    throw OutputError(target, "is a directory");
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
    // Held until the file is committed or discarded, like a named one's.
    flock(fd, LOCK_EX | LOCK_NB);
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
  if (fd < 0) throw OutputError(target, "cannot create a file in its directory" + Reason(errno));
  path.assign(buffer.data());
  anonymous = false;
  createdMode = NewFileMode();
  // The lock, then the mark: a marked file whose lock nobody holds is one
  // whose writer died. Where the file system keeps neither, nothing is
  // marked and nothing is ever taken for left over.
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) fchmod(fd, 0600 | WRITING_MARK);
  // A run killed outright here before left its content file behind.
  RemoveLeftContentFiles(directory);
}

void OutputFile::Write(const std::function<void(const std::string& path)>& write) {
  if (fd < 0) Create();
  try {
    write(path);
  } catch (const Error& e) {
    Discard();
    // Messages show names escaped (errors.h).
    std::string message = e.what();
    const std::string shownPath = ShownName(path);
    const std::string shownTarget = ShownName(target);
    for (size_t at = message.find(shownPath); at != std::string::npos;
         at = message.find(shownPath, at + shownTarget.size())) {
      message.replace(at, shownPath.size(), shownTarget);
    }
    // Whatever failed while the content was written, the output is what
    // could not be made (what the caller asked wrongly, memory and an abort
    // stay what they are).
    const ErrorKind kind = e.Kind();
    throw Error(kind == ErrorKind::Input || kind == ErrorKind::Failed ? ErrorKind::Output : kind,
                message);
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
  // The content on the disk before it takes the target's name: after a
  // crash, a name is never left on an empty or partly written file.
  if (fsync(fd) != 0) {
    const int error = errno;
    Discard();
    throw FileError(target, "cannot write it to the disk" + Reason(error));
  }

  std::string from = path;
  if (anonymous && !S_ISREG(existing.st_mode) &&
      linkat(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    // Nothing to replace: the file gets its name at once, and never has a
    // hidden one a kill could leave behind.
    committed = true;
    Discard();
    SyncFolder();
    return;
  }
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
      throw OutputError(target, "cannot put it in place" + Reason(error));
    }
  }
  if (std::rename(from.c_str(), target.c_str()) != 0) {
    const int error = errno;
    if (anonymous) unlink(from.c_str());
    Discard();
    throw OutputError(target, "cannot replace it" + Reason(error));
  }
  committed = true;
  Discard();
  SyncFolder();
}

void OutputFile::SyncFolder() const {
  if (const int error = SyncDirectory(directory); error != 0) {
    throw FileError(target,
                    "is in place, but its folder cannot be written to the disk" + Reason(error));
  }
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
      throw OutputError(folder.string(),
                        "cannot make the folder: a file of that name is in the way");
    }
    throw OutputError(folder.string(), "cannot make the folder" + Reason(errno));
  }
}

}  // namespace kestrion
