// Keys as a shot gives them, and where they land: the host controller's
// sampling, the filter's own tracks evaluated at the frame, and the focus
// map against what the module actually leaves sharp.
#include "frame/shot_keys.h"

#include <gtest/gtest.h>

#include <random>

#include "base/errors.h"
#include "frame/filter_session.h"
#include "frame/focus_map.h"
#include "frame/focus_record.h"
#include "frame/module_passes.h"
#include "frame/settings_file.h"
#include "tests/frame/loaded_module.h"

namespace kestrion {
namespace {

using frame_tests::Module;
using frame_tests::Named;
constexpr int32_t WIDTH = 41;
constexpr int32_t HEIGHT = 27;

using frame_tests::RecordOf;

// Random colour whose every value the band passes hold exactly (whole
// steps of the lowest band), so that a pixel the filter leaves alone comes
// back bit for bit; depth from near to far with a block of background;
// objects 1 and 2 in halves.
struct Scene {
  FramePlanes frame;
  std::vector<float> z;
};

Scene MakeScene() {
  Scene scene;
  FramePlanes& frame = scene.frame;
  frame.width = WIDTH;
  frame.height = HEIGHT;
  const size_t count = frame.PixelCount();
  std::mt19937 random(7);
  std::uniform_int_distribution<int> steps(1000, 60000);
  const float step = static_cast<float>(BAND_BASE / CHANNEL_MAX);
  for (int c = 0; c < 3; ++c) {
    Plane plane(count);
    for (float& v : plane) v = static_cast<float>(steps(random)) * step;
    frame.colour.push_back(std::move(plane));
    frame.colourNames.push_back(std::string(1, "RGB"[c]));
  }
  frame.objectId = std::vector<uint16_t>(count);
  scene.z.resize(count);
  for (int32_t y = 0; y < HEIGHT; ++y) {
    for (int32_t x = 0; x < WIDTH; ++x) {
      const size_t i = static_cast<size_t>(y) * WIDTH + x;
      (*frame.objectId)[i] = x < WIDTH / 2 ? 1 : 2;
      const float depth = 3.0f + 0.5f * static_cast<float>(x) + 0.05f * static_cast<float>(y);
      scene.z[i] = x > 34 && y < 6 ? Z_BACKGROUND : -depth;
    }
  }
  return scene;
}

TEST(ShotKeys, ParsedAndSampledAsTheHostControllerDoes) {
  const FloatKeys keys = ParseFloatKeys("1:6,48:12.5", "--range");
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_FLOAT_EQ(SampleFloatKeys(keys, 0), 6.0f) << "held before the first key";
  EXPECT_FLOAT_EQ(SampleFloatKeys(keys, 1), 6.0f);
  EXPECT_FLOAT_EQ(SampleFloatKeys(keys, 24), 6.0f + 6.5f * 23.0f / 47.0f);
  EXPECT_FLOAT_EQ(SampleFloatKeys(keys, 200), 12.5f) << "held after the last key";
  EXPECT_EQ(ParseFloatKeys("7.25", "--size"), (FloatKeys{{0, 7.25f}}));

  const PixelKeys pixels = ParsePixelKeys("5:10,20;30:-3,4", "--focus-pixel");
  EXPECT_EQ(SamplePixelKeys(pixels, 0).x, 10) << "the first key before it";
  EXPECT_EQ(SamplePixelKeys(pixels, 29).y, 20);
  EXPECT_EQ(SamplePixelKeys(pixels, 30).x, -3);
  EXPECT_EQ(SamplePixelKeys(pixels, 99).y, 4);

  for (const char* bad : {"", "1:", ":4", "1:4,1:5", "3:4,2:5", "1:4,,2:5", "x", "1:nan", "-1:4",
                          "10000000:4", "1:4;2:5", "inf"}) {
    try {
      ParseFloatKeys(bad, "--range");
      ADD_FAILURE() << '"' << bad << "\" accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::Usage);
      EXPECT_EQ(std::string(e.what()).rfind("--range: ", 0), 0u) << e.what();
    }
  }
  for (const char* bad : {"1:2", "1:2,3;1:4,5", "1:2,3,4", "a:1,2", "1,2;2:3,4"}) {
    EXPECT_THROW(ParsePixelKeys(bad, "--focus-pixel"), Error) << '"' << bad << '"';
  }
}

// Keys an in-process caller leaves empty are refused where they are read,
// with an error rather than a read past the map's end.
TEST(ShotKeys, EmptyKeysAreRefusedWhereTheyAreSampled) {
  EXPECT_THROW(SampleFloatKeys(FloatKeys{}, 3), Error);
  EXPECT_THROW(SamplePixelKeys(PixelKeys{}, 3), Error);
  EXPECT_THROW(CheckHasKeys(FloatKeys{}, "the range"), Error);
  EXPECT_NO_THROW(CheckHasKeys(FloatKeys{{4, 1.0f}}, "the range"));
}

TEST(ShotKeys, ShotFilesTakeKeysAsArraysAndRejectWhatIsWrong) {
  const RenderSettings shot = ParseSettings(
      R"({"range": [[1, 6], [48, 12]], "size": 3, "focusPixel": [[2, 5, 6], [9, 7, 8]],
          "focusStatistic": "max"})",
      "shot.json");
  EXPECT_EQ(shot.range, (FloatKeys{{1, 6.0f}, {48, 12.0f}}));
  EXPECT_EQ(shot.size, (FloatKeys{{0, 3.0f}}));
  ASSERT_TRUE(shot.focusPixel);
  EXPECT_EQ(shot.focusPixel->at(9).x, 7);
  EXPECT_EQ(shot.focusStatistic, FocusStatistic::Max);
  EXPECT_EQ(ParseSettings(R"({"focusObject": 4})", "s").focusObject, 4);

