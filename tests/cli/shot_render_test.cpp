// One frame of a shot through the built kestrion: keys read at --frame,
// focus on an object that moves in depth, the JSON report line and the
// focus map.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "formats/exr_document.h"
#include "formats/png_io.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/run_kestrion.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using nlohmann::json;
using test_files::ExrChannelLayout;
using test_files::RunKestrion;
using test_files::RunResult;
using test_files::ScratchDirectory;

constexpr int WIDTH = 32;
constexpr int HEIGHT = 20;
constexpr uint32_t OBJECT = 7;

// The object: a block whose depth moves with the frame; its top row lies
// far behind the rest (a few stray pixels a median ignores).
bool InObject(int x, int y) { return x >= 10 && x < 18 && y >= 5 && y < 13; }
bool Stray(int x, int y) { return InObject(x, y) && y == 5; }
float ObjectDepth(int frame) { return 5.0f + 4.0f * static_cast<float>(frame); }
constexpr float STRAY_BEHIND = 30.0f;

// Frame `frame` of a shot: the object (unless `withObject` is false) in
// front of a ground whose depth rises to the right, noisy colour.
void WriteShotFrame(const std::string& path, int frame, bool withObject = true,
                    bool withIds = true) {
  std::vector<ExrChannelLayout> channels = {
      {"R", Imf::FLOAT}, {"G", Imf::FLOAT}, {"B", Imf::FLOAT}, {"Z", Imf::FLOAT}};
  if (withIds) channels.push_back({"objectId", Imf::UINT});
  const Imath::Box2i window{{0, 0}, {WIDTH - 1, HEIGHT - 1}};
  test_files::WriteExrFile(path, {test_files::Part("", window, window, channels)},
                           [&](const std::string& name, int k, int x, int y) -> double {
                             const bool object = withObject && InObject(x, y);
                             if (name == "Z") {
                               if (!object) return 4.0 + 1.5 * x;
                               return ObjectDepth(frame) + (Stray(x, y) ? STRAY_BEHIND : 0.0f);
                             }
                             if (name == "objectId") return object ? OBJECT : 1;
                             return 0.1 + 0.8 * ((x * 7 + y * 13 + k * 3) % 5) / 4.0;
                           });
}

struct Rendered {
  RunResult run;
  json report;  // the one JSON line, null when there was none
};

Rendered Render(const ScratchDirectory& dir, std::vector<std::string> args) {
  args.insert(args.begin(), "render");
  args.push_back("-q");
  args.push_back("--report");
  args.push_back("json");
  Rendered result{RunKestrion(args, dir / ""), nullptr};
  EXPECT_EQ(test_files::Lines(result.run.out), 1u) << result.run.out << result.run.err;
  try {
    result.report = json::parse(result.run.out);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "not a JSON line: " << result.run.out;
  }
  return result;
}

std::vector<float> Samples(const std::string& path, const std::string& name) {
  std::vector<float> values;
  const ExrDocument document = ReadExrDocument(path);
  const ExrChannel* channel = document.parts.at(0).Find(name);
  if (!channel) {
    ADD_FAILURE() << path << ": no channel " << name;
    return values;
  }
  for (size_t i = 0; i < channel->Size(); ++i) values.push_back(channel->Value(i));
  return values;
}

