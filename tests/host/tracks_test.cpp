#include "host/tracks.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "host/hold.h"

namespace {

float ValueAt(Control& c, TimeValue t, Interval* validOut = nullptr) {
  float v = -999.0f;
  Interval valid;
  c.GetValue(t, &v, valid, 1);
  if (validOut) *validOut = valid;
  return v;
}

void Key(Control& c, TimeValue t, float v) { c.SetValue(t, &v, 1, 1); }

struct Call {
  uint32_t what, part, item, first, second;
  bool operator==(const Call&) const = default;
};

class RecordingNotify : public TrackViewNotify {
 public:
  int32_t Changed(uint32_t what, uint32_t part, uint32_t item, uint32_t first,
                  uint32_t second) override {
    calls.push_back({what, part, item, first, second});
    if (onCall) onCall();
    return 1;
  }
  std::vector<Call> calls;
  std::function<void()> onCall;
};

constexpr TrackId RANGE{1, 16};
constexpr TrackId SIZE{2, 32};

class ControllerUndo : public ::testing::Test {
 protected:
  void SetUp() override { theHold.Reset(); }
  void TearDown() override { theHold.Reset(); }
};

TEST(ControlSampling, LinearBetweenKeysHeldOutsideWithNarrowedValidity) {
  Control c;
  EXPECT_EQ(ValueAt(c, 123), 0.0f) << "no keys";
  Key(c, 70, -4.0f);
  Key(c, 10, 2.0f);
  Key(c, 30, 6.0f);

  Interval valid;
  EXPECT_EQ(ValueAt(c, -500, &valid), 2.0f);
  EXPECT_EQ(valid, Interval(TIME_NEG_INFINITY, 10));
  EXPECT_EQ(ValueAt(c, 20, &valid), 4.0f);
  EXPECT_EQ(valid, Interval(20, 20));
  EXPECT_EQ(ValueAt(c, 30, &valid), 6.0f);
  EXPECT_EQ(valid, Interval(30, 30));
  EXPECT_FLOAT_EQ(ValueAt(c, 60), -1.5f);
  EXPECT_EQ(ValueAt(c, 1000, &valid), -4.0f);
  EXPECT_EQ(valid, Interval(70, TIME_POS_INFINITY));

  Key(c, 30, 9.0f);  // replaces the key
  EXPECT_EQ(c.Keys().size(), 3u);
  EXPECT_EQ(ValueAt(c, 30), 9.0f);
  EXPECT_EQ(c.IsKeyAtTime(30, 0), 1);
  EXPECT_EQ(c.IsKeyAtTime(31, 0), 0);
}

TEST(ControlSampling, NarrowsTheGivenIntervalAndCopesWithExtremeKeys) {
  Control c;
  Key(c, 100, 1.0f);
  float v = 0;
  Interval valid(-3, 3);
  c.GetValue(-3, &v, valid, 1);
  EXPECT_EQ(valid, Interval(-3, 3)) << "a single key holds for all time";
  Key(c, 200, 3.0f);
  valid = Interval(-50, 60);
  c.GetValue(0, &v, valid, 1);
  EXPECT_EQ(valid, Interval(-50, 60));
  valid = Interval(-50, 150);
  c.GetValue(250, &v, valid, 1);
  EXPECT_EQ(valid, Interval(200, 150)) << "an empty intersection stays empty";

  Control wide;
  Key(wide, TIME_NEG_INFINITY, -100.0f);
  Key(wide, TIME_POS_INFINITY, 100.0f);
  EXPECT_NEAR(ValueAt(wide, 0), 0.0f, 1e-4f);
}

TEST(TrackViewNode, ItemsByIdAndNotificationsUntilUnregistered) {
  ITrackViewNode node;
  RecordingNotify notify;
  node.RegisterNotify(&notify);
  node.RegisterNotify(&notify);  // once only
  EXPECT_EQ(node.FindItem(RANGE), -1);
  Control* size = new Control;
  node.AddController(size, "Size", SIZE, -1);
  node.AddController(new Control, "Range", RANGE, 0);  // before Size
  EXPECT_EQ(node.FindItem(SIZE), 1);
  EXPECT_EQ(node.GetController(SIZE), size);
  EXPECT_EQ(node.GetController(TrackId{1, 32}), nullptr) << "both words must match";
  Key(*size, 0, 2.0f);
  EXPECT_TRUE(node.RemoveItem(RANGE));
  EXPECT_FALSE(node.RemoveItem(RANGE));
  EXPECT_EQ(notify.calls, (std::vector<Call>{{NOTIFY_ITEM_ADDED, 0, 0, 2, 32},
                                             {NOTIFY_ITEM_ADDED, 0, 0, 1, 16},
                                             {NOTIFY_VALUE_CHANGED, 0, 1, 2, 32},
                                             {NOTIFY_ITEM_REMOVED, 0, 0, 1, 16}}));

  node.UnregisterNotify(&notify);
  notify.calls.clear();
  Key(*size, 10, 3.0f);
  node.AddController(new Control, "Range", RANGE, -1);
  EXPECT_TRUE(notify.calls.empty());
}

TEST(TrackViewNode, NotifierUnregisteredDuringACallIsNotCalledAgain) {
  ITrackViewNode node;
  RecordingNotify first, second;
  first.onCall = [&] { node.UnregisterNotify(&second); };
  node.RegisterNotify(&first);
  node.RegisterNotify(&second);
  node.AddController(new Control, "Range", RANGE, -1);
  EXPECT_EQ(first.calls.size(), 1u);
  EXPECT_TRUE(second.calls.empty());
}

TEST_F(ControllerUndo, SetValueInsideAHoldIsUndoableAndUndoNotifiesTheNode) {
  ITrackViewNode node;
  node.AddController(new Control, "Range", RANGE, -1);
  Control& range = *node.GetController(RANGE);
  Key(range, 0, 50.0f);
  RecordingNotify notify;
  node.RegisterNotify(&notify);

  theHold.Begin();
  Key(range, 0, 80.0f);
  theHold.Accept("Parameter Change");
  EXPECT_EQ(ValueAt(range, 0), 80.0f);

  notify.calls.clear();
  ASSERT_TRUE(theHold.Undo());
  EXPECT_EQ(ValueAt(range, 0), 50.0f);
  EXPECT_EQ(notify.calls, (std::vector<Call>{{NOTIFY_VALUE_CHANGED, 0, 0, 1, 16}}));
  ASSERT_TRUE(theHold.Redo());
  EXPECT_EQ(ValueAt(range, 0), 80.0f);
}

TEST_F(ControllerUndo, UndoAfterTheControllerIsGoneChangesNothing) {
  auto node = std::make_unique<ITrackViewNode>();
  node->AddController(new Control, "Range", RANGE, -1);
  node->AddController(new Control, "Size", SIZE, -1);
  theHold.Begin();
  Key(*node->GetController(RANGE), 0, 1.0f);
  Key(*node->GetController(SIZE), 0, 2.0f);
  theHold.Accept("Parameter Change");
  node->RemoveItem(RANGE);
  Control& size = *node->GetController(SIZE);
  ASSERT_TRUE(theHold.Undo());
  EXPECT_TRUE(size.Keys().empty()) << "the surviving controller is still restored";
  ASSERT_TRUE(theHold.Redo());
  node.reset();
  EXPECT_TRUE(theHold.Undo());
}

}  // namespace
