// kestrion render over a shot, run as the user runs it: the built kestrion
// on a few demo frames.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "tests/support/run_kestrion.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::ReadText;
using test_files::RunKestrion;
using test_files::ScratchDirectory;

constexpr int FRAMES = 6;
const std::vector<std::string> LOOK = {"--focus-depth", "9", "--size", "6"};

std::string FrameName(const std::string& prefix, int frame) {
  char name[64];
  std::snprintf(name, sizeof name, "%s.%04d.exr", prefix.c_str(), frame);
  return name;
}

std::vector<std::string> With(std::vector<std::string> words) {
  words.insert(words.end(), LOOK.begin(), LOOK.end());
  return words;
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// Demo frames in.0001.exr ... and their reference render ref.####.exr, made
// once with one job.
class Shot : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new ScratchDirectory;
    for (int frame = 1; frame <= FRAMES; ++frame) {
      const auto made =
          RunKestrion({"demo", "-q", "--width", std::to_string(100 + frame), "--height", "60", "-o",
                       "demo.png", "--original", FrameName("in", frame)},
                      *dir / "");
      ASSERT_EQ(made.exitCode, 0) << made.err;
    }
    const auto ref = RunKestrion(With({"render", "in.####.exr", "-o", "ref.####.exr", "--jobs", "1",
                                       "-q", "--report-file", "ref.json"}),
                                 *dir / "");
    ASSERT_EQ(ref.exitCode, 0) << ref.err;
  }
  static void TearDownTestSuite() { delete dir; }

  // Every output the run left in `out` is the reference frame, and nothing
  // else (no temporary file) is there.
  static void ExpectOnlyCompleteFrames(const ScratchDirectory& out, const std::string& context) {
    for (const std::string& name : out.Entries()) {
      ASSERT_EQ(name.rfind("out.", 0), 0u) << context << ": left " << name;
      const std::string frame = name.substr(4);
      EXPECT_EQ(ReadText(out / name), ReadText(*dir / ("ref." + frame))) << context << ": " << name;
    }
  }

  static ScratchDirectory* dir;
};

ScratchDirectory* Shot::dir = nullptr;

TEST_F(Shot, JobsDoNotChangeTheFilesAndReportsComeInFrameOrder) {
  const auto run = RunKestrion(
      With({"render", "in.%04d.exr", "-o", "two.@@@@.exr", "--jobs", "2", "--report", "json"}),
      *dir / "");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto lines = JsonLines(run.out);
  const auto reference = JsonLines(ReadText(*dir / "ref.json"));
  ASSERT_EQ(lines.size(), static_cast<size_t>(FRAMES));
  ASSERT_EQ(reference.size(), static_cast<size_t>(FRAMES));
  for (int frame = 1; frame <= FRAMES; ++frame) {
    const auto& line = lines[frame - 1];
    EXPECT_EQ(line["frame"], frame);
    EXPECT_EQ(line["status"], "done");
    EXPECT_EQ(line["width"], 100 + frame);
    EXPECT_EQ(line["output"], FrameName("two", frame));
    EXPECT_EQ(reference[frame - 1]["output"], FrameName("ref", frame));
    EXPECT_EQ(ReadText(*dir / FrameName("two", frame)), ReadText(*dir / FrameName("ref", frame)))
        << "frame " << frame;
  }
}

TEST_F(Shot, MissingFramesFailAloneChunksSplitAndDoneFramesAreSkipped) {
  ScratchDirectory out;
  const std::string pattern = out / "out.####.exr";
  // Frames 7 and 8 have no input; chunk 2 of 3 of 1-8 is 4, 5, 6.
  const auto chunk = RunKestrion(With({"render", "in.####.exr", "-o", pattern, "--frames", "1-8",
                                       "--chunk", "2/3", "--report", "json", "-q"}),
                                 *dir / "");
  EXPECT_EQ(chunk.exitCode, 0) << chunk.err;
  EXPECT_EQ(out.Entries().size(), 3u);
  const auto all = RunKestrion(With({"render", "in.####.exr", "-o", pattern, "--frames", "1-8",
                                     "--skip-existing", "--report", "json", "-q"}),
                               *dir / "");
  EXPECT_EQ(all.exitCode, 1) << all.err;
  EXPECT_NE(all.err.find("missing input frames 7, 8"), std::string::npos) << all.err;
  const auto lines = JsonLines(all.out);
  ASSERT_EQ(lines.size(), 8u) << all.out;
  const char* expected[] = {"done",    "done",    "done",   "skipped",
                            "skipped", "skipped", "failed", "failed"};
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(lines[i]["frame"], i + 1);
    EXPECT_EQ(lines[i]["status"], expected[i]) << "frame " << i + 1;
  }
  EXPECT_EQ(out.Entries().size(), 6u);
  ExpectOnlyCompleteFrames(out, "missing frames");
}

