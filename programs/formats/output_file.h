// output_file.h: writing a user's file so that a failed run never damages
// it. The content goes to a file of its own in the target's directory,
// created when writing starts; Commit() moves it over the target. Until
// then the target is untouched, and an uncommitted file disappears when the
// object dies.
//
// Where the file system allows it, the content file has no name at all
// (O_TMPFILE): a process killed outright, even by SIGKILL, leaves nothing
// behind, and any valid target name works, since no longer name is made
// from it. The writers open it by the path /proc/self/fd/N. Commit() links
// it under the target's name when there is no target yet; to replace one,
// it links it under a short hidden name (.kestrion-XXXXXX) and renames that
// over the target, so only a kill between those two calls leaves a
// (complete) hidden file.
//
// Elsewhere the content file is created under such a short hidden name and
// removed again unless committed. A process killed outright leaves it, so
// the writer locks it (flock) and marks it (the sticky bit, which nothing
// else puts on a regular file) until it is committed, and every writer
// that creates one removes those others left in the directory: marked
// files of the same user that no process holds locked.
//
// A replaced target keeps its permission bits and, where the user may set
// them, its owner and group; a new file gets what creating it would give
// (the umask's default).
#pragma once

#include <functional>
#include <string>

namespace kestrion {

class OutputFile {
 public:
  enum class Naming {
    UnnamedFirst,  // an unnamed file where the file system allows it
    HiddenName,    // always the short hidden name
  };

  // Checks that `target` names a file in a directory that can take one;
  // throws an OutputError naming `target` otherwise. Creates nothing.
  explicit OutputFile(std::string target, Naming naming = Naming::UnnamedFirst);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& Target() const { return target; }
  // Creates the content file (empty) and runs `write` with a path that
  // opens it; a later call writes it anew. When `write` throws, the content
  // file is gone at once, and an Error is thrown again with that path
  // replaced by the target's (the content file is no business of the
  // user's), of kind Output unless it was one of usage, memory or an abort.
  void Write(const std::function<void(const std::string& path)>& write);
  // Moves the content into place; throws an OutputError naming the target
  // (and the content file is gone). Needs a Write() first. The content is
  // synced to the disk before it takes the target's name, and the folder
  // after, so that a committed file survives a crash or a power cut whole.
  void Commit();

 private:
  void SyncFolder() const;
  void Create();
  void Discard();

  std::string target;
  Naming naming;
  std::string directory;
  std::string path;  // what writers open: /proc/self/fd/N or the hidden file's name
  int fd = -1;
  bool anonymous = false;  // no name until Commit (O_TMPFILE)
  unsigned createdMode = 0;
  bool committed = false;
};

// Makes the folders `target`'s name needs that do not exist yet, as mkdir -p
// does (permissions from the umask). Throws an OutputError naming the folder
// that cannot be made.
void MakeFolders(const std::string& target);

}  // namespace kestrion
