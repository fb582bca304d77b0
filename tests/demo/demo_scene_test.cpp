#include "demo/demo_scene.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace kestrion {
namespace {

constexpr uint16_t WIDTH = 241;
constexpr uint16_t HEIGHT = 137;

class DemoScene : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    frame = std::make_unique<Image>(RenderDemoScene(WIDTH, HEIGHT));
    HostInterface().Reset();
    AddDemoNodes(HostInterface());
  }
  static void TearDownTestSuite() {
    frame.reset();
    HostInterface().Reset();
  }
  static size_t Index(int x, int y) { return static_cast<size_t>(y) * WIDTH + x; }
  static inline std::unique_ptr<Image> frame;
};

// Each shape's node, taken to camera space the way the filter does it
// (node origin times the render's world-to-camera transform), projects onto
// a pixel that sees that shape: its own IDs, and a Z just in front of the
// node's camera-space z (the surface lies between the centre and the
// camera, less than the shape's extent away along the ray).
TEST_F(DemoScene, NodesAndChannelsAgree) {
  BitmapStorage& storage = frame->Storage();
  const RenderInfo* info = storage.GetRenderInfo();
  ASSERT_NE(info, nullptr);
  std::set<uint16_t> objectIds;
  for (const DemoShape& shape : DemoShapes()) {
    SceneNode* node = HostInterface().GetNodeByName(shape.name);
    ASSERT_NE(node, nullptr) << shape.name;
    const Point3 centre = node->GetWorldTransform(info->renderTime).GetTrans() * info->worldToCam;
    const auto pixel = ProjectToPixel(centre, WIDTH, HEIGHT);
    ASSERT_TRUE(pixel) << shape.name << " is out of view";
    const size_t i = Index(pixel->x, pixel->y);
    EXPECT_EQ(storage.ObjChannel()[i], shape.objectId) << shape.name;
    EXPECT_EQ(storage.MtlChannel()[i], shape.materialId) << shape.name;
    const float z = storage.ZChannel()[i];
    EXPECT_GT(z, centre.z) << shape.name;
    EXPECT_LT(z, centre.z + 1.75f * shape.extent) << shape.name;
    objectIds.insert(shape.objectId);
  }
  EXPECT_EQ(objectIds.size(), DemoShapes().size()) << "object IDs must be distinct";
  EXPECT_FALSE(objectIds.count(0) || objectIds.count(GROUND_OBJECT_ID));
}

TEST_F(DemoScene, SkyIsBackgroundAndGroundRecedesTowardTheHorizon) {
  BitmapStorage& storage = frame->Storage();
  for (int x = 0; x < WIDTH; ++x) {
    EXPECT_EQ(storage.ZChannel()[Index(x, 0)], Z_BACKGROUND) << x;
    EXPECT_EQ(storage.ObjChannel()[Index(x, 0)], 0) << x;
    EXPECT_EQ(storage.MtlChannel()[Index(x, 0)], 0) << x;
    EXPECT_EQ(storage.ObjChannel()[Index(x, HEIGHT - 1)], GROUND_OBJECT_ID) << x;
  }
  // Up the edge column, where no shape stands, the ground's depth grows
  // strictly until the sky begins.
  const int x = WIDTH - 1;
  float previousDepth = 0.0f;
  int y = HEIGHT - 1;
  for (; y >= 0 && storage.ObjChannel()[Index(x, y)] == GROUND_OBJECT_ID; --y) {
    const float depth = -storage.ZChannel()[Index(x, y)];
    EXPECT_GT(depth, previousDepth) << "row " << y;
    previousDepth = depth;
  }
  ASSERT_GT(y, 0) << "no sky above the ground";
  EXPECT_EQ(storage.ZChannel()[Index(x, y)], Z_BACKGROUND);
  for (size_t i = 0; i < size_t{WIDTH} * HEIGHT; ++i) {
    ASSERT_EQ(storage.Pixels()[i].a, CHANNEL_MAX) << "pixel " << i;
  }
}

}  // namespace
}  // namespace kestrion
