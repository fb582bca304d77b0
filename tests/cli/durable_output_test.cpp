// The built kestrion traced by strace while it puts an output in place: the
// content must reach the disk before the output's name does, and the
// folder's entry after, so that a crash or a power cut never leaves the
// name on an empty or partly written file.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <optional>
#include <regex>
#include <sstream>
#include <vector>

#include "tests/support/run_kestrion.h"
#include "tests/support/test_files.h"

extern char** environ;

namespace kestrion {
namespace {

using test_files::ReadText;
using test_files::RunKestrion;
using test_files::ScratchDirectory;

// The calls strace saw, one a line, without the process ids.
std::vector<std::string> TracedCalls(const std::string& dir, const std::vector<std::string>& args,
                                     std::string& failure) {
  const std::string trace = dir + "/trace.txt";
  std::vector<std::string> words = {"strace", "-f", "-qq", "-o", trace, "-e",
                                    "trace=openat,fsync,fdatasync,linkat,rename,renameat,renameat2",
                                    // A sanitized build's leak check cannot run
                                    // under a tracer; the rest of it can.
                                    "-E", "ASAN_OPTIONS=detect_leaks=0", KESTRION_APP_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, "strace", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    failure = "strace cannot be started (" + std::string(std::strerror(error)) +
              "): scripts/deps installs it";
    return {};
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    failure = "kestrion under strace did not succeed: " + ReadText(trace);
    return {};
  }
  std::vector<std::string> calls;
  std::istringstream lines(ReadText(trace));
  static const std::regex processId("^[0-9]+ +");
  for (std::string line; std::getline(lines, line);)
    calls.push_back(std::regex_replace(line, processId, ""));
  return calls;
}

std::optional<size_t> Find(const std::vector<std::string>& calls, const std::regex& call,
                           size_t from = 0) {
  for (size_t i = from; i < calls.size(); ++i) {
    if (std::regex_search(calls[i], call)) return i;
  }
  return std::nullopt;
}

std::string Shown(const std::vector<std::string>& calls) {
  std::string text;
  for (const std::string& call : calls) text += call + "\n";
  return text;
}

// Checks that the call that gives `name` its place is preceded by a sync of
// the content file and followed by a sync of the folder.
void ExpectSyncedAroundCommit(const std::vector<std::string>& calls, const std::string& name) {
  const std::regex placed("^(linkat|rename|renameat2?)\\(.*\"" + name + "\"[^\"]*\\) *= 0");
  const std::optional<size_t> commit = Find(calls, placed);
  ASSERT_TRUE(commit) << "no call put " << name << " in place:\n" << Shown(calls);
  // The content file: unnamed in the folder, or a hidden name.
  const std::regex created("^openat\\(.*(O_TMPFILE|\\.kestrion-).* *= ([0-9]+)$");
  std::optional<size_t> creation;
  std::smatch match;
  std::string contentFd;
  for (size_t i = 0; i < *commit; ++i) {
    if (std::regex_search(calls[i], match, created)) {
      creation = i;
      contentFd = match[2];
    }
  }
  ASSERT_TRUE(creation) << Shown(calls);
  const std::optional<size_t> contentSync =
      Find(calls, std::regex("^f(data)?sync\\(" + contentFd + "\\) *= 0"), *creation);
  ASSERT_TRUE(contentSync) << "the content file is never synced:\n" << Shown(calls);
  EXPECT_LT(*contentSync, *commit) << "the content file is synced after it took its name:\n"
                                   << Shown(calls);
  const std::regex folderOpened("^openat\\(.*O_DIRECTORY.* *= ([0-9]+)$");
  bool folderSynced = false;
  for (size_t i = *commit + 1; i < calls.size() && !folderSynced; ++i) {
    if (std::regex_search(calls[i], match, folderOpened)) {
      folderSynced =
          Find(calls, std::regex("^fsync\\(" + std::string(match[1]) + "\\) *= 0"), i).has_value();
    }
  }
  EXPECT_TRUE(folderSynced) << "the folder is not synced after " << name << " took its name:\n"
                            << Shown(calls);
}

TEST(DurableOutput, ANewAndAReplacedOutputAreSyncedBeforeTheirNameAndTheFolderAfter) {
  ScratchDirectory dir;
  ASSERT_EQ(RunKestrion({"demo", "-q", "--width", "24", "--height", "16", "-o", "in.exr"}, dir / "")
                .exitCode,
            0);
  for (const char* round : {"new", "replaced"}) {
    SCOPED_TRACE(round);
    std::string failure;
    const std::vector<std::string> calls = TracedCalls(
        dir / "", {"render", "in.exr", "-o", "out.exr", "--focus-depth", "9", "-q"}, failure);
    ASSERT_TRUE(failure.empty()) << failure;
    ExpectSyncedAroundCommit(calls, "out.exr");
  }
}

TEST(DurableOutput, TheShotsReportFileIsSyncedLikeAFrame) {
  ScratchDirectory dir;
  ASSERT_EQ(
      RunKestrion({"demo", "-q", "--width", "24", "--height", "16", "-o", "in.0001.exr"}, dir / "")
          .exitCode,
      0);
  std::string failure;
  const std::vector<std::string> calls =
      TracedCalls(dir / "",
                  {"render", "in.####.exr", "-o", "out.####.exr", "--jobs", "1", "--focus-depth",
                   "9", "--report-file", "report.json", "-q"},
                  failure);
  ASSERT_TRUE(failure.empty()) << failure;
  ExpectSyncedAroundCommit(calls, "out.0001.exr");
  ExpectSyncedAroundCommit(calls, "report.json");
}

}  // namespace
}  // namespace kestrion
