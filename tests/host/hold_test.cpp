#include "host/hold.h"

#include <gtest/gtest.h>

#include <map>

#include "host/tracks.h"

namespace {

void Key(Control& c, TimeValue t, float v) { c.SetValue(t, &v, 1, 1); }

using Keys = std::map<TimeValue, float>;

class UndoHold : public ::testing::Test {
 protected:
  void SetUp() override {
    theHold.Reset();
    Key(a, 0, 1.0f);
    Key(b, 0, 10.0f);
  }
  void TearDown() override { theHold.Reset(); }
  Control a;
  Control b;
};

TEST_F(UndoHold, AcceptedChangesFormOneStepThatUndoesAndRedoesTogether) {
  theHold.Begin();
  Key(a, 0, 2.0f);
  Key(b, 160, 20.0f);
  Key(a, 0, 3.0f);
  theHold.Accept("Parameter Change");
  EXPECT_FALSE(theHold.Holding());
  ASSERT_EQ(theHold.UndoDepth(), 1u);
  EXPECT_EQ(theHold.UndoName(), "Parameter Change");

  ASSERT_TRUE(theHold.Undo());
  EXPECT_EQ(a.Keys(), (Keys{{0, 1.0f}}));
  EXPECT_EQ(b.Keys(), (Keys{{0, 10.0f}}));
  EXPECT_EQ(theHold.UndoName(), "");
  EXPECT_FALSE(theHold.Undo());

  ASSERT_TRUE(theHold.Redo());
  EXPECT_EQ(a.Keys(), (Keys{{0, 3.0f}}));
  EXPECT_EQ(b.Keys(), (Keys{{0, 10.0f}, {160, 20.0f}}));
  EXPECT_FALSE(theHold.Redo());
}

TEST_F(UndoHold, CancelRestoresEveryChangeInReverseAndLeavesNoStep) {
  theHold.Begin();
  Key(a, 0, 2.0f);
  Key(a, 0, 3.0f);
  Key(a, 80, 4.0f);
  Key(b, 0, 11.0f);
  theHold.Cancel();
  EXPECT_EQ(a.Keys(), (Keys{{0, 1.0f}}));
  EXPECT_EQ(b.Keys(), (Keys{{0, 10.0f}}));
  EXPECT_EQ(theHold.UndoDepth(), 0u);
  EXPECT_FALSE(theHold.Holding());
  EXPECT_EQ(theHold.CancelCalls(), 1);
}

TEST_F(UndoHold, HoldsDoNotNestAndEmptyAcceptMakesNoStep) {
  theHold.Begin();
  Key(a, 0, 2.0f);
  theHold.Begin();
  Key(a, 0, 3.0f);
  theHold.Accept("First");
  EXPECT_EQ(theHold.UndoDepth(), 1u) << "the second Begin kept the first hold open";
  EXPECT_EQ(theHold.BeginCalls(), 2);

  ASSERT_TRUE(theHold.Undo());
  ASSERT_EQ(theHold.RedoDepth(), 1u);
  theHold.Begin();
  theHold.Accept("Nothing");
  EXPECT_EQ(theHold.UndoDepth(), 0u);
  EXPECT_EQ(theHold.RedoDepth(), 1u) << "an empty step must not drop the redo";

  theHold.Accept("Closed already");
  theHold.Cancel();
  EXPECT_EQ(theHold.AcceptCalls(), 3);
  EXPECT_EQ(a.Keys(), (Keys{{0, 1.0f}}));
}

TEST_F(UndoHold, NewStepDropsRedoAndChangesOutsideAHoldAreNotRecorded) {
  Key(a, 0, 5.0f);  // no hold open
  EXPECT_EQ(theHold.UndoDepth(), 0u);
  theHold.Begin();
  Key(a, 0, 6.0f);
  theHold.Accept("One");
  theHold.Begin();
  Key(a, 0, 7.0f);
  EXPECT_FALSE(theHold.Undo()) << "refused while a hold is open";
  theHold.Cancel();
  ASSERT_TRUE(theHold.Undo());
  EXPECT_EQ(a.Keys(), (Keys{{0, 5.0f}}));
  theHold.Begin();
  Key(b, 0, 12.0f);
  theHold.Accept("Two");
  EXPECT_EQ(theHold.RedoDepth(), 0u);
  EXPECT_FALSE(theHold.Redo());
}

}  // namespace
