// Values a user types, through the built kestrion: every numeric option
// reads its text strictly, a bad value is one bounded line naming the
// option with the usage exit code, and nothing is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "base/frame_numbers.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/run_kestrion.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::Lines;
using test_files::RunKestrion;
using test_files::RunResult;
using test_files::ScratchDirectory;

// A 7 x 5 render with colour, depth and object IDs.
void WriteScene(const std::string& path) {
  test_files::WriteExrFile(path, {test_files::Part("", {{0, 0}, {6, 4}}, {{0, 0}, {6, 4}},
                                                   {{"R", Imf::HALF},
                                                    {"G", Imf::HALF},
                                                    {"B", Imf::HALF},
                                                    {"Z", Imf::FLOAT},
                                                    {"objectId", Imf::FLOAT}})});
}

struct Case {
  std::vector<std::string> args;  // after "render scene.exr -o out.exr -q"
  std::string start;              // of stderr, after "kestrion: "
};

TEST(OptionValues, BadNumbersAreUsageErrorsThatSayWhy) {
  ScratchDirectory dir;
  WriteScene(dir / "scene.exr");
  // The scene renders with good values, so each failure below is the value's.
  const RunResult good =
      RunKestrion({"render", "scene.exr", "-o", "good.exr", "-q", "--focus-depth", "4", "--frame",
                   "010", "--threads", "2", "--range", "1:6,9:2.5"},
                  dir / "");
  ASSERT_EQ(good.exitCode, 0) << good.err;
  std::filesystem::remove(dir / "good.exr");

  const std::vector<Case> cases = {
      {{"--focus-depth", ""}, "--focus-depth: '' is empty"},
      {{"--focus-depth", "0x10"}, "--focus-depth: '0x10' is hexadecimal; write it in decimal"},
      {{"--focus-depth", " 10"}, "--focus-depth: ' 10' holds a space"},
      {{"--focus-depth", "1:4,5:1e400"}, "--focus-depth: key '5:1e400': the value is out of range"},
      {{"--focus-depth", "4", "--range", "0x1:6"},
       "--range: key '0x1:6': the frame is hexadecimal"},
      {{"--focus-depth", "4", "--size", "1e-400"}, "--size: '1e-400' is too close to 0"},
      {{"--focus-depth", "4", "--frame", "0x10"}, "--frame: '0x10' is hexadecimal"},
      {{"--focus-depth", "4", "--frame", "10000000"}, "--frame: frame 10000000 is outside 0 to"},
      {{"--focus-object", "3.7"}, "--focus-object: '3.7' is not a whole number"},
      {{"--focus-object", "65536"}, "--focus-object: object ID 65536 is outside 0 to 65535"},
      {{"--focus-pixel", "3, 2"}, "--focus-pixel: '3, 2': Y holds a space"},
      {{"--focus-depth", "4", "--threads", "-1"}, "--threads: '-1' is outside 0 to 1024"},
      {{"--focus-depth", "4", "--bit-depth", "+8"}, "--bit-depth: '+8' is not a whole number"},
      {{"--focus-depth", "4", "--depth-near", "0x1p3"}, "--depth-near: '0x1p3' is hexadecimal"},
      {{"--focus-depth", "4", "--background-depth", "1e10x"},
       "--background-depth: '1e10x' is not a number"},
      {{"--focus-depth", "4", "--source", "object:0x3"},
       "source 'object:0x3': the ID '0x3' is hexadecimal"},
      // A long or hostile value is quoted in part, escaped, on one line.
      {{"--focus-depth", "4", "--alpha", std::string(100000, 'x')},
       "--alpha: '" + std::string(80, 'x') + "...' is not one of"},
      {{"--focus-depth", "4", "--source", "object:1\n\x1b[2J"},
       "source 'object:1\\n\\x1b[2J': the ID '1\\n\\x1b[2J' holds white space"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"render", "scene.exr", "-o", "out.exr", "-q"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const std::string label = c.args.size() > 2 ? c.args[2] : c.args[0];
    SCOPED_TRACE(label + " " + c.args.back().substr(0, 20));
    const RunResult run = RunKestrion(args, dir / "");
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_EQ(run.err.rfind("kestrion: " + c.start, 0), 0u) << run.err.substr(0, 300);
    EXPECT_EQ(Lines(run.err), 1u) << run.err.substr(0, 300);
    EXPECT_LT(run.err.size(), 250u) << run.err.substr(0, 300);
    EXPECT_TRUE(std::none_of(run.err.begin(), run.err.end() - 1,
                             [](char ch) { return ch >= 0 && ch < 0x20; }))
        << "a raw control character in: " << run.err.substr(0, 300);
  }
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"scene.exr"}) << "something was written";
}

