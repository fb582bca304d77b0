#include "formats/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "base/errors.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::ReadText;
using test_files::ScratchDirectory;
using test_files::WriteText;

mode_t Permissions(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

// Runs `body` with the process's umask set to `mask`.
template <typename Body>
void WithUmask(mode_t mask, Body body) {
  const mode_t previous = umask(mask);
  body();
  umask(previous);
}

void Save(const std::string& target, const std::string& text,
          OutputFile::Naming naming = OutputFile::Naming::UnnamedFirst) {
  OutputFile output(target, naming);
  output.Write([&text](const std::string& path) { WriteText(path, text); });
  output.Commit();
}

// Every behaviour holds for an unnamed content file and for one with a
// hidden name alike.
class OutputFileNaming : public testing::TestWithParam<OutputFile::Naming> {
 protected:
  void Save(const std::string& target, const std::string& text) {
    kestrion::Save(target, text, GetParam());
  }
};

INSTANTIATE_TEST_SUITE_P(Both, OutputFileNaming,
                         testing::Values(OutputFile::Naming::UnnamedFirst,
                                         OutputFile::Naming::HiddenName),
                         [](const testing::TestParamInfo<OutputFile::Naming>& info) {
                           return info.param == OutputFile::Naming::HiddenName ? "HiddenName"
                                                                               : "Unnamed";
                         });

TEST_P(OutputFileNaming, TargetChangesOnlyOnCommit) {
  ScratchDirectory dir;
  const std::string target = dir / "picture.png";
  WriteText(target, "the user's picture");
  {
    OutputFile output(target, GetParam());
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"picture.png"}) << "created before writing";
    output.Write([&](const std::string& path) {
      WriteText(path, "half-written");
      EXPECT_EQ(ReadText(path), "half-written");
      EXPECT_EQ(ReadText(target), "the user's picture");
    });
  }
  EXPECT_EQ(ReadText(target), "the user's picture");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"picture.png"}) << "temporary file left";

  Save(target, "new picture");
  EXPECT_EQ(ReadText(target), "new picture");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"picture.png"});
}

TEST_P(OutputFileNaming, AFailedWriteLeavesNothingAndNamesTheTarget) {
  ScratchDirectory dir;
  const std::string target = dir / "frame.exr";
  WriteText(target, "complete frame");
  OutputFile output(target, GetParam());
  try {
    output.Write([](const std::string& path) {
      WriteText(path, "first rows");
      throw FileError(path, "cannot write (No space left on device)");
    });
    FAIL() << "the writer's error was swallowed";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), target + ": cannot write (No space left on device)");
    EXPECT_EQ(e.Kind(), ErrorKind::Output);
  }
  EXPECT_EQ(ReadText(target), "complete frame");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"frame.exr"});
}

TEST_P(OutputFileNaming, AFailedCommitLeavesNothing) {
  ScratchDirectory dir;
  const std::string target = dir / "out.png";
  OutputFile output(target, GetParam());
  output.Write([](const std::string& path) { WriteText(path, "picture"); });
  // Something else took the name meanwhile: a directory that is not empty.
  std::filesystem::create_directory(target);
  WriteText(dir / "out.png/keep", "");
  try {
    output.Commit();
    FAIL() << "a directory was replaced";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()).rfind(target + ": cannot replace it", 0), 0u) << e.what();
  }
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.png"}) << "the content file was left";
}

TEST(OutputFile, RefusesWhatCannotTakeAFileBeforeWriting) {
  ScratchDirectory dir;
  for (const std::string& target : {dir / "missing/out.png", dir / ""}) {
    try {
      OutputFile output(target);
      FAIL() << target << " accepted";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(target + ":", 0), 0u) << e.what();
    }
  }
  EXPECT_TRUE(dir.Entries().empty());
}

TEST_P(OutputFileNaming, AnyValidNameFits) {
  ScratchDirectory dir;
  for (const size_t length : {size_t{1}, size_t{238}, size_t{255}}) {
    const std::string name = std::string(length - 1, 'n') + "x";
    Save(dir / name, "frame of " + std::to_string(length));
    EXPECT_EQ(ReadText(dir / name), "frame of " + std::to_string(length));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{name});
    std::filesystem::remove(dir / name);
  }
}

// A writer killed outright (SIGKILL, the memory killer) while it writes:
// an unnamed content file leaves nothing; a named one stays, marked, and
// the next writer in the directory removes it. What is not proven left
// over stays: a file a live writer holds, an unmarked one (a user's own,
// or an earlier kestrion's) and anything that is not a regular file.
TEST(OutputFile, WhatAWriterKilledOutrightLeavesTheNextOneRemoves) {
  for (const auto naming : {OutputFile::Naming::UnnamedFirst, OutputFile::Naming::HiddenName}) {
    const bool hidden = naming == OutputFile::Naming::HiddenName;
    SCOPED_TRACE(hidden ? "hidden name" : "unnamed");
    ScratchDirectory dir;
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      OutputFile output(dir / "frame.exr", naming);
      output.Write([](const std::string& path) {
        WriteText(path, "half a frame");
        raise(SIGKILL);
      });
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    std::vector<std::string> left = dir.Entries();
    if (!hidden) {
      EXPECT_TRUE(left.empty()) << left.front();
      continue;
    }
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].rfind(".kestrion-", 0), 0u) << left[0];
    EXPECT_EQ(left[0].size(), 16u) << left[0];
    EXPECT_EQ(ReadText(dir / left[0]), "half a frame");

    // Look-alikes that must stay.
    WriteText(dir / ".kestrion-config", "a user's own file");
    WriteText(dir / ".kestrion-Held01", "a live writer's");
    ASSERT_EQ(chmod((dir / ".kestrion-Held01").c_str(), 01600), 0);
    const int held = open((dir / ".kestrion-Held01").c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    ASSERT_EQ(mkdir((dir / ".kestrion-Dir001").c_str(), 01700), 0);
    Save(dir / "next.exr", "a whole frame", naming);
    close(held);
    left = dir.Entries();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".kestrion-Dir001", ".kestrion-Held01",
                                              ".kestrion-config", "next.exr"}));
    EXPECT_EQ(Permissions(dir / "next.exr") & S_ISVTX, 0u) << "a committed file keeps the mark";
  }
}

TEST_P(OutputFileNaming, AReplacedFileKeepsItsPermissionsANewOneGetsTheUmasks) {
  ScratchDirectory dir;
  WithUmask(022, [&] {
    for (const mode_t kept : {0600u, 0640u, 0444u, 0755u}) {
      const std::string target = dir / ("kept-" + std::to_string(kept));
      WriteText(target, "before");
      ASSERT_EQ(chmod(target.c_str(), kept), 0);
      Save(target, "after");
      EXPECT_EQ(ReadText(target), "after");
      EXPECT_EQ(Permissions(target), kept) << "mode " << std::oct << kept << " not kept";
    }
    Save(dir / "new-022", "new");
    EXPECT_EQ(Permissions(dir / "new-022"), 0644u);
  });
  WithUmask(077, [&] {
    Save(dir / "new-077", "new");
    EXPECT_EQ(Permissions(dir / "new-077"), 0600u);
  });
  // Even a umask that leaves the owner nothing: the writers can still open
  // the content file, and the file ends as creating it would have made it.
  WithUmask(0277, [&] {
    Save(dir / "new-277", "readable by its writer");
    EXPECT_EQ(Permissions(dir / "new-277"), 0400u);
  });
  EXPECT_EQ(ReadText(dir / "new-277"), "readable by its writer");
}

}  // namespace
}  // namespace kestrion
