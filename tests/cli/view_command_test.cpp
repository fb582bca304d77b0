// `kestrion render` writing review images through a colour configuration's
// display and view: against the configuration library's own converter, the
// refusals, and the settings file's view.
#include <ImfRgbaFile.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "formats/display_view.h"
#include "formats/review_io.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/run_kestrion.h"
#include "tests/support/test_files.h"
#include "tests/support/view_config.h"

namespace kestrion {
namespace {

using test_files::RunKestrion;
using test_files::RunResult;
using test_files::ScratchDirectory;
using test_files::WriteText;

constexpr int WIDTH = 24;
constexpr int HEIGHT = 10;

// An opaque frame from black to well over 1, with a depth ramp.
double Sample(const std::string& name, int k, int x, int y) {
  if (name == "Z") return 2.0 + 0.5 * x;
  return std::pow(2.0, -8.0 + 0.45 * x + 0.2 * y) * (0.6 + 0.2 * k);
}

class ViewCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const Imath::Box2i window{{0, 0}, {WIDTH - 1, HEIGHT - 1}};
    test_files::WriteExrFile(
        dir / "in.exr",
        {test_files::Part(
            "", window, window,
            {{"R", Imf::FLOAT}, {"G", Imf::FLOAT}, {"B", Imf::FLOAT}, {"Z", Imf::FLOAT}})},
        Sample);
    std::filesystem::copy_file(test_files::SMALL_VIEW_CONFIG_PATH, dir / "small.ocio");
  }

  RunResult Render(const std::string& output, std::vector<std::string> more = {}) {
    std::vector<std::string> args{"render", "in.exr", "-o", output, "--focus-depth", "4", "--range",
                                  "6",      "--size", "2",  "-q"};
    args.insert(args.end(), more.begin(), more.end());
    return RunKestrion(args, dir / "");
  }

  // The message of a refused render, which must fail with exit code 2 and
  // write nothing.
  std::string Refused(std::vector<std::string> more, const std::string& output = "out.png") {
    const RunResult run = Render(output, std::move(more));
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / output));
    return run.err;
  }

  ScratchDirectory dir;
};

// Kestrion's 8-bit PNG through `config`'s display and view against what
// the configuration library's converter makes of the same render's
// OpenEXR output, within 1/255.
void ExpectConverterMatch(const ScratchDirectory& dir, const RunResult& run, const std::string& png,
                          const std::string& config, const std::string& display,
                          const std::string& view) {
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string reference = dir / (png + "-reference.exr");
  const std::string command = "cd '" + dir / "" + "' && OCIO='" + config +
                              "' ocioconvert --view plain.exr scene_linear '" + reference + "' '" +
                              display + "' '" + view + "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  Imf::RgbaInputFile file(reference.c_str());
  std::vector<Imf::Rgba> expected(WIDTH * HEIGHT);
  file.setFrameBuffer(expected.data(), 1, WIDTH);
  file.readPixels(0, HEIGHT - 1);
  const FramePlanes planes = ReadReviewImage(dir / png);
  // The file's samples again: decoding and the plain encode are inverses.
  const std::vector<uint8_t> got = ReviewPixels8(planes, png, ReviewLook{});
  ASSERT_EQ(got.size(), expected.size() * 4);
  for (size_t i = 0; i < expected.size(); ++i) {
    const float want[3] = {expected[i].r, expected[i].g, expected[i].b};
    for (int c = 0; c < 3; ++c) {
      const double wanted = 255.0 * std::clamp(static_cast<double>(want[c]), 0.0, 1.0);
      ASSERT_LE(std::abs(got[i * 4 + c] - wanted), 1.0) << "pixel " << i << " channel " << c;
    }
  }
}

TEST_F(ViewCommandTest, MatchesTheConfigurationLibrarysConverter) {
  ASSERT_EQ(Render("plain.exr").exitCode, 0);
  for (const char* view : {"Standard", "Dim"}) {
    SCOPED_TRACE(view);
    const std::string out = std::string(view) + ".png";
    ExpectConverterMatch(
        dir,
        Render(out, {"--ocio-config", "small.ocio", "--ocio-display", "sRGB", "--ocio-view", view}),
        out, "small.ocio", "sRGB", view);
  }
}

