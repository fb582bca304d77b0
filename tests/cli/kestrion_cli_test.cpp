// End-to-end runs of the built kestrion command, which loads the built
// KESTRION.FLT from beside itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "demo/demo_scene.h"
#include "formats/exr_io.h"
#include "formats/png_io.h"
#include "tests/support/run_kestrion.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::Lines;
using test_files::ReadText;
using test_files::RunKestrion;
using test_files::RunResult;
using test_files::ScratchDirectory;
using test_files::WriteText;

// Sum of squared differences between horizontal neighbours in a region,
// over the three colour channels: high for sharp detail, low once blurred.
double Detail(const Image& image, int x0, int y0, int x1, int y1) {
  double sum = 0.0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x + 1 < x1; ++x) {
      const BMM_Color_64& a = image.Storage().Pixels()[y * image.Width() + x];
      const BMM_Color_64& b = image.Storage().Pixels()[y * image.Width() + x + 1];
      for (auto [p, q] : {std::pair{a.r, b.r}, {a.g, b.g}, {a.b, b.b}}) {
        sum += std::pow(static_cast<double>(p) - q, 2);
      }
    }
  }
  return sum;
}

TEST(KestrionCli, InfoReportsTheLoadedModule) {
  ScratchDirectory dir;
  const RunResult run = RunKestrion({"info"}, dir / "");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const char* line :
       {"KESTRION.FLT\n", "version:      0x07D00500 (131073280)\n", "category:     Image Filter\n",
        "family:       0x00000E00 (3584)\n", "class id:     0x78EF4C38 0x737B4BCB\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << " not in:\n" << run.out;
  }
}

TEST(KestrionCli, DemoKeepsTheFocalObjectSharpAndBlursNearAndFar) {
  ScratchDirectory dir;
  constexpr int W = 321;
  constexpr int H = 181;
  const RunResult run =
      RunKestrion({"demo", "-q", "--width", std::to_string(W), "--height", std::to_string(H), "-o",
                   "demo.png", "--original", "original.png"},
                  dir / "");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const Image filtered = ReadPng(dir / "demo.png");
  const Image original = ReadPng(dir / "original.png");
  ASSERT_TRUE(filtered.Width() == W && filtered.Height() == H);

  auto centreOf = [&](const DemoShape& shape) {
    return *ProjectToPixel(shape.centre * DemoWorldToCamera(), W, H);
  };
  const PixelPosition focus = centreOf(DefaultFocusShape());
  for (int y = focus.y - 4; y <= focus.y + 4; ++y) {
    for (int x = focus.x - 4; x <= focus.x + 4; ++x) {
      ASSERT_EQ(filtered.Storage().Pixels()[y * W + x], original.Storage().Pixels()[y * W + x])
          << "focal object changed at " << x << "," << y;
    }
  }
  // Nearer: the ground along the bottom. Farther: the last sphere.
  const double nearBefore = Detail(original, 0, H - 12, W, H);
  EXPECT_LT(Detail(filtered, 0, H - 12, W, H), 0.5 * nearBefore);
  const PixelPosition far = centreOf(DemoShapes().back());
  const double farBefore = Detail(original, far.x - 12, far.y - 12, far.x + 12, far.y + 12);
  EXPECT_GT(farBefore, 0.0);
  EXPECT_LT(Detail(filtered, far.x - 12, far.y - 12, far.x + 12, far.y + 12), 0.3 * farBefore);
}

// A 31 x 17 render: columns alternate dark and bright; the left part stands
// at depth 2, the right part at depth 20, a top-right block is sky.
Image StripedRender() {
  Image image{Bitmap(31, 17), {true, 1.0f}};
  BitmapStorage& storage = image.Storage();
  storage.CreateChannels(CHANNEL_Z | CHANNEL_OBJ_ID);
  for (int y = 0; y < 17; ++y) {
    for (int x = 0; x < 31; ++x) {
      const int i = y * 31 + x;
      const bool bright = x % 2 == 0;
      storage.Pixels()[i] = {LightToChannel(bright ? 0.9f : 0.1f, image.encoding),
                             LightToChannel(bright ? 0.2f : 0.7f, image.encoding),
                             LightToChannel(0.02f * y, image.encoding), CHANNEL_MAX};
      const bool sky = x > 25 && y < 4;
      storage.ZChannel()[i] = sky ? Z_BACKGROUND : x < 15 ? -2.0f : -20.0f;
      storage.ObjChannel()[i] = x < 15 ? 1 : 2;
    }
  }
  return image;
}

