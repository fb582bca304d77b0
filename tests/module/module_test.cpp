// End-to-end: the built KESTRION.FLT loaded as the host loads it, and the
// attach handling called directly through the module's own code.
#include "module/module.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/custom_controls.h"
#include "host/filter_pipeline.h"
#include "host/progress_window.h"
#include "platform/common_controls.h"
#include "platform/resources.h"
#include "tests/support/scene_frame.h"
#include "ui/module_instance.h"
#include "ui/resources.h"

namespace {

using kestrion_test::AtDepth;
using TestFrame = kestrion_test::SceneFrame;
using Block = std::array<uint8_t, 284>;

class LoadedModule : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    module = FilterModule::Load(KESTRION_MODULE_PATH, error);
    ASSERT_NE(module, nullptr) << error;
  }
  void TearDown() override { HostInterface().Reset(); }

  static Block Save(ImageFilter& f) {
    Block b{};
    EXPECT_EQ(f.SaveConfigure(b.data()), 1);
    return b;
  }

  std::unique_ptr<FilterModule> module;
};

TEST_F(LoadedModule, RegistersOneClass) {
  EXPECT_STREQ(module->Description(), "Kestrion, Copyright (c) 2026 Kestrion Labs");
  EXPECT_EQ(module->Version(), 131073280u);
  EXPECT_EQ(module->ClassCount(), 1);
  ClassDesc* desc = module->Descriptor(0);
  ASSERT_NE(desc, nullptr);
  EXPECT_EQ(module->Descriptor(0), desc);
  EXPECT_EQ(module->Descriptor(1), nullptr);
  EXPECT_EQ(module->Descriptor(-1), nullptr);
  EXPECT_EQ(module->Descriptor(INT32_MIN), nullptr);
}

TEST_F(LoadedModule, DescriptorGivesItsFixedAnswers) {
  ClassDesc* desc = module->Descriptor(0);
  ASSERT_NE(desc, nullptr);
  EXPECT_EQ(desc->ClassIdentifier(), (ClassIdentity{0x78EF4C38, 0x737B4BCB}));
  EXPECT_EQ(desc->FamilyCode(), 3584u);
  EXPECT_STREQ(desc->CategoryText(), "Image Filter");
  EXPECT_STREQ(desc->ClassNameText(), "Kestrion");
  // The hooks' fixed answers, in order A to E and H to J.
  const int32_t hooks[] = {desc->DescriptorHookA(),  desc->DescriptorHookB(7),
                           desc->DescriptorHookC(7), desc->DescriptorHookD(7),
                           desc->DescriptorHookE(),  desc->DescriptorHookH(),
                           desc->DescriptorHookI(7), desc->DescriptorHookJ(7)};
  EXPECT_EQ(std::vector<int32_t>(std::begin(hooks), std::end(hooks)),
            (std::vector<int32_t>{1, 0, 0, 1, 0, 0, 0, 0}));
}

TEST_F(LoadedModule, CreatesDistinctFiltersWithDefaultRecords) {
  std::unique_ptr<ImageFilter> a = module->CreateFilter();
  std::unique_ptr<ImageFilter> b = module->CreateFilter();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a.get(), b.get());
  // The filter's own description is the descriptor's class name.
  EXPECT_EQ(a->DescriptionText(), module->Descriptor(0)->ClassNameText());

  Block defaults{};
  const uint8_t head[16] = {0x38, 0x4C, 0xEF, 0x78, 0xF2, 0x03};
  const uint8_t tail[8] = {0x00, 0x00, 0x48, 0x42, 0x00, 0x00, 0x00, 0x40};
  std::memcpy(defaults.data(), head, 16);
  std::memcpy(defaults.data() + 276, tail, 8);
  EXPECT_EQ(Save(*a), defaults);
  EXPECT_EQ(Save(*b), defaults);

  Block changed = defaults;
  changed[4] = 0xF4;  // sourceMode 1012
  ASSERT_EQ(a->LoadConfigure(changed.data()), 1);
  EXPECT_EQ(a->ChannelsRequired(), 5u);
  EXPECT_EQ(Save(*b), defaults);
}