// An output cut short (a crash before it reached the disk, a stopped
// copy) is no done frame: it is rendered again, with a warning naming the
// frame and the file on stderr and in the report; whole ones are skipped.
TEST_F(Shot, SkipExistingRendersDamagedOutputsAgainAndSaysSo) {
  ScratchDirectory out;
  const std::string pattern = out / "out.####.exr";
  const auto first = RunKestrion(
      With({"render", "in.####.exr", "-o", pattern, "--frames", "1-3", "-q"}), *dir / "");
  ASSERT_EQ(first.exitCode, 0) << first.err;
  const std::string cut = out / FrameName("out", 2);
  const std::string whole = ReadText(cut);
  test_files::WriteText(cut, whole.substr(0, whole.size() / 2));
  const auto again = RunKestrion(With({"render", "in.####.exr", "-o", pattern, "--frames", "1-3",
                                       "--skip-existing", "--report", "json", "-q"}),
                                 *dir / "");
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_NE(again.err.find("frame 2: " + cut + " was incomplete"), std::string::npos) << again.err;
  EXPECT_EQ(test_files::Lines(again.err), 1u) << again.err;
  const auto lines = JsonLines(again.out);
  ASSERT_EQ(lines.size(), 3u) << again.out;
  EXPECT_EQ(lines[0]["status"], "skipped");
  EXPECT_EQ(lines[1]["status"], "done");
  EXPECT_EQ(lines[2]["status"], "skipped");
  ASSERT_TRUE(lines[1]["warning"].is_string()) << lines[1];
  EXPECT_NE(lines[1]["warning"].get<std::string>().find(cut), std::string::npos);
  EXPECT_TRUE(lines[0]["warning"].is_null());
  EXPECT_EQ(ReadText(cut), whole) << "the frame rendered again differs from its first render";
  ExpectOnlyCompleteFrames(out, "a damaged frame");
}

TEST_F(Shot, UsageErrorsEndTheRunBeforeItWritesAnything) {
  ScratchDirectory out;
  const std::vector<std::vector<std::string>> cases = {
      {"render", "in.####.exr", "-o", out / "one.exr"},
      {"render", "in.####.exr", "-o", out / "out.####.exr", "--chunk", "4/3"},
      {"render", "in.####.exr", "-o", out / "out.####.exr", "--frames", "3-1"},
      {"render", "none.####.exr", "-o", out / "out.####.exr"},
      {"render", "in.0001.exr", "-o", out / "out.exr", "--jobs", "2"},
      {"render", "in.#.##.exr", "-o", out / "out.####.exr"},
      // Every frame would fail the same way: the first one ends the shot.
      {"render", "in.####.exr", "-o", out / "out.####.exr", "--jobs", "1", "--alpha", "odd"},
  };
  for (const auto& words : cases) {
    const auto run = RunKestrion(With(words), *dir / "");
    EXPECT_EQ(run.exitCode, 2) << words[3] << ": " << run.err;
    EXPECT_EQ(test_files::Lines(run.err), 1u) << run.err;
    EXPECT_TRUE(out.Entries().empty()) << words[3];
  }
}