float LightAt(const Image& image, int x, int y) {
  return ChannelToLight(image.Storage().Pixels()[y * image.Width() + x].r, image.encoding);
}

TEST(KestrionCli, RenderFocusesAnExrByDepthOrPixel) {
  ScratchDirectory dir;
  test_files::Save(StripedRender(), dir / "in.exr");
  WriteText(dir / "settings.json", R"({"focusDepth": 20, "range": 5, "size": 2})");
  const Image source = ReadExr(dir / "in.exr");

  // The command line's depth overrides the file's: the near part is sharp.
  RunResult run = RunKestrion({"render", "in.exr", "-o", "near.exr", "-q", "--settings",
                               "settings.json", "--focus-depth", "2"},
                              dir / "");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const Image near = ReadExr(dir / "near.exr");
  // Focusing on the pixel (28, 12), which sees depth 20: the far part is sharp.
  run = RunKestrion({"render", "in.exr", "-o", "far.exr", "-q", "--focus-pixel", "28,12", "--range",
                     "5", "--size", "2"},
                    dir / "");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const Image far = ReadExr(dir / "far.exr");

  for (int y = 0; y < 17; ++y) {
    for (int x = 3; x < 12; ++x) {
      ASSERT_NEAR(LightAt(near, x, y), LightAt(source, x, y), 2e-3) << x << "," << y;
      ASSERT_LT(std::fabs(LightAt(far, x, y) - LightAt(far, x + 1, y)), 0.25f) << x << "," << y;
    }
    for (int x = 18; x < 28; ++x) {
      if (y < 6 && x > 23) continue;  // the sky and its blurred surroundings
      ASSERT_NEAR(LightAt(far, x, y), LightAt(source, x, y), 2e-3) << x << "," << y;
      ASSERT_LT(std::fabs(LightAt(near, x, y) - LightAt(near, x + 1, y)), 0.25f) << x << "," << y;
    }
  }
  // The renderer's channels pass through to the output.
  EXPECT_EQ(far.Storage().ZChannel()[12 * 31 + 28], -20.0f);
  EXPECT_EQ(far.Storage().ZChannel()[0 * 31 + 30], Z_BACKGROUND);
  EXPECT_EQ(far.Storage().ObjChannel()[5 * 31 + 3], 1);
}

TEST(KestrionCli, FailuresReportOneLineAndLeaveFilesAlone) {
  ScratchDirectory dir;
  const std::string precious = "precious bytes\x01\x02";
  WriteText(dir / "out.png", precious);
  Image plain = StripedRender();
  plain.Storage().RemoveChannels(CHANNEL_OBJ_ID);
  test_files::Save(plain, dir / "plain.exr");
  struct Case {
    std::vector<std::string> args;
    std::string mentions;
    int exitCode;  // 0: any failure
  };
  const std::vector<Case> cases = {
      {{"render", "missing.exr", "-o", "out.png", "--focus-depth", "3"}, "missing.exr", 1},
      {{"render", "plain.exr", "-o", "out.png", "--focus-depth", "3", "--source", "object:2"},
       "object ID",
       1},
      {{"render", "plain.exr", "-o", "out.png", "--focus-pixel", "31,0"}, "outside", 2},
      {{"render", "plain.exr", "-o", "out.png"}, "--focus-depth", 2},
      {{"demo", "-q", "-o", "out.png", "--focus", "Nobody"}, "Nobody", 0},
      {{"demo", "-q", "-o", "out.bmp"}, "out.bmp", 2},
      {{"demo", "-q", "-o", "no/such/dir/out.png"}, "no/such/dir/out.png", 1},
      {{"demo", "-q", "-o", "out.png", "--size", "0.5"}, "size", 2},
      {{"demo", "--frobnicate"}, "frobnicate", 2},
      {{"info", "--module", "plain.exr"}, "plain.exr", 1},
  };
  for (const Case& c : cases) {
    const RunResult run = RunKestrion(c.args, dir / "");
    const std::string command = c.args[0] + " " + c.args[1] + " " + c.args.back();
    if (c.exitCode) {
      EXPECT_EQ(run.exitCode, c.exitCode) << command << ": " << run.err;
    } else {
      EXPECT_NE(run.exitCode, 0) << command;
    }
    EXPECT_EQ(Lines(run.err), 1u) << command << ": " << run.err;
    EXPECT_EQ(run.err.rfind("kestrion: ", 0), 0u) << command << ": " << run.err;
    EXPECT_NE(run.err.find(c.mentions), std::string::npos) << command << ": " << run.err;
    EXPECT_EQ(ReadText(dir / "out.png"), precious) << command;
  }
  // The filter's own complaint about a missing focal object reaches the user.
  const RunResult unnamed = RunKestrion(
      {"demo", "-q", "--width", "33", "--height", "21", "-o", "out.png", "--focus", ""}, dir / "");
  EXPECT_NE(unnamed.exitCode, 0);
  EXPECT_NE(unnamed.err.find("Error : Object undefined!"), std::string::npos) << unnamed.err;
  EXPECT_EQ(ReadText(dir / "out.png"), precious);

  std::vector<std::string> entries = dir.Entries();
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"out.png", "plain.exr"})) << "files left behind";
}