  for (const char* json :
       {R"({"range": [[5, 6], [1, 12]]})", R"({"range": [[1, 6], [1, 12]]})", R"({"range": []})",
        R"({"range": [[1, 6, 7]]})", R"({"size": [[1, 0.5]]})", R"({"range": [[-1, 6]]})",
        R"({"range": 1e40})", R"({"focusPixel": [[1, 2]]})", R"({"focusObject": 70000})",
        R"({"focusObject": 1, "focusDepth": 3})", R"({"focusStatistic": "mode"})",
        R"({"frames": "1-10"})"}) {
    try {
      ParseSettings(json, "shot.json");
      ADD_FAILURE() << json << " accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::Usage) << json;
      EXPECT_EQ(std::string(e.what()).rfind("shot.json: ", 0), 0u) << e.what();
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    }
  }
}

// The filter evaluates its own keyed tracks at the frame of the filter
// event: frame by frame, a keyed render equals a render whose record holds
// the interpolated values, and the values reported are those.
TEST(ShotKeys, KeyedTracksRenderAsTheirValuesAtTheFrame) {
  const Scene scene = MakeScene();
  FrameAnimation animation;
  animation.range = FloatKeys{{2, 3.0f}, {10, 19.0f}};
  animation.size = FloatKeys{{2, 2.0f}, {10, 9.0f}};
  Plane first;
  for (int32_t frame : {0, 2, 3, 7, 10, 12}) {
    animation.frame = frame;
    const FilteredPlanes keyed = FilterPlanes(Module(), RecordOf(50.0f, 2.0f), 6.0f, scene.frame,
                                              scene.z, Named("keyed"), animation);
    const float t = std::clamp((frame - 2) / 8.0f, 0.0f, 1.0f);
    EXPECT_FLOAT_EQ(keyed.range, 3.0f + 16.0f * t) << "frame " << frame;
    EXPECT_FLOAT_EQ(keyed.size, 2.0f + 7.0f * t) << "frame " << frame;
    const FilteredPlanes constant = FilterPlanes(Module(), RecordOf(keyed.range, keyed.size), 6.0f,
                                                 scene.frame, scene.z, Named("constant"));
    EXPECT_EQ(constant.range, keyed.range);
    for (size_t c = 0; c < 3; ++c) {
      EXPECT_EQ(keyed.colour[c], constant.colour[c]) << "frame " << frame << " channel " << c;
    }
    if (frame == 0) first = keyed.colour[0];
    if (frame == 12) {
      EXPECT_NE(keyed.colour[0], first) << "the keys changed nothing";
    }
  }
}

// The map's sharp pixels are exactly those the render leaves unchanged,
// for the whole frame and for one object's pixels.
TEST(FocusMap, SharpPixelsAreThePixelsTheRenderLeavesUnchanged) {
  const Scene scene = MakeScene();
  for (const SourceSelection source :
       {SourceSelection{}, SourceSelection{SOURCE_OBJECT_CHANNEL, 2}}) {
    FocusMapSettings settings;
    settings.source = source;
    settings.focalDepth = 14.0f;
    settings.range = 9.0f;
    settings.size = 5.0f;
    const FilteredPlanes filtered =
        FilterPlanes(Module(), RecordOf(settings.range, settings.size, source), settings.focalDepth,
                     scene.frame, scene.z, Named("f"));
    const std::vector<int32_t> radii = FocusRadii(scene.frame, scene.z, settings);
    const Image map = FocusMapImage(scene.frame, scene.z, settings);
    size_t sharp = 0;
    for (size_t i = 0; i < radii.size(); ++i) {
      bool unchanged = true;
      for (size_t c = 0; c < 3; ++c) unchanged &= filtered.colour[c][i] == scene.frame.colour[c][i];
      EXPECT_EQ(radii[i] == 0, unchanged) << "pixel " << i << " source " << source.mode;
      const BMM_Color_64 pixel = map.Storage().Pixels()[i];
      const bool green = pixel.r == 0 && pixel.g == CHANNEL_MAX && pixel.b == 0;
      EXPECT_EQ(green, radii[i] == 0) << "pixel " << i;
      if (scene.z[i] <= Z_BACKGROUND && radii[i] > 0) {
        EXPECT_LT(pixel.r, pixel.b) << "background";
      }
      sharp += radii[i] == 0;
    }
    EXPECT_GT(sharp, 0u);
    EXPECT_LT(sharp, radii.size());
  }
}

}  // namespace
}  // namespace kestrion
