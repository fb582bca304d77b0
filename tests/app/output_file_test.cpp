#include "app/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "test_files.h"

namespace kestrion {
namespace {

using test_files::ReadText;
using test_files::WriteText;

TEST(OutputFile, TargetChangesOnlyOnCommit) {
  test_files::ScratchDirectory dir;
  const std::string target = dir / "picture.png";
  WriteText(target, "the user's picture");
  {
    OutputFile output(target);
    WriteText(output.TemporaryPath(), "half-written");
    EXPECT_EQ(ReadText(target), "the user's picture");
  }
  EXPECT_EQ(ReadText(target), "the user's picture");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"picture.png"}) << "temporary file left";

  const mode_t previous = umask(022);
  {
    OutputFile output(target);
    WriteText(output.TemporaryPath(), "new picture");
    output.Commit();
  }
  umask(previous);
  EXPECT_EQ(ReadText(target), "new picture");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"picture.png"});
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u) << "a committed file gets ordinary permissions";
}

}  // namespace
}  // namespace kestrion