// A focus map named by a pattern is one map a frame; a single name for
// several frames would have every frame overwrite it, so it is refused.
TEST_F(Shot, FocusMapsFollowTheFrames) {
  ScratchDirectory out;
  const auto run =
      RunKestrion(With({"render", "in.####.exr", "-o", out / "out.####.exr", "--frames", "2-3",
                        "--focus-map", out / "focus.####.png", "-q"}),
                  *dir / "");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> entries = out.Entries();
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"focus.0002.png", "focus.0003.png", "out.0002.exr",
                                               "out.0003.exr"}));
  EXPECT_NE(ReadText(out / "focus.0002.png"), ReadText(out / "focus.0003.png"));

  ScratchDirectory refused;
  const auto single = RunKestrion(With({"render", "in.####.exr", "-o", refused / "out.####.exr",
                                        "--frames", "2-3", "--focus-map", refused / "focus.png"}),
                                  *dir / "");
  EXPECT_EQ(single.exitCode, 2) << single.err;
  EXPECT_NE(single.err.find("--focus-map"), std::string::npos) << single.err;
  EXPECT_TRUE(refused.Entries().empty());
}

// A signal at a random moment: the run ends with its code (or 0 when it
// was already done), leaves no temporary file, and every frame it wrote is
// the frame a clean run writes.
TEST_F(Shot, SignalsAtAnyMomentLeaveOnlyCompleteFrames) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> delay(0, 400);
  const int devNull = open("/dev/null", O_WRONLY);
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGTERM, SIGINT, SIGTERM}) {
    for (bool single : {false, true}) {
      ScratchDirectory out;
      const std::vector<std::string> words =
          single ? With({"render", "in.0003.exr", "-o", out / "out.0003.exr"})
                 : With({"render", "in.####.exr", "-o", out / "out.####.exr", "--jobs", "2"});
      const pid_t pid = test_files::StartKestrion(words, *dir / "", devNull, devNull);
      ASSERT_GT(pid, 0);
      const int wait = delay(random) / (single ? 4 : 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(wait));
      kill(pid, signal);
      const int code = test_files::WaitForExit(pid);
      const std::string context = std::string(single ? "frame" : "shot") + ", signal " +
                                  std::to_string(signal) + " after " + std::to_string(wait) + " ms";
      EXPECT_TRUE(code == 128 + signal || code == 0) << context << ": exit " << code;
      ExpectOnlyCompleteFrames(out, context);
      if (single && code != 0) {
        EXPECT_TRUE(out.Entries().empty()) << context;
      }
    }
  }
  close(devNull);
}

// The processes whose parent is `parent`, from /proc.
std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    std::ifstream file(entry.path() / "stat");
    std::string stat;
    std::getline(file, stat);
    // "pid (name) state ppid ...": the name may hold anything, so the
    // fields are read after its last parenthesis.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 1));
    char state = 0;
    pid_t ppid = 0;
    if (fields >> state >> ppid && ppid == parent) children.push_back(std::stoi(name));
  }
  return children;
}

// A shot whose parent is killed outright, as a farm kills a job or the
// memory killer picks it: every worker hears of it, ends its frame as on
// SIGTERM (exit 143) and leaves no partial output. The frames take seconds,
// so a worker that carried on would finish its frame and write it.
TEST(ShotWorkers, EndWithTheirParentHoweverItDies) {
  ScratchDirectory dir;
  const auto made = RunKestrion({"demo", "-q", "--width", "1920", "--height", "1080", "-o",
                                 "demo.png", "--original", "big.0001.exr"},
                                dir / "");
  ASSERT_EQ(made.exitCode, 0) << made.err;
  std::filesystem::create_hard_link(dir / "big.0001.exr", dir / "big.0002.exr");
  ScratchDirectory out;
  // Orphaned workers become this process's children, so that it sees them
  // end.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const int devNull = open("/dev/null", O_WRONLY);
  const pid_t parent = test_files::StartKestrion(
      With({"render", "big.####.exr", "-o", out / "out.####.exr", "--jobs", "2"}), dir / "",
      devNull, devNull);
  close(devNull);
  ASSERT_GT(parent, 0);
  std::vector<pid_t> workers;
  for (int tries = 0; workers.size() < 2 && tries < 2000; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    workers = ChildrenOf(parent);
  }
  kill(parent, SIGKILL);
  EXPECT_EQ(test_files::WaitForExit(parent), 128 + SIGKILL);
  EXPECT_EQ(workers.size(), 2u) << "the workers did not start";
  for (const pid_t worker : workers) {
    EXPECT_EQ(test_files::WaitForExit(worker), 128 + SIGTERM) << "worker " << worker;
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  EXPECT_TRUE(out.Entries().empty()) << out.Entries().front();
}

}  // namespace
}  // namespace kestrion