TEST(KestrionCli, CtrlCAbortsWithoutWritingOutput) {
  ScratchDirectory dir;
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const int devNull = open("/dev/null", O_WRONLY);
  // The signal goes at the filter's first progress line (row 0). A frame of
  // 2560 x 1440 with a heavy blur keeps the filter at work for seconds
  // after it, far longer than a signal takes to arrive on a loaded machine;
  // an abort stops it within a row, so the test itself stays quick.
  const pid_t pid = test_files::StartKestrion(
      {"demo", "--width", "2560", "--height", "1440", "--size", "60", "-o", "big.png"}, dir / "",
      devNull, pipeFds[1]);
  close(pipeFds[1]);
  close(devNull);
  ASSERT_GT(pid, 0);
  std::string err;
  char buffer[256];
  bool signalled = false;
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    err.append(buffer, static_cast<size_t>(n));
    if (!signalled && err.find("filtering 0%") != std::string::npos) {
      kill(pid, SIGINT);
      signalled = true;
    }
  }
  close(pipeFds[0]);
  const int code = test_files::WaitForExit(pid);
  ASSERT_TRUE(signalled) << err;
  EXPECT_EQ(code, 130) << err;
  EXPECT_NE(err.find("kestrion: aborted"), std::string::npos) << err;
  EXPECT_EQ(err.find("100%"), std::string::npos) << err;
  EXPECT_TRUE(dir.Entries().empty()) << "output written after an abort";
}

