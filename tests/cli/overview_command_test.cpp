// `kestrion inspect` through the built kestrion: the overview as it is
// printed, and the render command it suggests from the file's depths.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/blender_renders.h"
#include "tests/support/exr_layouts.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/run_kestrion.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::BlenderRender;
using test_files::RunKestrion;
using test_files::RunResult;
using test_files::ScratchDirectory;

BlenderRender Scene() {
  BlenderRender render;
  render.transparentFilm = true;
  test_files::BlenderLayer& layer = render.layers.front();
  layer.objects = {{"Ground", 0, 11, 24, 16, 0.0f, 9.0f, {0.3f, 0.5f, 0.2f}, 0.0f, 0.0f},
                   {"Monkey", 6, 4, 12, 10, 0.4f, 4.0f, {0.9f, 0.6f, 0.3f}, 0.0f, 1.0f},
                   {"Cube", 12, 2, 20, 9, 0.0f, 6.5f, {0.2f, 0.2f, 0.8f}, 0.0f, 2.0f}};
  return render;
}

void ExpectLines(const std::string& text, const std::vector<std::string>& expected) {
  for (const std::string& line : expected) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
}

TEST(InspectCommand, DescribesAMultiPartFileAndSuggestsFocusingOnThePixel) {
  ScratchDirectory dir;
  test_files::WriteExrFile(dir / "shot.exr", test_files::RgbaAndDepthParts());
  const RunResult run = RunKestrion({"inspect", "shot.exr", "--pixel", "3,2"}, dir / "");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ExpectLines(
      run.out,
      {"shot.exr: 2 parts\n", "part 0 \"rgba\": scanline, zip, 4 channels\n", "part 1 \"depth\"",
       "  data window    7 x 3 at (2, 1)\n", "  layer depth    Z float\n",
       "  depth        depth.Z (float, part 1 \"depth\")\n", "background 57.14286% of pixels",
       "pixel (3, 2), file coordinates (3, 2):\n", "    depth.Z                  11.25\n",
       "suggested: kestrion render shot.exr -o shot.dof.exr --focus-pixel 3,2"});
}

TEST(InspectCommand, SuggestsTheMedianDepthAndTheBackgroundTheOptionsGive) {
  ScratchDirectory dir;
  const BlenderRender scene = Scene();
  test_files::WriteBlenderRender(dir / "sky.exr", scene);
  size_t sky = 0;
  for (int y = 0; y < scene.height; ++y) {
    for (int x = 0; x < scene.width; ++x) {
      sky += test_files::CoversAt(scene.layers.front(), x, y).empty();
    }
  }
  const RunResult near = RunKestrion({"inspect", "sky.exr"}, dir / "");
  ASSERT_EQ(near.exitCode, 0) << near.err;
  char share[64];
  std::snprintf(share, sizeof share, "background %.7g%% of pixels",
                100.0 * static_cast<double>(sky) / (scene.width * scene.height));
  ExpectLines(near.out,
              {std::string("depth: 4 to 9, ") + share, "--focus-depth 9 --range 2.5 --size 1%",
               "median depth of the pixels with geometry",
               "Cryptomatte ViewLayer.CryptoObject (part 0, 2 ranks): 3 names: Cube "
               "(56 px)",
               "Monkey (37 px)", "(objects: --focus-object NAME)\n"});
  const RunResult far = RunKestrion({"inspect", "sky.exr", "--background-from", "1e30"}, dir / "");
  ASSERT_EQ(far.exitCode, 0) << far.err;
  ExpectLines(far.out, {"depth: 4 to 1e+10, background 0%", "--background-from 1e+30"});
}

}  // namespace
}  // namespace kestrion