TEST_F(ViewCommandTest, MatchesTheConverterThroughBlendersConfiguration) {
  const std::vector<std::string> installed = InstalledBlenderConfigs();
  if (installed.empty()) GTEST_SKIP() << "Blender's colour configuration is not installed";
  const ViewNames names = ReadViewNames(installed.front());
  const std::string display = names.defaultDisplay;
  const auto& views = names.views[std::find(names.displays.begin(), names.displays.end(), display) -
                                  names.displays.begin()];
  ASSERT_EQ(Render("plain.exr").exitCode, 0);
  for (const std::string& view : views) {
    SCOPED_TRACE(view);
    const std::string out = "blender-" + std::to_string(&view - views.data()) + ".png";
    ExpectConverterMatch(dir,
                         Render(out, {"--ocio-config", installed.front(), "--ocio-display", display,
                                      "--ocio-view", view}),
                         out, installed.front(), display, view);
  }
}

TEST_F(ViewCommandTest, WithoutAConfigurationTheBuiltInEncodeStays) {
  ASSERT_EQ(Render("default.png").exitCode, 0);
  ASSERT_EQ(Render("none.png", {"--ocio-config", "none"}).exitCode, 0);
  ASSERT_EQ(Render("dim.png", {"--ocio-config", "small.ocio", "--ocio-view", "Dim"}).exitCode, 0);
  EXPECT_EQ(test_files::ReadText(dir / "default.png"), test_files::ReadText(dir / "none.png"));
  EXPECT_NE(test_files::ReadText(dir / "default.png"), test_files::ReadText(dir / "dim.png"));
}

TEST_F(ViewCommandTest, OcioEnvironmentChoosesTheConfigurationAndTheOptionOverridesIt) {
  ASSERT_EQ(Render("flag.png", {"--ocio-config", "small.ocio", "--ocio-view", "Dim"}).exitCode, 0);
  ASSERT_EQ(Render("plain.png").exitCode, 0);
  const auto withEnvironment = [&](const std::string& output, const std::string& more) {
    const std::string command =
        "cd '" + dir / "" + "' && env -u KESTRION_MODULE OCIO=small.ocio '" + KESTRION_APP_PATH +
        "' render in.exr --focus-depth 4 --range 6 --size 2 -q -o " + output + " " + more +
        " > /dev/null 2>&1";
    return std::system(command.c_str());
  };
  ASSERT_EQ(withEnvironment("env.png", "--ocio-view Dim"), 0);
  EXPECT_EQ(test_files::ReadText(dir / "env.png"), test_files::ReadText(dir / "flag.png"));
  ASSERT_EQ(withEnvironment("none.png", "--ocio-config none"), 0);
  EXPECT_EQ(test_files::ReadText(dir / "none.png"), test_files::ReadText(dir / "plain.png"));
}

// An installed Blender's configuration is the last choice: found under
// $KESTRION_BLENDER_DATA, and none when that is empty.
TEST_F(ViewCommandTest, AnInstalledBlendersConfigurationIsTheLastChoice) {
  std::filesystem::create_directories(dir / "blender/datafiles/colormanagement");
  std::filesystem::copy_file(dir / "small.ocio",
                             dir / "blender/datafiles/colormanagement/config.ocio");
  ASSERT_EQ(Render("flag.png", {"--ocio-config", "small.ocio"}).exitCode, 0);
  ASSERT_EQ(Render("plain.png").exitCode, 0);
  ASSERT_NE(test_files::ReadText(dir / "flag.png"), test_files::ReadText(dir / "plain.png"));
  const auto withBlender = [&](const std::string& output, const std::string& environment) {
    const std::string command = "cd '" + dir / "" + "' && env -u KESTRION_MODULE -u OCIO " +
                                environment + " '" + KESTRION_APP_PATH +
                                "' render in.exr --focus-depth 4 --range 6 --size 2 -q -o " +
                                output + " > /dev/null 2>&1";
    return std::system(command.c_str());
  };
  ASSERT_EQ(withBlender("blender.png", "KESTRION_BLENDER_DATA=blender"), 0);
  EXPECT_EQ(test_files::ReadText(dir / "blender.png"), test_files::ReadText(dir / "flag.png"));
  ASSERT_EQ(withBlender("empty.png", "KESTRION_BLENDER_DATA="), 0);
  EXPECT_EQ(test_files::ReadText(dir / "empty.png"), test_files::ReadText(dir / "plain.png"));
}

