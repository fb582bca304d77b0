// ui_fixture.h: the module's dialog code linked into the test program, with
// an instance handle that carries the module's resources, and a fixture
// that resets the host's and the user's process-wide state around a test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "filter/focus_filter.h"
#include "host/hold.h"
#include "host/scene.h"
#include "host/tracks.h"
#include "platform/scripted_user.h"

class UiFixture : public ::testing::Test {
 protected:
  void SetUp() override { ResetHost(); }
  void TearDown() override { ResetHost(); }

  static void ResetHost() {
    theHold.Reset();
    HostInterface().Reset();
    platform::User().Clear();
  }

  static platform::ScriptedUser& User() { return platform::User(); }

  // The track's value at t, read from the host side.
  static float TrackValue(FocusFilter& filter, TrackId id, TimeValue t) {
    Control* control = filter.Node() ? filter.Node()->GetController(id) : nullptr;
    EXPECT_NE(control, nullptr);
    float value = -1.0f;
    Interval valid;
    if (control) control->GetValue(t, &value, valid, 1);
    return value;
  }

  static std::string Text(HWND dialog, int id) {
    char buffer[512];
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
  }

  FocusFilter filter;
};