// Runs kestrion in `dir` with stdout, stderr or both going into a pipe
// nobody reads (as `kestrion ... | true` or `2>&1 | head -n 1` leave them),
// the other to a file.
RunResult RunIntoClosedPipe(const std::vector<std::string>& args, const std::string& dir,
                            bool closeStdout, bool closeStderr) {
  int closed[2];
  if (pipe(closed) != 0) return {-1, "", "no pipe"};
  close(closed[0]);
  ScratchDirectory logs;
  const int out = open((logs / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = open((logs / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const pid_t pid = test_files::StartKestrion(args, dir, closeStdout ? closed[1] : out,
                                              closeStderr ? closed[1] : err);
  close(closed[1]);
  close(out);
  close(err);
  if (pid < 0) return {-1, "", "could not start kestrion"};
  const int code = test_files::WaitForExit(pid);
  return {code, ReadText(logs / "out"), ReadText(logs / "err")};
}

std::vector<std::string> SortedEntries(const ScratchDirectory& dir) {
  std::vector<std::string> entries = dir.Entries();
  std::sort(entries.begin(), entries.end());
  return entries;
}

TEST(KestrionCli, ExitStatusSaysWhetherTheOutputWasWritten) {
  ScratchDirectory dir;
  test_files::Save(StripedRender(), dir / "in.exr");
  const std::vector<std::string> render = {"render",  "in.exr",        "-o",
                                           "out.exr", "--focus-depth", "2"};
  // The frame written, then the report line into a closed pipe: done.
  for (const bool json : {false, true}) {
    std::filesystem::remove(dir / "out.exr");
    std::vector<std::string> args = render;
    args.push_back("-q");
    if (json) args.insert(args.end(), {"--report", "json"});
    const RunResult run = RunIntoClosedPipe(args, dir / "", true, false);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("warning: cannot write the report to standard output"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadExr(dir / "out.exr").Width(), 31) << "json " << json;
  }
  // Progress into a closed pipe does not stop the run either.
  std::filesystem::remove(dir / "out.exr");
  const RunResult progress = RunIntoClosedPipe(render, dir / "", false, true);
  EXPECT_EQ(progress.exitCode, 0);
  EXPECT_NE(progress.out.find("wrote out.exr"), std::string::npos) << progress.out;
  EXPECT_EQ(ReadExr(dir / "out.exr").Width(), 31);

  // A write that fails (a file-size limit) before the commit is a failure,
  // and the existing output stays as it was.
  const std::string before = ReadText(dir / "out.exr");
  rlimit previous{};
  getrlimit(RLIMIT_FSIZE, &previous);
  rlimit small = previous;
  small.rlim_cur = 256;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const RunResult limited = RunKestrion(
      {"render", "in.exr", "-o", "out.exr", "--focus-depth", "20", "-q", "--focus-map", "map.png"},
      dir / "");
  setrlimit(RLIMIT_FSIZE, &previous);
  EXPECT_EQ(limited.exitCode, 1) << limited.err;
  EXPECT_EQ(limited.err.rfind("kestrion: out.exr: ", 0), 0u) << limited.err;
  EXPECT_EQ(Lines(limited.err), 1u) << limited.err;
  EXPECT_EQ(ReadText(dir / "out.exr"), before);
  EXPECT_EQ(SortedEntries(dir), (std::vector<std::string>{"in.exr", "out.exr"}));
}

// Fills a pipe, so that the next write into it blocks until it is read.
void FillPipe(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETPIPE_SZ, 4096);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  const char byte = '.';
  while (write(fd, &byte, 1) == 1) {
  }
  fcntl(fd, F_SETFL, flags);
}

// Whether `pid` waits in a write(2) to its stderr.
bool BlockedWritingStderr(pid_t pid) {
  return ReadText("/proc/" + std::to_string(pid) + "/syscall").rfind("1 0x2 ", 0) == 0;
}

// The signal comes while the run is surely at work: it is held in its first
// progress line, written into a full pipe, until the signal has come.
TEST(KestrionCli, ASignalDuringTheRunLeavesEveryFileAsItWas) {
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    ScratchDirectory dir;
    test_files::Save(StripedRender(), dir / "in.exr");
    WriteText(dir / "out.png", "the previous output");
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    FillPipe(err[1]);
    const int devNull = open("/dev/null", O_WRONLY);
    const pid_t pid = test_files::StartKestrion(
        {"render", "in.exr", "-o", "out.png", "--focus-depth", "2", "--focus-map", "map.png"},
        dir / "", devNull, err[1]);
    close(devNull);
    close(err[1]);
    ASSERT_GT(pid, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!BlockedWritingStderr(pid) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const bool blocked = BlockedWritingStderr(pid);
    kill(pid, signal);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    close(err[0]);
    const int code = test_files::WaitForExit(pid);
    ASSERT_TRUE(blocked) << "kestrion never wrote its progress";
    EXPECT_EQ(code, 128 + signal);
    EXPECT_NE(text.find("kestrion: aborted"), std::string::npos) << "signal " << signal;
    EXPECT_EQ(text.find("writing"), std::string::npos) << "signal " << signal;
    EXPECT_EQ(ReadText(dir / "out.png"), "the previous output");
    EXPECT_EQ(SortedEntries(dir), (std::vector<std::string>{"in.exr", "out.png"}));
  }
}

}  // namespace
}  // namespace kestrion