TEST_F(LoadedModule, RendersAFrameBlurredAboutTheFocalNode) {
  HostInterface().Reset();
  HostInterface().AddNode("Focus").SetWorldTransform(0, Matrix3::Translation(AtDepth(100.0f)));
  TestFrame frame(CHANNEL_Z);
  frame.FillDepth(100.0f);
  for (int x = 4; x < kestrion_test::W; ++x) frame.SetDepth(x, 3, 160.0f);

  std::unique_ptr<ImageFilter> filter = module->CreateFilter();
  ASSERT_NE(filter, nullptr);
  Block record = Save(*filter);
  std::memcpy(record.data() + 16, "Focus", 6);
  ASSERT_EQ(filter->LoadConfigure(record.data()), 1);

  ProgressWindow progress;
  FilterFrame run{&frame.bitmap, ImageFilterInfo{0, 0, 0}};
  ASSERT_EQ(RunFilter(*filter, run, progress.Handle()), 1);
  // Range 50, size 2: depth 160 is past the range (radius 2); depth 100 is
  // in focus.
  for (int y = 0; y < kestrion_test::H; ++y) {
    for (int x = 0; x < kestrion_test::W; ++x) {
      const BMM_Color_64 expected =
          (y == 3 && x >= 4) ? frame.Mean(x, y, 2) : frame.original[y * kestrion_test::W + x];
      ASSERT_EQ(frame.Pixel(x, y), expected) << x << ", " << y;
    }
  }
  EXPECT_EQ(progress.AbortQueries(), kestrion_test::H);
}

// The attach handling of the module's own code, under an instance handle
// of this test program.
class ModuleAttach : public ::testing::Test {
 protected:
  void SetUp() override {
    instance = platform::RegisterStaticModule(&moduleResourceTable);
    ASSERT_NE(instance, nullptr);
    ASSERT_EQ(moduleInstance, nullptr);
  }
  void TearDown() override {
    DllMain(instance, DLL_PROCESS_DETACH, nullptr);
    platform::ReleaseStaticModule(instance);
  }
  static bool ControlClassesRegistered() {
    HWND spinner =
        CreateWindowExA(0, SPINNER_CLASS, "", WS_CHILD, 0, 0, 10, 10, nullptr, 0, nullptr, nullptr);
    HWND edit = CreateWindowExA(0, CUSTEDIT_CLASS, "", WS_CHILD, 0, 0, 10, 10, nullptr, 0, nullptr,
                                nullptr);
    const bool both = spinner && edit;
    if (spinner) DestroyWindow(spinner);
    if (edit) DestroyWindow(edit);
    return both;
  }

  HINSTANCE instance = nullptr;
};

TEST_F(ModuleAttach, EachAttachInitialisesTheControlsOnce) {
  const int commonBefore = platform::CommonControlsInitCount();
  ASSERT_EQ(DllMain(instance, DLL_PROCESS_ATTACH, nullptr), TRUE);
  EXPECT_EQ(moduleInstance, instance);
  EXPECT_EQ(controlsInitialised, 1);
  EXPECT_TRUE(ControlClassesRegistered());
  EXPECT_EQ(platform::CommonControlsInitCount(), commonBefore + 1);

  // Thread notifications change nothing.
  EXPECT_EQ(DllMain(instance, DLL_THREAD_ATTACH, nullptr), TRUE);
  EXPECT_EQ(DllMain(instance, DLL_THREAD_DETACH, nullptr), TRUE);
  EXPECT_EQ(moduleInstance, instance);

  ASSERT_EQ(DllMain(instance, DLL_PROCESS_DETACH, nullptr), TRUE);
  EXPECT_EQ(moduleInstance, nullptr);
  EXPECT_EQ(controlsInitialised, 0);

  // Forget the classes, so that the second attach must register them anew.
  UnregisterClassA(SPINNER_CLASS, instance);
  UnregisterClassA(CUSTEDIT_CLASS, instance);
  ASSERT_FALSE(ControlClassesRegistered());
  ASSERT_EQ(DllMain(instance, DLL_PROCESS_ATTACH, nullptr), TRUE);
  EXPECT_TRUE(ControlClassesRegistered());
  EXPECT_EQ(platform::CommonControlsInitCount(), commonBefore + 2);
}

TEST_F(ModuleAttach, ASecondAttachFails) {
  ASSERT_EQ(DllMain(instance, DLL_PROCESS_ATTACH, nullptr), TRUE);
  const int commonAfterFirst = platform::CommonControlsInitCount();
  HINSTANCE other = platform::RegisterStaticModule(&moduleResourceTable);
  EXPECT_EQ(DllMain(other, DLL_PROCESS_ATTACH, nullptr), FALSE);
  EXPECT_EQ(moduleInstance, instance);
  EXPECT_EQ(platform::CommonControlsInitCount(), commonAfterFirst);
  platform::ReleaseStaticModule(other);
}

}  // namespace
