#include <gtest/gtest.h>

#include "filter/focus_filter.h"
#include "host/progress_window.h"
#include "platform/message_box.h"
#include "tests/support/scene_frame.h"

namespace {

using kestrion_test::AtDepth;
using kestrion_test::H;
using TestFrame = kestrion_test::SceneFrame;
using kestrion_test::W;

constexpr float FOCAL_DEPTH = 120.0f;

// A frame at depth 140 throughout, but for a sharp pixel at the focal depth
// and a background column. With focal depth 120, range 40 and size 3 the
// depth-140 pixels get radius trunc(20 * 3 / 40) = 1 and the background the
// full 3; any two of the blur's float arguments swapped gives other radii.
class RenderPass : public ::testing::Test {
 protected:
  static constexpr int SHARP_X = 3, SHARP_Y = 2;

  explicit RenderPass(uint32_t channels = CHANNEL_Z) : frame(channels, 1600) {}

  void SetUp() override {
    HostInterface().Reset();
    SetTicksPerFrame(160);
    platform::ClearShownMessages();
    HostInterface().AddNode("Focus").SetWorldTransform(0,
                                                       Matrix3::Translation(AtDepth(FOCAL_DEPTH)));
    if (frame.Storage().ZChannel()) {
      frame.FillDepth(140.0f);
      frame.SetDepth(SHARP_X, SHARP_Y, FOCAL_DEPTH);
      for (int y = 0; y < H; ++y) frame.SetBackground(0, y);
    }
    kestrion_test::SetFocalName(filter.config, "Focus");
    filter.config.blurRange = 40.0f;
    filter.config.blurSize = 3.0f;
    filter.SetSource(&frame.bitmap);
    filter.SetFilterInfo(&info);
  }
  void TearDown() override {
    HostInterface().Reset();
    platform::ClearShownMessages();
  }

  // Checks every pixel: where blurred(x, y) holds against its blur (radius 3
  // in the background column, 1 elsewhere), else against the original.
  template <class Blurred>
  void ExpectBlurredWhere(Blurred blurred) {
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        const BMM_Color_64 expected =
            blurred(x, y) ? frame.Mean(x, y, x == 0 ? 3 : 1) : frame.original[y * W + x];
        ASSERT_EQ(frame.Pixel(x, y), expected) << "pixel " << x << ", " << y;
      }
    }
  }
  static bool OffFocus(int x, int y) { return !(x == SHARP_X && y == SHARP_Y); }

  TestFrame frame;
  ImageFilterInfo info{0, 20, 10};
  FocusFilter filter;
  ProgressWindow progress;
};

TEST_F(RenderPass, BlursAboutTheFocalObjectWithItsArgumentsInOrder) {
  ASSERT_EQ(filter.Render(progress.Handle()), 1);
  ExpectBlurredWhere(OffFocus);
  EXPECT_TRUE(platform::ShownMessages().empty());
  // One progress message and one abort query per row.
  EXPECT_EQ(progress.AbortQueries(), H);
  EXPECT_EQ(frame.bitmap.PutPixelsCalls(), static_cast<uint64_t>(H));
}

TEST_F(RenderPass, AnAbortWritesBackThePartlyBlurredFrame) {
  progress.AbortAfter(2);
  ASSERT_EQ(filter.Render(progress.Handle()), 1);
  ExpectBlurredWhere([](int x, int y) { return y < 2 && OffFocus(x, y); });
  EXPECT_EQ(frame.bitmap.PutPixelsCalls(), static_cast<uint64_t>(H));
}

TEST_F(RenderPass, TracksAtTheRenderedFrameOverrideTheRecord) {
  filter.FilterUpdate();
  // Frame 10 is time 1600; the host stands elsewhere.
  filter.Node()->GetController(RANGE_TRACK)->SetKeys({{0, 20.0f}, {1600, 80.0f}});
  filter.Node()->GetController(SIZE_TRACK)->SetKeys({{1600, 6.0f}});
  HostInterface().SetTime(0);
  ASSERT_EQ(filter.Render(progress.Handle()), 1);
  EXPECT_FLOAT_EQ(filter.config.blurRange, 80.0f);
  EXPECT_FLOAT_EQ(filter.config.blurSize, 6.0f);
  EXPECT_EQ(filter.currentControl, filter.Node()->GetController(SIZE_TRACK));
  // Radius trunc(20 * 6 / 80) = 1 as before; the background gets 6.
  EXPECT_EQ(frame.Pixel(4, 1), frame.Mean(4, 1, 1));
  EXPECT_EQ(frame.Pixel(0, 4), frame.Mean(0, 4, 6));

  // With the Range track deleted the record's value stays in use.
  ASSERT_TRUE(filter.Node()->RemoveItem(RANGE_TRACK));
  filter.config.blurRange = 33.0f;
  ASSERT_EQ(filter.Render(progress.Handle()), 1);
  EXPECT_FLOAT_EQ(filter.config.blurRange, 33.0f);
}

