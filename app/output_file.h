// output_file.h: writing a user's file so that a failed run never damages
// it. The content goes to a fresh temporary file in the target's directory;
// Commit() renames it over the target. Until then the target is untouched,
// and an uncommitted temporary file is removed when the object dies.
#pragma once

#include <functional>
#include <string>

namespace kestrion {

class OutputFile {
 public:
  // Creates the temporary file; throws a FileError naming `target` when its
  // directory cannot take one.
  explicit OutputFile(std::string target);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& Target() const { return target; }
  // Where to write the content (exists, empty, owned by this object).
  const std::string& TemporaryPath() const { return temporary; }
  // Runs `write` with the temporary path. A CommandError it throws is
  // thrown again with the temporary path replaced by the target's: the
  // temporary file is no business of the user's.
  void Write(const std::function<void(const std::string& path)>& write);
  // Moves the content into place; throws a FileError naming the target.
  void Commit();

 private:
  std::string target;
  std::string temporary;
  bool committed = false;
};

}  // namespace kestrion
