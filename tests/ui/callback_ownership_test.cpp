// The filter owns the dialog's callback objects through deleters defined
// with their classes; destroying the filter frees what it still holds.
#include <gtest/gtest.h>

#include <memory>

#include "filter/focus_filter.h"
#include "ui/node_change_notifier.h"
#include "ui/object_picker.h"

namespace {

int destroyed = 0;

struct CountedNotifier : NodeChangeNotifier {
  CountedNotifier() : NodeChangeNotifier(nullptr) {}
  ~CountedNotifier() override { ++destroyed; }
};

struct CountedPicker : ObjectPicker {
  explicit CountedPicker(FocusFilter* filter) : ObjectPicker(filter) {}
  ~CountedPicker() override { ++destroyed; }
};

TEST(CallbackOwnership, DestroyingTheFilterFreesItsNotifierAndPicker) {
  destroyed = 0;
  auto filter = std::make_unique<FocusFilter>();
  filter->nodeNotifier.reset(new CountedNotifier);
  filter->picker.reset(new CountedPicker(filter.get()));
  filter.reset();
  EXPECT_EQ(destroyed, 2);
}

TEST(CallbackOwnership, ReplacingOrResettingFreesTheOneHeld) {
  destroyed = 0;
  FocusFilter filter;
  filter.picker.reset(new CountedPicker(&filter));
  filter.picker.reset(new CountedPicker(&filter));
  EXPECT_EQ(destroyed, 1);
  filter.nodeNotifier.reset(new CountedNotifier);
  filter.nodeNotifier.reset();
  filter.picker.reset();
  EXPECT_EQ(destroyed, 3);
}

}  // namespace