TEST_F(RenderPass, AnEmptyNameShowsOneMessagePerCall) {
  filter.config.focalObjectName[0] = '\0';
  for (size_t call = 1; call <= 2; ++call) {
    EXPECT_EQ(filter.Render(progress.Handle()), 0);
    ASSERT_EQ(platform::ShownMessages().size(), call);
  }
  const platform::ShownMessage shown = platform::ShownMessages().back();
  EXPECT_EQ(shown.caption, "Kestrion");
  EXPECT_EQ(shown.text, "Error : Object undefined!");
  EXPECT_EQ(shown.type, MB_OK);
  EXPECT_EQ(shown.owner, GetActiveWindow());
  EXPECT_TRUE(frame.Unchanged());
  EXPECT_EQ(frame.bitmap.PutPixelsCalls(), 0u);
  EXPECT_EQ(progress.AbortQueries(), 0);
}

TEST_F(RenderPass, FailuresBeforeTheBlurLeaveTheBitmapUntouched) {
  FocusFilter sourceless;
  sourceless.config.focalObjectName[0] = '\0';
  EXPECT_EQ(sourceless.Render(progress.Handle()), 0);  // no source: not even a message

  kestrion_test::SetFocalName(filter.config, "Nobody");
  EXPECT_EQ(filter.Render(progress.Handle()), 0);

  kestrion_test::SetFocalName(filter.config, "Focus");
  frame.Storage().RemoveChannels(CHANNEL_Z);
  EXPECT_EQ(filter.Render(progress.Handle()), 0);

  frame.Storage().CreateChannels(CHANNEL_Z);
  frame.Storage().RemoveRenderInfo();
  EXPECT_EQ(filter.Render(progress.Handle()), 0);

  EXPECT_TRUE(platform::ShownMessages().empty());
  EXPECT_TRUE(frame.Unchanged());
  EXPECT_EQ(frame.bitmap.PutPixelsCalls(), 0u);
  EXPECT_EQ(progress.AbortQueries(), 0);
}

TEST_F(RenderPass, NoBlurStillWritesTheFrameBack) {
  // A masked mode whose ID channel the frame lacks, and an unknown mode.
  for (int32_t mode : {SOURCE_MATERIAL_EFFECTS, SOURCE_OBJECT_CHANNEL, 1013, 0}) {
    filter.config.sourceMode = mode;
    const uint64_t writesBefore = frame.bitmap.PutPixelsCalls();
    EXPECT_EQ(filter.Render(progress.Handle()), 1) << "mode " << mode;
    EXPECT_TRUE(frame.Unchanged()) << "mode " << mode;
    EXPECT_EQ(frame.bitmap.PutPixelsCalls(), writesBefore + H);
  }
  EXPECT_EQ(progress.AbortQueries(), 0);
}

// Frames carrying both ID channels: pixels of ID 5 in the material-effects
// channel and of ID 9 in the object channel, in different places.
class MaskedRenderPass : public RenderPass {
 protected:
  MaskedRenderPass() : RenderPass(CHANNEL_Z | CHANNEL_MTL_ID | CHANNEL_OBJ_ID) {}
  void SetUp() override {
    RenderPass::SetUp();
    frame.Storage().MtlChannel()[1 * W + 4] = 5;
    frame.Storage().MtlChannel()[3 * W + 0] = 5;
    frame.Storage().ObjChannel()[2 * W + 5] = 9;
    filter.config.materialEffectsId = 5;
    filter.config.objectChannelId = 9;
  }
};

TEST_F(MaskedRenderPass, MaterialEffectsModeBlursThatIdOnly) {
  filter.config.sourceMode = SOURCE_MATERIAL_EFFECTS;
  ASSERT_EQ(filter.Render(progress.Handle()), 1);
  ExpectBlurredWhere([](int x, int y) { return (x == 4 && y == 1) || (x == 0 && y == 3); });
}

TEST_F(MaskedRenderPass, ObjectChannelModeBlursThatIdOnly) {
  filter.config.sourceMode = SOURCE_OBJECT_CHANNEL;
  ASSERT_EQ(filter.Render(progress.Handle()), 1);
  ExpectBlurredWhere([](int x, int y) { return x == 5 && y == 2; });
}

}  // namespace