TEST_F(ViewCommandTest, SettingsFileViewAndTheOptionsOverIt) {
  WriteText(
      dir / "shot.json",
      R"({"view": {"config": "small.ocio", "display": "sRGB", "view": "Dim", "exposure": 2}})");
  ASSERT_EQ(Render("file.png", {"--settings", "shot.json"}).exitCode, 0);
  ASSERT_EQ(
      Render("flags.png", {"--ocio-config", "small.ocio", "--ocio-view", "Dim", "--exposure", "2"})
          .exitCode,
      0);
  EXPECT_EQ(test_files::ReadText(dir / "file.png"), test_files::ReadText(dir / "flags.png"));
  // Dim two stops up is the plain view; the option wins over the file.
  ASSERT_EQ(
      Render("over.png", {"--settings", "shot.json", "--ocio-view", "Standard", "--exposure", "0"})
          .exitCode,
      0);
  ASSERT_EQ(Render("standard.png", {"--ocio-config", "small.ocio"}).exitCode, 0);
  EXPECT_EQ(test_files::ReadText(dir / "over.png"), test_files::ReadText(dir / "standard.png"));
  WriteText(dir / "bad.json", R"({"view": {"gamma": 0}})");
  EXPECT_NE(Refused({"--settings", "bad.json"}).find("view.gamma"), std::string::npos);
  WriteText(dir / "typo.json", R"({"view": {"veiw": "Dim"}})");
  EXPECT_NE(Refused({"--settings", "typo.json"}).find("veiw"), std::string::npos);
}

TEST_F(ViewCommandTest, ShotFramesGoThroughTheSameView) {
  for (const char* number : {"0001", "0002"}) {
    std::filesystem::copy_file(dir / "in.exr", dir / ("in." + std::string(number) + ".exr"));
  }
  const std::vector<std::string> view{"--ocio-config", "small.ocio", "--ocio-view", "Dim"};
  std::vector<std::string> args{
      "render", "in.####.exr", "-o", "out.####.png", "--jobs", "1", "--focus-depth",
      "4",      "--range",     "6",  "--size",       "2",      "-q"};
  args.insert(args.end(), view.begin(), view.end());
  const RunResult shot = RunKestrion(args, dir / "");
  ASSERT_EQ(shot.exitCode, 0) << shot.err;
  ASSERT_EQ(Render("single.png", view).exitCode, 0);
  for (const char* number : {"0001", "0002"}) {
    EXPECT_EQ(test_files::ReadText(dir / ("out." + std::string(number) + ".png")),
              test_files::ReadText(dir / "single.png"))
        << number;
  }
}

TEST_F(ViewCommandTest, SettingsFileViewIsNotUsedForOpenExrOutput) {
  WriteText(dir / "shot.json", R"({"view": {"config": "small.ocio", "view": "Dim", "gamma": 2}})");
  ASSERT_EQ(Render("plain.exr").exitCode, 0);
  const RunResult run = Render("file.exr", {"--settings", "shot.json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(test_files::ReadText(dir / "file.exr"), test_files::ReadText(dir / "plain.exr"));
}

TEST_F(ViewCommandTest, RefusesNamesTheConfigurationLacks) {
  const std::string config = "--ocio-config";
  std::string err = Refused({config, "small.ocio", "--ocio-display", "P3"});
  EXPECT_NE(err.find("no display 'P3' (it has: sRGB, Flat)"), std::string::npos) << err;
  err = Refused({config, "small.ocio", "--ocio-view", "Filmic"});
  EXPECT_NE(err.find("no view 'Filmic' (it has: Standard, Dim)"), std::string::npos) << err;
  err = Refused({config, "small.ocio", "--ocio-look", "Punchy"});
  EXPECT_NE(err.find("no look 'Punchy' (it has: Brighter)"), std::string::npos) << err;
}

TEST_F(ViewCommandTest, RefusesMissingOrBrokenConfigurationsAndExrOutput) {
  std::string err = Refused({"--ocio-config", "absent.ocio"});
  EXPECT_NE(err.find("absent.ocio"), std::string::npos) << err;
  WriteText(dir / "broken.ocio", "ocio_profile_version: 2\nroles: {scene_linear: nowhere}\n");
  err = Refused({"--ocio-config", "broken.ocio"});
  EXPECT_NE(err.find("broken.ocio: not a usable colour configuration: "), std::string::npos) << err;
  err = Refused({"--ocio-config", "small.ocio", "--ocio-view", "Dim"}, "out.exr");
  EXPECT_NE(err.find("OpenEXR output keeps the frame's light"), std::string::npos) << err;
  err = Refused({"--gamma", "2.2"}, "out.exr");
  EXPECT_NE(err.find("--gamma"), std::string::npos) << err;
  err = Refused({"--ocio-view", "Dim"});
  EXPECT_NE(err.find("need a colour configuration"), std::string::npos) << err;
}

}  // namespace
}  // namespace kestrion