// The shortest text that reads back as exactly this float.
std::string Exact(float value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

TEST(ShotRender, ReportedKeysAreInterpolatedAndRenderAsConstants) {
  ScratchDirectory dir;
  WriteShotFrame(dir / "in.exr", 0);
  const std::vector<std::string> keys = {"--range", "1:4,5:14",      "--size",
                                         "1:2,5:6", "--focus-depth", "1:6,5:26"};
  for (int frame = 0; frame <= 6; ++frame) {
    std::vector<std::string> args = {"in.exr", "-o", "keyed.exr", "--frame", std::to_string(frame)};
    args.insert(args.end(), keys.begin(), keys.end());
    const Rendered keyed = Render(dir, args);
    ASSERT_EQ(keyed.run.exitCode, 0) << keyed.run.err;
    const json& r = keyed.report;
    const float t = std::clamp((frame - 1) / 4.0f, 0.0f, 1.0f);
    EXPECT_EQ(r["frame"], frame);
    EXPECT_EQ(r["status"], "done");
    EXPECT_TRUE(r["error"].is_null());
    EXPECT_EQ(r["width"], WIDTH);
    EXPECT_FLOAT_EQ(r["range"].get<float>(), 4.0f + 10.0f * t) << "frame " << frame;
    EXPECT_FLOAT_EQ(r["size"].get<float>(), 2.0f + 4.0f * t) << "frame " << frame;
    EXPECT_FLOAT_EQ(r["focusDepth"].get<float>(), 6.0f + 20.0f * t) << "frame " << frame;

    const Rendered constant = Render(
        dir, {"in.exr", "-o", "constant.exr", "--range", Exact(r["range"].get<float>()), "--size",
              Exact(r["size"].get<float>()), "--focus-depth", Exact(r["focusDepth"].get<float>())});
    ASSERT_EQ(constant.run.exitCode, 0) << constant.run.err;
    for (const char* channel : {"R", "G", "B"}) {
      EXPECT_EQ(Samples(dir / "keyed.exr", channel), Samples(dir / "constant.exr", channel))
          << "frame " << frame << " channel " << channel;
    }
  }
}

TEST(ShotRender, FocusOnAnObjectFollowsItAndKeepsItSharp) {
  ScratchDirectory dir;
  constexpr int FRAMES = 5;
  for (int frame = 0; frame < FRAMES; ++frame) {
    const std::string in = "in." + std::to_string(frame) + ".exr";
    const std::string out = "out." + std::to_string(frame) + ".exr";
    WriteShotFrame(dir / in, frame);
    const Rendered rendered =
        Render(dir, {in, "-o", out, "--frame", std::to_string(frame), "--focus-object", "7",
                     "--range", "8", "--size", "4", "--focus-map", "map.png"});
    ASSERT_EQ(rendered.run.exitCode, 0) << rendered.run.err;
    EXPECT_FLOAT_EQ(rendered.report["focusDepth"].get<float>(), ObjectDepth(frame))
        << "the median ignores the stray pixels";

    const std::vector<float> before = Samples(dir / in, "R");
    const std::vector<float> after = Samples(dir / out, "R");
    const Image map = ReadPng(dir / "map.png");
    ASSERT_EQ(map.Width(), WIDTH);
    size_t changed = 0;
    for (int y = 0; y < HEIGHT; ++y) {
      for (int x = 0; x < WIDTH; ++x) {
        const size_t i = static_cast<size_t>(y) * WIDTH + x;
        const BMM_Color_64 shown = map.Storage().Pixels()[i];
        const bool green = shown.r == 0 && shown.b == 0 && shown.g > 0;
        if (InObject(x, y) && !Stray(x, y)) {
          EXPECT_NEAR(after[i], before[i], 1e-3 * before[i])
              << "frame " << frame << " (" << x << ", " << y << ")";
          EXPECT_TRUE(green) << "frame " << frame << " (" << x << ", " << y << ")";
        }
        changed += std::fabs(after[i] - before[i]) > 1e-2;
      }
    }
    EXPECT_GT(changed, 100u) << "frame " << frame << ": the rest of the frame was not blurred";
  }

  WriteShotFrame(dir / "in.2.exr", 2);
  for (const auto& [statistic, expected] :
       std::vector<std::pair<std::string, float>>{{"min", ObjectDepth(2)},
                                                  {"max", ObjectDepth(2) + STRAY_BEHIND},
                                                  {"mean", ObjectDepth(2) + STRAY_BEHIND / 8.0f}}) {
    const Rendered rendered = Render(
        dir, {"in.2.exr", "-o", "s.exr", "--focus-object", "7", "--focus-statistic", statistic});
    EXPECT_FLOAT_EQ(rendered.report["focusDepth"].get<float>(), expected) << statistic;
  }
}

TEST(ShotRender, AFrameWithoutItsFocusObjectFailsWithOneLineEachAndWritesNothing) {
  ScratchDirectory dir;
  WriteShotFrame(dir / "gone.exr", 6, false);
  WriteShotFrame(dir / "noids.exr", 6, true, false);
  for (const auto& [input, words] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"gone.exr", {"frame 6", "object 7"}},
           {"noids.exr", {"--focus-object", "ID channel"}}}) {
    const Rendered rendered = Render(dir, {input, "-o", "out.exr", "--frame", "6", "--focus-object",
                                           "7", "--focus-map", "map.png"});
    EXPECT_EQ(rendered.run.exitCode, 1);
    EXPECT_EQ(rendered.report["status"], "failed");
    EXPECT_EQ(rendered.report["frame"], 6);
    EXPECT_TRUE(rendered.report["focusDepth"].is_null());
    const std::string error = rendered.report["error"].get<std::string>();
    EXPECT_EQ(test_files::Lines(rendered.run.err), 1u) << rendered.run.err;
    for (const std::string& word : words) {
      EXPECT_NE(error.find(word), std::string::npos) << error;
      EXPECT_NE(rendered.run.err.find(word), std::string::npos) << rendered.run.err;
    }
  }
  const std::vector<std::string> entries = dir.Entries();
  EXPECT_EQ(entries.size(), 2u) << "something was written besides the inputs";
}

TEST(ShotRender, BadShotFilesAndKeysAreUsageErrorsBeforeAnyWork) {
  ScratchDirectory dir;
  WriteShotFrame(dir / "in.exr", 0);
  test_files::WriteText(dir / "shot.json", R"({"focusDepth": [[4, 5], [2, 9]]})");
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--shot", "shot.json"},
                                             {"--focus-depth", "3", "--range", "2:5,1:6"},
                                             {"--focus-depth", "3", "--frame", "-2"},
                                             {"--focus-depth", "3", "--frame", "x"},
                                             {"--focus-depth", "3", "--focus-object", "7"},
                                             {"--focus-depth", "3", "--size", "0:3,5:0"}}) {
    std::vector<std::string> words = {"in.exr", "-o", "out.exr", "--focus-map", "map.png"};
    words.insert(words.end(), args.begin(), args.end());
    const Rendered rendered = Render(dir, words);
    EXPECT_EQ(rendered.run.exitCode, 2) << args[0] << " " << args[1];
    EXPECT_EQ(rendered.report["status"], "failed");
    EXPECT_EQ(test_files::Lines(rendered.run.err), 1u) << rendered.run.err;
  }
  EXPECT_EQ(dir.Entries().size(), 2u) << "something was written";
}

}  // namespace
}  // namespace kestrion
