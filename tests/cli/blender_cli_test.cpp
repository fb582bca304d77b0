// Renders laid out as Blender writes them, through the built kestrion as a
// new user runs it: inspect and render with the sky as background, focus
// by an object's name, data passes passed through, output folders made,
// and a dolly shot whose focus object leaves the frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "formats/exr_document.h"
#include "formats/review_io.h"
#include "tests/support/blender_renders.h"
#include "tests/support/run_kestrion.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::BlenderLayer;
using test_files::BlenderObject;
using test_files::BlenderRender;
using test_files::RunKestrion;
using test_files::RunResult;
using test_files::ScratchDirectory;

BlenderObject Monkey(float depth) {
  return {"Monkey", 6, 4, 12, 10, 0.4f, depth, {8.0f, 6.0f, 3.0f}, 0.0f, 1.0f};
}

// A monkey (an emitter, brighter than 1) and a cube over the ground under
// a transparent sky, and a second view layer with the monkey alone.
BlenderRender Scene(bool withMonkey = true, float monkeyDepth = 4.0f) {
  BlenderRender render;
  render.transparentFilm = true;
  render.halfColour = true;
  BlenderLayer& layer = render.layers.front();
  layer.objects = {{"Ground", 0, 11, 24, 16, 0.0f, 9.0f, {0.3f, 0.5f, 0.2f}, 0.0f, 0.0f},
                   {"Cube", 12, 2, 20, 9, 0.0f, 6.5f, {0.2f, 0.2f, 0.8f}, 0.0f, 2.0f}};
  if (withMonkey) layer.objects.push_back(Monkey(monkeyDepth));
  BlenderLayer fg;
  fg.name = "Fg";
  if (withMonkey) fg.objects = {Monkey(monkeyDepth)};
  render.layers.push_back(fg);
  return render;
}

// Every channel's bytes by name.
std::map<std::string, std::string> ChannelBytes(const std::string& path) {
  std::map<std::string, std::string> bytes;
  const ExrDocument document = ReadExrDocument(path);
  for (const ExrChannel& channel : document.parts.at(0).channels) {
    bytes[channel.name] = std::string(channel.Bytes(), channel.ByteSize());
  }
  return bytes;
}

// The names of the channels whose samples differ between two files with
// the same channels.
std::vector<std::string> Differing(const std::string& a, const std::string& b) {
  const auto first = ChannelBytes(a);
  const auto second = ChannelBytes(b);
  std::vector<std::string> names;
  for (const auto& [name, bytes] : first) {
    if (!second.count(name) || second.at(name) != bytes) names.push_back(name);
  }
  if (first.size() != second.size()) names.push_back("(the channels differ)");
  return names;
}

TEST(BlenderCli, AFrameRendersAsANewUserRunsIt) {
  ScratchDirectory dir;
  test_files::WriteBlenderRender(dir / "scene.exr", Scene());

  // inspect takes render's depth options, and counts the sky as background.
  const RunResult inspect = RunKestrion(
      {"inspect", "scene.exr", "--layer", "ViewLayer.Combined", "--background-depth", "1e10"},
      dir / "");
  ASSERT_EQ(inspect.exitCode, 0) << inspect.err;
  EXPECT_NE(inspect.out.find("depth: 4 to 9, background"), std::string::npos) << inspect.out;

  const RunResult run = RunKestrion(
      {"render", "scene.exr", "-o", "look/seq2/soft.exr", "--layer", "ViewLayer.Combined",
       "--focus-object", "Monkey", "--range", "3", "--size", "10%", "--layers", "all",
       "--focus-map", "maps/focus.png", "--report", "json", "-q"},
      dir / "");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json report = nlohmann::json::parse(run.out);
  EXPECT_EQ(report["focusDepth"], 4.0);
  EXPECT_FLOAT_EQ(report["size"].get<float>(), 2.4f);  // 10 % of 24 pixels

  // Only this view layer's colour layers are filtered; its data passes and
  // the other view layer come back bit for bit.
  EXPECT_EQ(Differing(dir / "scene.exr", dir / "look/seq2/soft.exr"),
            (std::vector<std::string>{"ViewLayer.Combined.A", "ViewLayer.Combined.B",
                                      "ViewLayer.Combined.G", "ViewLayer.Combined.R",
                                      "ViewLayer.DiffCol.B", "ViewLayer.DiffCol.G",
                                      "ViewLayer.DiffCol.R"}));

  // The focus map: the monkey sharp (green), the sky blue, not white.
  const FramePlanes map = ReadReviewImage(dir / "maps/focus.png");
  const size_t monkey = 6 * 24 + 8, sky = 1 * 24 + 1;
  EXPECT_EQ(map.colour[0][monkey], 0.0f);
  EXPECT_EQ(map.colour[1][monkey], 1.0f);
  EXPECT_LT(map.colour[0][sky], 0.5f * map.colour[2][sky]);

  // A review image flattened over black shows the bright monkey as bright;
  // review looks are refused for OpenEXR output.
  const RunResult review = RunKestrion(
      {"render", "scene.exr", "-o", "review.png", "--layer", "ViewLayer.Combined", "--focus-depth",
       "20", "--size", "3", "--flatten", "black", "--exposure", "-1", "--display", "soft", "-q"},
      dir / "");
  ASSERT_EQ(review.exitCode, 0) << review.err;
  const FramePlanes flat = ReadReviewImage(dir / "review.png");
  EXPECT_FALSE(flat.alpha);
  EXPECT_GT(flat.colour[0][monkey], 0.8f);
  const RunResult refused =
      RunKestrion({"render", "scene.exr", "-o", "x.exr", "--layer", "ViewLayer.Combined",
                   "--focus-depth", "4", "--flatten", "white"},
                  dir / "");
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.err.find("review images"), std::string::npos) << refused.err;
}

