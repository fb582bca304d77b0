// module_environment.cpp: attaches the statically linked module code once
// for the whole test program, as the loader would attach the module file.
#include <gtest/gtest.h>

#include "module/module.h"
#include "platform/resources.h"
#include "ui/resources.h"

namespace {

class ModuleEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    instance = platform::RegisterStaticModule(&moduleResourceTable);
    ASSERT_TRUE(DllMain(instance, DLL_PROCESS_ATTACH, nullptr));
  }
  void TearDown() override {
    DllMain(instance, DLL_PROCESS_DETACH, nullptr);
    platform::ReleaseStaticModule(instance);
  }

 private:
  HINSTANCE instance = nullptr;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

}  // namespace