TEST(OptionValues, ShotDemoAndInspectNumbersAreAsStrict) {
  ScratchDirectory dir;
  WriteScene(dir / "in.0001.exr");
  WriteScene(dir / "scene.exr");
  const std::vector<Case> cases = {
      {{"render", "in.####.exr", "-o", "out.####.exr", "--focus-depth", "4", "--frames", "1-1e3"},
       "--frames: '1-1e3' is not a frame list"},
      {{"render", "in.####.exr", "-o", "out.####.exr", "--focus-depth", "4", "--chunk", "1/ 2"},
       "--chunk: '1/ 2' does not end in a number of chunks"},
      {{"render", "in.####.exr", "-o", "out.####.exr", "--focus-depth", "4", "--jobs", "0"},
       "--jobs: '0' is outside 1 to 1024"},
      {{"demo", "-q", "-o", "demo.png", "--width", "0x100"}, "--width: '0x100' is hexadecimal"},
      {{"demo", "-q", "-o", "demo.png", "--height", ""}, "--height: '' is empty"},
      {{"demo", "-q", "-o", "demo.png", "--height", "8193"},
       "--height: '8193' is outside 1 to 8192"},
      {{"demo", "-q", "-o", "demo.png", "--size", "12px"}, "--size: '12px' is not a number"},
      {{"inspect", "scene.exr", "--pixel", "1,2,3"}, "--pixel: '1,2,3': Y is not a whole number"},
      {{"inspect", "scene.exr", "--pixel", "1:2,3"}, "--pixel: '1:2,3' is not X,Y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[c.args.size() - 2] + " " + c.args.back());
    const RunResult run = RunKestrion(c.args, dir / "");
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_EQ(run.err.rfind("kestrion: " + c.start, 0), 0u) << run.err;
    EXPECT_EQ(Lines(run.err), 1u) << run.err;
  }
  std::vector<std::string> entries = dir.Entries();
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"in.0001.exr", "scene.exr"}));
}