TEST(BlenderCli, AnOutputFolderThatCannotBeMadeFailsBeforeAnythingIsRead) {
  ScratchDirectory dir;
  test_files::WriteText(dir / "blocked", "a file, not a folder");
  const RunResult run = RunKestrion(
      {"render", "missing.exr", "-o", "blocked/seq/out.exr", "--focus-depth", "4"}, dir / "");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(test_files::Lines(run.err), 1u) << run.err;
  EXPECT_NE(run.err.find("blocked: cannot make the folder"), std::string::npos) << run.err;
}

// Frame f of a dolly shot: the monkey comes nearer frame by frame, and is
// out of the frame in frames 1, 6 and 7.
float MonkeyDepth(int frame) { return 10.0f - static_cast<float>(frame); }
bool MonkeyInFrame(int frame) { return frame != 1 && frame != 6 && frame != 7; }

std::vector<nlohmann::ordered_json> JsonLines(const std::string& text) {
  std::vector<nlohmann::ordered_json> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(nlohmann::ordered_json::parse(text.substr(start, end - start)));
  }
  return lines;
}

std::vector<std::string> Keys(const nlohmann::ordered_json& line) {
  std::vector<std::string> keys;
  for (const auto& item : line.items()) keys.push_back(item.key());
  return keys;
}

TEST(BlenderShot, TheFocusHoldsWhileItsObjectIsOffScreen) {
  ScratchDirectory dir;
  for (int f = 1; f <= 8; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "plate.%04d.exr", f);
    test_files::WriteBlenderRender(dir / name, Scene(MonkeyInFrame(f), MonkeyDepth(f)));
  }
  const std::vector<std::string> shot = {"render",
                                         "plate.####.exr",
                                         "-o",
                                         "out/soft.####.exr",
                                         "--layer",
                                         "ViewLayer.Combined",
                                         "--focus-object",
                                         "Monkey",
                                         "--range",
                                         "3",
                                         "--size",
                                         "2",
                                         "--jobs",
                                         "2",
                                         "--report",
                                         "json",
                                         "-q"};
  const RunResult run = RunKestrion(shot, dir / "");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 8u) << run.out;
  for (int f = 1; f <= 8; ++f) {
    SCOPED_TRACE("frame " + std::to_string(f));
    const nlohmann::ordered_json& line = lines[static_cast<size_t>(f - 1)];
    EXPECT_EQ(line["status"], "done");
    // A leading frame takes the next frame's focus, later ones the last.
    const int from = f == 1 ? 2 : (f == 6 || f == 7) ? 5 : f;
    EXPECT_EQ(line["focusDepth"].get<float>(), MonkeyDepth(from));
  }
  EXPECT_NE(run.err.find("frame 6: object 'Monkey' is not in the Cryptomatte manifest"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("holding the focal depth 5 of frame 5"), std::string::npos) << run.err;

  // A frame of the shot is the frame rendered on its own.
  const RunResult single =
      RunKestrion({"render", "plate.0003.exr", "-o", "single.exr", "--frame", "3", "--layer",
                   "ViewLayer.Combined", "--focus-object", "Monkey", "--range", "3", "--size", "2",
                   "--report", "json", "-q"},
                  dir / "");
  ASSERT_EQ(single.exitCode, 0) << single.err;
  EXPECT_EQ(Differing(dir / "single.exr", dir / "out/soft.0003.exr"), std::vector<std::string>{});
  // Its report has the shot's keys, in the same order, as do the lines the
  // shot makes itself (a skipped frame, a missing one).
  const std::vector<std::string> keys = Keys(JsonLines(single.out).at(0));
  EXPECT_EQ(Keys(lines[2]), keys);
  std::vector<std::string> again = shot;
  again.insert(again.end(), {"--skip-existing", "--frames", "7-9"});
  const auto restarted = JsonLines(RunKestrion(again, dir / "").out);
  ASSERT_EQ(restarted.size(), 3u);
  EXPECT_EQ(restarted[0]["status"], "skipped");
  EXPECT_EQ(restarted[2]["status"], "failed");
  for (const auto& line : restarted) EXPECT_EQ(Keys(line), keys) << line.dump();

  // Without holding, the frames without the monkey fail, each alone, and
  // so does a frame rendered on its own.
  std::vector<std::string> failing = shot;
  std::replace(failing.begin(), failing.end(), std::string("out/soft.####.exr"),
               std::string("failing/s.####.exr"));
  failing.insert(failing.end(), {"--focus-missing", "fail"});
  const RunResult failed = RunKestrion(failing, dir / "");
  EXPECT_EQ(failed.exitCode, 1);
  const auto failedLines = JsonLines(failed.out);
  ASSERT_EQ(failedLines.size(), 8u);
  for (int f = 1; f <= 8; ++f) {
    EXPECT_EQ(failedLines[static_cast<size_t>(f - 1)]["status"],
              MonkeyInFrame(f) ? "done" : "failed")
        << f;
  }
  EXPECT_EQ(RunKestrion({"render", "plate.0006.exr", "-o", "alone.exr", "--layer",
                         "ViewLayer.Combined", "--focus-object", "Monkey"},
                        dir / "")
                .exitCode,
            1);
}

}  // namespace
}  // namespace kestrion
