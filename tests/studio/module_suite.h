// module_suite.h: a test suite on KESTRION.FLT loaded once per suite, as
// the host loads it, with the host's scene, undo and scripted user cleared
// around each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host/filter_pipeline.h"
#include "host/hold.h"
#include "host/scene.h"
#include "platform/scripted_user.h"

class ModuleSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    module = FilterModule::Load(KESTRION_MODULE_PATH, error).release();
    ASSERT_NE(module, nullptr) << error;
  }
  static void TearDownTestSuite() {
    delete module;
    module = nullptr;
  }
  static void ClearHost() {
    HostInterface().Reset();
    theHold.Reset();
    platform::User().Clear();
  }

  static inline FilterModule* module = nullptr;
};
