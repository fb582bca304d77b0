// Stored depth to the renderer's Z under each encoding, and the warnings
// that point at a likely wrong encoding.
#include "frame/depth_modes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/errors.h"
#include "host/bitmap.h"

namespace kestrion {
namespace {

constexpr float INF = std::numeric_limits<float>::infinity();
constexpr float NOT_A_NUMBER = std::numeric_limits<float>::quiet_NaN();

DepthOptions Mode(DepthMode mode, float near = 0.0f, float far = 1.0f) {
  DepthOptions options;
  options.mode = mode;
  options.near = near;
  options.far = far;
  return options;
}

TEST(DepthModes, EachEncodingBecomesCameraSpaceZ) {
  DepthOptions distance;
  EXPECT_EQ(StoredDepthToZ(12.5f, distance), -12.5f);
  DepthOptions camera = Mode(DepthMode::Camera);
  EXPECT_EQ(StoredDepthToZ(-12.5f, camera), -12.5f);
  DepthOptions inverse = Mode(DepthMode::Inverse);
  EXPECT_FLOAT_EQ(StoredDepthToZ(0.25f, inverse), -4.0f);
  DepthOptions normalised = Mode(DepthMode::Normalised, 2.0f, 12.0f);
  EXPECT_FLOAT_EQ(StoredDepthToZ(0.25f, normalised), -4.5f);
  normalised.invert = true;  // white is near
  EXPECT_FLOAT_EQ(StoredDepthToZ(1.0f, normalised), -2.0f);
  EXPECT_FLOAT_EQ(StoredDepthToZ(0.25f, normalised), -9.5f);

  const std::vector<float> z = RendererZ({1.0f, 2.0f, 3.5f}, distance);
  EXPECT_EQ(z, (std::vector<float>{-1.0f, -2.0f, -3.5f}));
}

TEST(DepthModes, BackgroundIsWhateverMeansNoGeometry) {
  DepthOptions distance;
  for (float stored : {INF, NOT_A_NUMBER, 1e30f, 3e38f}) {
    EXPECT_EQ(StoredDepthToZ(stored, distance), Z_BACKGROUND) << stored;
  }
  EXPECT_EQ(StoredDepthToZ(0.0f, distance), 0.0f);  // real depth 0 unless declared
  distance.backgroundDepth = 0.0f;
  EXPECT_EQ(StoredDepthToZ(0.0f, distance), Z_BACKGROUND);
  // Renderers' far values are background by convention, from 1e9 up ...
  for (float stored : {1e9f, 1e10f, 3e38f}) {
    EXPECT_EQ(StoredDepthToZ(stored, distance), Z_BACKGROUND) << stored;
  }
  EXPECT_EQ(StoredDepthToZ(9e8f, distance), -9e8f);
  // ... unless the options move that distance; a declared value is
  // background on its own, not its neighbours.
  distance.backgroundFrom = BACKGROUND_DISTANCE;
  distance.backgroundDepth = 1e10f;
  EXPECT_EQ(StoredDepthToZ(1e10f, distance), Z_BACKGROUND);
  EXPECT_EQ(StoredDepthToZ(9e9f, distance), -9e9f);
  EXPECT_EQ(StoredDepthToZ(3e38f, distance), Z_BACKGROUND);

  DepthOptions camera = Mode(DepthMode::Camera);
  for (float stored : {-INF, INF, NOT_A_NUMBER, -1e30f, -2e30f, -1e10f}) {
    EXPECT_EQ(StoredDepthToZ(stored, camera), Z_BACKGROUND) << stored;
  }
  EXPECT_EQ(StoredDepthToZ(-9e8f, camera), -9e8f);
  DepthOptions inverse = Mode(DepthMode::Inverse);
  EXPECT_EQ(StoredDepthToZ(0.0f, inverse), Z_BACKGROUND);  // infinitely far
  EXPECT_EQ(StoredDepthToZ(1e-31f, inverse), Z_BACKGROUND);
  EXPECT_EQ(StoredDepthToZ(1e-10f, inverse), Z_BACKGROUND);  // 1e10 away
  DepthOptions normalised = Mode(DepthMode::Normalised, 1.0f, 100.0f);
  normalised.backgroundDepth = 1.0f;  // the far end of the map
  EXPECT_EQ(StoredDepthToZ(1.0f, normalised), Z_BACKGROUND);
  EXPECT_EQ(StoredDepthToZ(NOT_A_NUMBER, normalised), Z_BACKGROUND);
}

TEST(DepthModes, ParsesNamesAndChecksNearAndFar) {
  EXPECT_EQ(ParseDepthMode("inverse"), DepthMode::Inverse);
  EXPECT_EQ(ParseDepthMode(DepthModeText(DepthMode::Normalised)), DepthMode::Normalised);
  EXPECT_THROW(ParseDepthMode("metres"), Error);
  EXPECT_NO_THROW(CheckDepthOptions(Mode(DepthMode::Normalised, 0.0f, 5.0f)));
  EXPECT_THROW(CheckDepthOptions(Mode(DepthMode::Normalised, 5.0f, 5.0f)), Error);
  EXPECT_THROW(CheckDepthOptions(Mode(DepthMode::Normalised, -1.0f, 5.0f)), Error);
  EXPECT_NO_THROW(CheckDepthOptions(Mode(DepthMode::Distance, 5.0f, 5.0f)));
  DepthOptions far;
  for (float from : {0.0f, -1.0f, 2e30f, NOT_A_NUMBER}) {
    far.backgroundFrom = from;
    EXPECT_THROW(CheckDepthOptions(far), Error) << from;
  }
}

TEST(DepthModes, WarnsOfZeroDepthUnderEmptyAlphaNamingTheOption) {
  // 7 x 5: three of 35 pixels (8.6 %) have depth 0 under alpha 0.
  Plane depth(35, 4.0f);
  Plane alpha(35, 1.0f);
  for (size_t i : {0u, 9u, 34u}) depth[i] = alpha[i] = 0.0f;
  DepthOptions options;
  SettingLabels labels;
  labels.backgroundDepth = "--background-depth";
  std::vector<std::string> lines = DepthWarnings(depth, alpha, options, "f.exr", labels);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("f.exr: ", 0), 0u);
  EXPECT_NE(lines[0].find("--background-depth 0"), std::string::npos) << lines[0];
  lines = DepthWarnings(depth, alpha, options, "f.exr");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("give background_depth 0"), std::string::npos) << lines[0];
  // Not once 0 is declared background, nor under covered pixels, nor when
  // only a few pixels are like that.
  options.backgroundDepth = 0.0f;
  EXPECT_TRUE(DepthWarnings(depth, alpha, options, "f.exr").empty());
  EXPECT_TRUE(DepthWarnings(depth, Plane(35, 1.0f), DepthOptions{}, "f.exr").empty());
  Plane many(100, 4.0f);
  Plane manyAlpha(100, 1.0f);
  many[5] = manyAlpha[5] = many[6] = manyAlpha[6] = 0.0f;  // 2 %
  EXPECT_TRUE(DepthWarnings(many, manyAlpha, DepthOptions{}, "f.exr").empty());
}

TEST(DepthModes, WarnsWhenEveryDistanceIsNegative) {
  const Plane depth = {-3.0f, -4.5f, INF, -0.5f, NOT_A_NUMBER};
  DepthOptions options;
  SettingLabels labels;
  labels.depthMode = "depth.mode";
  std::vector<std::string> lines = DepthWarnings(depth, std::nullopt, options, "f.exr", labels);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("give depth.mode camera"), std::string::npos) << lines[0];
  options.mode = DepthMode::Camera;
  EXPECT_TRUE(DepthWarnings(depth, std::nullopt, options, "f.exr").empty());
  EXPECT_TRUE(DepthWarnings({-3.0f, 2.0f}, std::nullopt, DepthOptions{}, "f.exr").empty());
}

}  // namespace
}  // namespace kestrion
