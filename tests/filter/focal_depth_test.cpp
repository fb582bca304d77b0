#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>

#include "filter/focus_filter.h"
#include "tests/support/scene_frame.h"

namespace {

using kestrion_test::AtDepth;
using TestFrame = kestrion_test::SceneFrame;

class FocalDepth : public ::testing::Test {
 protected:
  void SetUp() override {
    HostInterface().Reset();
    filter.SetSource(&frame.bitmap);
  }
  void TearDown() override { HostInterface().Reset(); }

  TestFrame frame{CHANNEL_Z, 1600};
  FocusFilter filter;
  float depth = -7.0f;
};

TEST_F(FocalDepth, MeasuresTheNodeOriginInCameraSpaceAtTheRenderTime) {
  SceneNode& node = HostInterface().AddNode("Target");
  // Moving between keys: at the render time 1600 the origin is at depth 120.
  node.SetWorldTransform(0, Matrix3::Translation(AtDepth(60.0f)));
  node.SetWorldTransform(3200, Matrix3::Translation(AtDepth(180.0f)));
  ASSERT_EQ(filter.GetFocalDepth("Target", &depth), 1);
  EXPECT_FLOAT_EQ(depth, 120.0f);

  // Only the origin counts: rotating the node about it changes nothing.
  Matrix3 turned{};
  turned.SetRow(0, {0.0f, 1.0f, 0.0f});
  turned.SetRow(1, {-1.0f, 0.0f, 0.0f});
  turned.SetRow(2, {0.0f, 0.0f, 1.0f});
  turned.SetRow(3, AtDepth(120.0f));
  HostInterface().AddNode("Turned").SetWorldTransform(1600, turned);
  ASSERT_EQ(filter.GetFocalDepth("Turned", &depth), 1);
  EXPECT_FLOAT_EQ(depth, 120.0f);
}

TEST_F(FocalDepth, ANodeBehindTheCameraHasNegativeDepth) {
  HostInterface().AddNode("Behind").SetWorldTransform(0, Matrix3::Translation(AtDepth(-35.0f)));
  ASSERT_EQ(filter.GetFocalDepth("Behind", &depth), 1);
  EXPECT_FLOAT_EQ(depth, -35.0f);
}

TEST_F(FocalDepth, FailsWithoutNameNodeRenderInfoOrStorage) {
  HostInterface().AddNode("Target");
  EXPECT_EQ(filter.GetFocalDepth("", &depth), 0);
  EXPECT_EQ(filter.GetFocalDepth("Targe", &depth), 0);
  frame.Storage().RemoveRenderInfo();
  EXPECT_EQ(filter.GetFocalDepth("Target", &depth), 0);
  Bitmap empty;
  filter.SetSource(&empty);
  EXPECT_EQ(filter.GetFocalDepth("Target", &depth), 0);
  EXPECT_FLOAT_EQ(depth, -7.0f);
}

TEST_F(FocalDepth, ANameFillingTheWholeFieldIsReadNoFurther) {
  // 260 characters and no terminator; the record's floats follow directly.
  const std::string longName(FOCAL_NAME_SIZE, 'N');
  HostInterface().AddNode(longName).SetWorldTransform(0, Matrix3::Translation(AtDepth(42.0f)));
  std::memcpy(filter.config.focalObjectName, longName.data(), FOCAL_NAME_SIZE);
  // Bytes 44 43 42 41: a reader running past the field would look up "...NDCBA".
  filter.config.blurRange = std::bit_cast<float>(0x41424344u);
  ASSERT_EQ(filter.GetFocalDepth(filter.config.focalObjectName, &depth), 1);
  EXPECT_FLOAT_EQ(depth, 42.0f);
}

}  // namespace
