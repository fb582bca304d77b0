// The module file loaded as the host loads it: the focal object is picked
// in the control dialog, and a render blurs the frame about that object.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/filter_pipeline.h"
#include "host/progress_window.h"
#include "host/scene.h"
#include "platform/scripted_user.h"
#include "tests/support/window_mean.h"
#include "ui/dialog_ids.h"

namespace {

constexpr uint16_t WIDTH = 9;
constexpr uint16_t HEIGHT = 7;
constexpr float FOCAL_Z = -120.0f;
constexpr float FAR_Z = -400.0f;

BMM_Color_64 Pattern(int x, int y) {
  return {static_cast<uint16_t>(1000 * x + 37 * y), static_cast<uint16_t>(500 + 3000 * y + 11 * x),
          static_cast<uint16_t>((x * y * 997) % 65536), static_cast<uint16_t>(60000 - x)};
}

// The mean of the 5 x 5 window about (x, y), clipped to the image, of the
// pattern: the blur of a far pixel with the default blur size 2.
BMM_Color_64 WindowMean(int x, int y) {
  std::vector<BMM_Color_64> pattern;
  for (int i = 0; i < WIDTH * HEIGHT; ++i) pattern.push_back(Pattern(i % WIDTH, i / WIDTH));
  return kestrion_test::WindowMean(pattern.data(), WIDTH, HEIGHT, x, y, 2);
}

// Columns 0..3 lie at the focal object's depth, the rest far behind it.
bool AtFocus(int x) { return x < 4; }

TEST(EndToEnd, PickedFocalObjectIsSharpAndTheRestBlurred) {
  HostInterface().Reset();
  platform::User().Clear();
  std::string error;
  auto module = FilterModule::Load(KESTRION_MODULE_PATH, error);
  ASSERT_NE(module, nullptr) << error;
  std::unique_ptr<ImageFilter> filter = module->CreateFilter();
  ASSERT_NE(filter, nullptr);
  HostInterface().AddNode("Decoy");
  HostInterface().AddNode("Focus").SetWorldTransform(0, Matrix3::Translation({3, -2, FOCAL_Z}));
  HostInterface().QueuePick({"Focus"});
  platform::User().Click(IDC_BROWSE).Click(IDOK);
  ASSERT_EQ(filter->ShowControl(nullptr), 1);

  Bitmap bitmap(WIDTH, HEIGHT);
  BitmapStorage& storage = *bitmap.Storage();
  storage.CreateChannels(CHANNEL_Z);
  storage.CreateRenderInfo();
  for (int i = 0; i < WIDTH * HEIGHT; ++i) {
    storage.Pixels()[i] = Pattern(i % WIDTH, i / WIDTH);
    storage.ZChannel()[i] = AtFocus(i % WIDTH) ? FOCAL_Z : FAR_Z;
  }
  FilterFrame frame{&bitmap, {0, 0, 0}};
  ProgressWindow progress;
  ASSERT_EQ(RunFilter(*filter, frame, progress.Handle()), 1);
  for (int i = 0; i < WIDTH * HEIGHT; ++i) {
    const int x = i % WIDTH, y = i / WIDTH;
    EXPECT_EQ(storage.Pixels()[i], AtFocus(x) ? Pattern(x, y) : WindowMean(x, y)) << x << ", " << y;
  }
  filter.reset();
  HostInterface().Reset();
}

}  // namespace