// Every way to give a frame number takes the same frames: the last one is
// accepted (the runs below then fail for their missing input, exit 1), the
// one after it is refused as usage, with the same words.
TEST(OptionValues, EveryWayToGiveAFrameHasTheOneLimit) {
  ScratchDirectory dir;
  test_files::WriteText(dir / ("disk." + std::to_string(FRAME_MAX + 1) + ".exr"), "");
  const auto cases = [](const std::string& n, const std::string& dirPath) {
    test_files::WriteText(dirPath + "/keys-" + n + ".json", "{\"range\": [[" + n + ", 5]]}");
    const std::vector<std::string> one = {"render", "none.exr", "-o", "out.exr", "-q"};
    const std::vector<std::string> shot = {"render", "none.####.exr", "-o", "out.####.exr",
                                           "-q",     "--focus-depth", "4"};
    auto with = [](std::vector<std::string> words, std::vector<std::string> more) {
      words.insert(words.end(), more.begin(), more.end());
      return words;
    };
    return std::vector<std::vector<std::string>>{
        with(one, {"--focus-depth", "4", "--frame", n}),
        with(one, {"--focus-depth", n + ":4"}),
        with(one, {"--focus-pixel", n + ":1,1"}),
        with(one, {"--focus-depth", "4", "--range", "0:4," + n + ":5"}),
        with(one, {"--focus-depth", "4", "--settings", "keys-" + n + ".json"}),
        with(shot, {"--frames", "1," + n}),
        with(shot, {"--frames", "1-" + n + "x" + std::to_string(FRAME_MAX)}),
    };
  };
  const std::string last = std::to_string(FRAME_MAX);
  const std::string beyond = std::to_string(FRAME_MAX + 1);
  for (const auto& words : cases(last, dir / "")) {
    const RunResult run = RunKestrion(words, dir / "");
    EXPECT_EQ(run.exitCode, 1) << words[words.size() - 2] << " " << words.back() << ": " << run.err;
  }
  for (const auto& words : cases(beyond, dir / "")) {
    const RunResult run = RunKestrion(words, dir / "");
    EXPECT_EQ(run.exitCode, 2) << words.back() << ": " << run.err;
    EXPECT_NE(run.err.find("frame " + beyond + " is outside 0 to " + last), std::string::npos)
        << run.err;
    EXPECT_EQ(Lines(run.err), 1u) << run.err;
  }
  // A frame on disk beyond the limit, and more chunks than a shot can have.
  const RunResult disk = RunKestrion(
      {"render", "disk.####.exr", "-o", "out.####.exr", "--focus-depth", "4"}, dir / "");
  EXPECT_EQ(disk.exitCode, 2) << disk.err;
  EXPECT_EQ(disk.err, "kestrion: disk." + beyond + ".exr: frame " + beyond + " is outside 0 to " +
                          last + "; give --frames to leave it out\n");
  for (const auto& [chunk, code] : {std::pair{"1/10000000", 1}, std::pair{"1/10000001", 2}}) {
    const RunResult run = RunKestrion({"render", "none.####.exr", "-o", "out.####.exr", "-q",
                                       "--focus-depth", "4", "--frames", "1", "--chunk", chunk},
                                      dir / "");
    EXPECT_EQ(run.exitCode, code) << chunk << ": " << run.err;
  }
}

// Settings files through the command: the usage exit code for what is not
// a settings file, with the JSON report line of the failed frame.
TEST(OptionValues, SettingsThatAreNotSettingsFilesFailTheFrameAsUsage) {
  ScratchDirectory dir;
  WriteScene(dir / "scene.exr");
  std::filesystem::create_directory(dir / "settings");
  test_files::WriteText(dir / "big.json", "{\n  \"focusDepth\": 1e400\n}");
  for (auto [file, error] : std::initializer_list<std::pair<const char*, const char*>>{
           {"settings", "settings: not a regular file"},
           {"/dev/zero", "/dev/zero: not a regular file"},
           {"big.json", "big.json: line 2, column 17: the number 1e400 is out of range"}}) {
    const RunResult run = RunKestrion(
        {"render", "scene.exr", "-o", "out.exr", "-q", "--settings", file, "--report", "json"},
        dir / "");
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_EQ(run.err, std::string("kestrion: ") + error + "\n");
    const nlohmann::json report = nlohmann::json::parse(run.out);
    EXPECT_EQ(report["status"], "failed");
    EXPECT_EQ(report["error"], error);
  }
}

// A file name need not be UTF-8: a shot whose frames are missing still
// reports each of them as a JSON line, and says so on one printable line.
TEST(OptionValues, FileNamesThatAreNotUtf8AreReportedLikeAnyOther) {
  ScratchDirectory dir;
  const RunResult run = RunKestrion({"render", "in\xe9.####.exr", "-o", "out.####.exr", "--frames",
                                     "1-2", "--focus-depth", "4", "--report", "json", "-q"},
                                    dir / "");
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(run.err, "kestrion: in\\xe9.####.exr: missing input frames 1, 2\n");
  ASSERT_EQ(Lines(run.out), 2u) << run.out;
  const nlohmann::json first = nlohmann::json::parse(run.out.substr(0, run.out.find('\n')));
  EXPECT_EQ(first["status"], "failed");
  EXPECT_EQ(first["frame"], 1);
}

}  // namespace
}  // namespace kestrion
