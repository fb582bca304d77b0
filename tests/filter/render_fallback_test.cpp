// A render whose blur cannot have memory for its summed-area table still
// succeeds, with the very pixels of a render that has it: the blur then sums
// each window directly.
//
// The table and its scratch are the only arrays the module allocates with
// nothrow new[]; this test executable replaces that operator with one that
// can be told to refuse. The other array forms of new and delete are
// replaced with it, so that every array is allocated and freed by the same
// pair (which the address sanitizer checks).
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "filter/focus_filter.h"
#include "host/progress_window.h"
#include "platform/message_box.h"
#include "tests/support/scene_frame.h"

namespace {
bool refuseNothrowArrays = false;
int refusedNothrowArrays = 0;
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (refuseNothrowArrays) {
    ++refusedNothrowArrays;
    return nullptr;
  }
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size) {
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace {

using kestrion_test::AtDepth;
using TestFrame = kestrion_test::SceneFrame;

constexpr float FOCAL_DEPTH = 120.0f;

class RenderFallback : public ::testing::Test {
 protected:
  void SetUp() override {
    HostInterface().Reset();
    SetTicksPerFrame(160);
    platform::ClearShownMessages();
    HostInterface().AddNode("Focus").SetWorldTransform(0,
                                                       Matrix3::Translation(AtDepth(FOCAL_DEPTH)));
    kestrion_test::SetFocalName(filter.config, "Focus");
    filter.config.blurRange = 40.0f;
    filter.config.blurSize = 4.0f;
    filter.SetFilterInfo(&info);
  }
  void TearDown() override { HostInterface().Reset(); }

  // Renders a fresh frame with depths 100 to 160 across it and a background
  // column; returns the render's result and the rendered pixels.
  std::vector<BMM_Color_64> Render(int32_t& result) {
    TestFrame frame(CHANNEL_Z, 1600);
    for (int y = 0; y < kestrion_test::H; ++y) {
      for (int x = 0; x < kestrion_test::W; ++x) frame.SetDepth(x, y, 100.0f + 10.0f * x + y);
      frame.SetBackground(kestrion_test::W - 1, y);
    }
    filter.SetSource(&frame.bitmap);
    ProgressWindow progress;
    result = filter.Render(progress.Handle());
    filter.SetSource(nullptr);
    const BMM_Color_64* pixels = frame.Storage().Pixels();
    return {pixels, pixels + kestrion_test::W * kestrion_test::H};
  }

  ImageFilterInfo info{0, 20, 10};
  FocusFilter filter;
};

TEST_F(RenderFallback, WithoutMemoryForTheTableRendersTheSamePixels) {
  int32_t withTable = 0;
  const std::vector<BMM_Color_64> expected = Render(withTable);
  ASSERT_EQ(withTable, 1);
  ASSERT_NE(expected, TestFrame().original);  // the blur changed pixels

  refuseNothrowArrays = true;
  refusedNothrowArrays = 0;
  int32_t withoutTable = 0;
  const std::vector<BMM_Color_64> pixels = Render(withoutTable);
  refuseNothrowArrays = false;

  EXPECT_GT(refusedNothrowArrays, 0);  // the table was asked for and refused
  EXPECT_EQ(withoutTable, 1);
  EXPECT_EQ(pixels, expected);
  EXPECT_TRUE(platform::ShownMessages().empty());
}

}  // namespace
