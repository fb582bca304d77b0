#include "host/tracks.h"

#include <gtest/gtest.h>

#include <map>

#include "filter/focus_filter.h"
#include "host/scene.h"

namespace {

using Keys = std::map<TimeValue, float>;

class Tracks : public ::testing::Test {
 protected:
  void SetUp() override {
    HostInterface().Reset();
    SetTicksPerFrame(160);
    filter.config.blurRange = 30.0f;
    filter.config.blurSize = 4.5f;
  }
  void TearDown() override {
    HostInterface().Reset();
    SetTicksPerFrame(160);
  }
  Control* Track(TrackId id) { return filter.Node() ? filter.Node()->GetController(id) : nullptr; }

  FocusFilter filter;
};

TEST_F(Tracks, FilterUpdateCreatesBothTracksFromTheRecord) {
  ASSERT_EQ(filter.Node(), nullptr);
  filter.FilterUpdate();
  ITrackViewNode* node = filter.Node();
  ASSERT_NE(node, nullptr);
  ASSERT_EQ(node->NumItems(), 2);
  EXPECT_EQ(node->ItemName(node->FindItem(RANGE_TRACK)), "Range");
  EXPECT_EQ(node->ItemName(node->FindItem(SIZE_TRACK)), "Size");
  EXPECT_EQ(Track(RANGE_TRACK)->Keys(), (Keys{{0, 30.0f}}));
  EXPECT_EQ(Track(SIZE_TRACK)->Keys(), (Keys{{0, 4.5f}}));
  EXPECT_EQ(filter.currentControl, Track(SIZE_TRACK));
}

TEST_F(Tracks, FilterUpdateAddsOnlyTheMissingTrack) {
  filter.FilterUpdate();
  Track(SIZE_TRACK)->SetKeys({{0, 3.0f}, {1600, 9.0f}});
  ASSERT_TRUE(filter.Node()->RemoveItem(RANGE_TRACK));
  filter.config.blurRange = 65.0f;

  filter.FilterUpdate();
  EXPECT_EQ(filter.Node()->NumItems(), 2);
  EXPECT_EQ(Track(RANGE_TRACK)->Keys(), (Keys{{0, 65.0f}}));
  EXPECT_EQ(Track(SIZE_TRACK)->Keys(), (Keys{{0, 3.0f}, {1600, 9.0f}}));
  // Both present now: a further update changes nothing.
  filter.FilterUpdate();
  EXPECT_EQ(filter.Node()->NumItems(), 2);
  EXPECT_EQ(Track(RANGE_TRACK)->Keys(), (Keys{{0, 65.0f}}));
}

TEST_F(Tracks, CreateTrackFindingATrackLeavesCurrentControlNone) {
  filter.FilterUpdate();
  ASSERT_NE(filter.currentControl, nullptr);
  float other = 99.0f;
  EXPECT_EQ(filter.CreateTrack(RANGE_TRACK, &other, RANGE_TRACK_NAME), 1);
  EXPECT_EQ(filter.currentControl, nullptr);
  EXPECT_EQ(Track(RANGE_TRACK)->Keys(), (Keys{{0, 30.0f}}));
}

TEST_F(Tracks, AFailedControllerSkipsOnlyThatTrack) {
  FailNextControllers(1);
  filter.FilterUpdate();
  EXPECT_EQ(filter.Node()->FindItem(RANGE_TRACK), -1);
  EXPECT_NE(filter.Node()->FindItem(SIZE_TRACK), -1);

  FailNextControllers(1);
  float v = 1.0f;
  EXPECT_EQ(filter.CreateTrack(RANGE_TRACK, &v, RANGE_TRACK_NAME), 0);
  EXPECT_EQ(filter.currentControl, nullptr);
  EXPECT_EQ(filter.Node()->NumItems(), 1);
}

TEST_F(Tracks, NegativeTimeReadsAndWritesAtTheHostsTime) {
  filter.FilterUpdate();
  Track(RANGE_TRACK)->SetKeys({{0, 10.0f}, {1600, 90.0f}});
  HostInterface().SetTime(800);

  float v = -1.0f;
  ASSERT_EQ(filter.GetTrackValue(RANGE_TRACK, &v, -1), 1);
  EXPECT_FLOAT_EQ(v, 50.0f);
  EXPECT_EQ(filter.currentControl, Track(RANGE_TRACK));
  ASSERT_EQ(filter.GetTrackValue(RANGE_TRACK, &v, 0), 1);
  EXPECT_FLOAT_EQ(v, 10.0f);

  float size = 7.0f;
  ASSERT_EQ(filter.SetTrackValue(SIZE_TRACK, &size, -1), 1);
  size = 2.5f;
  ASSERT_EQ(filter.SetTrackValue(SIZE_TRACK, &size, 480), 1);
  EXPECT_EQ(Track(SIZE_TRACK)->Keys(), (Keys{{0, 4.5f}, {480, 2.5f}, {800, 7.0f}}));
  EXPECT_EQ(filter.currentControl, Track(SIZE_TRACK));
}

TEST_F(Tracks, EvaluateReadsAtTheRenderedFrame) {
  filter.FilterUpdate();
  Track(SIZE_TRACK)->SetKeys({{0, 0.0f}, {3200, 200.0f}});
  ImageFilterInfo info{2, 20, 10};
  filter.SetFilterInfo(&info);
  HostInterface().SetTime(4800);  // the host's own time plays no part

  float v = -1.0f;
  ASSERT_EQ(filter.EvaluateTrack(SIZE_TRACK, &v), 1);
  EXPECT_FLOAT_EQ(v, 100.0f);  // frame 10 x 160 ticks = time 1600

  SetTicksPerFrame(80);
  ASSERT_EQ(filter.EvaluateTrack(SIZE_TRACK, &v), 1);
  EXPECT_FLOAT_EQ(v, 50.0f);
}

TEST_F(Tracks, MissingTrackOrNodeLeavesTheValue) {
  ImageFilterInfo info{0, 10, 3};
  filter.SetFilterInfo(&info);
  float v = 42.0f;
  // No node: 0, the value and currentControl untouched.
  Control sentinel;
  filter.currentControl = &sentinel;
  EXPECT_EQ(filter.GetTrackValue(RANGE_TRACK, &v, 0), 0);
  EXPECT_EQ(filter.SetTrackValue(RANGE_TRACK, &v, 0), 0);
  EXPECT_EQ(filter.EvaluateTrack(RANGE_TRACK, &v), 0);
  EXPECT_EQ(filter.currentControl, &sentinel);
  EXPECT_FLOAT_EQ(v, 42.0f);

  // A node without the track: 0, currentControl none.
  filter.FilterUpdate();
  ASSERT_TRUE(filter.Node()->RemoveItem(RANGE_TRACK));
  filter.currentControl = &sentinel;
  EXPECT_EQ(filter.EvaluateTrack(RANGE_TRACK, &v), 0);
  EXPECT_EQ(filter.currentControl, nullptr);
  filter.currentControl = &sentinel;
  EXPECT_EQ(filter.GetTrackValue(RANGE_TRACK, &v, -1), 0);
  EXPECT_EQ(filter.currentControl, nullptr);
  EXPECT_FLOAT_EQ(v, 42.0f);
  EXPECT_EQ(filter.SetTrackValue(RANGE_TRACK, &v, -1), 0);
}

TEST_F(Tracks, EvaluateWithoutFilterInfoLeavesTheValue) {
  filter.FilterUpdate();
  Track(RANGE_TRACK)->SetKeys({{0, 5.0f}});
  float v = 42.0f;
  EXPECT_EQ(filter.EvaluateTrack(RANGE_TRACK, &v), 0);
  EXPECT_FLOAT_EQ(v, 42.0f);
  EXPECT_EQ(filter.currentControl, Track(RANGE_TRACK));
}

}  // namespace
