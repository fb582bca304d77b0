#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/sample_module.h"
#include "platform/scripted_user.h"

namespace {

// The test holds its own reference to the sample module, so the module's
// record of attach and detach calls survives the loader's unloading it.
class ModuleLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    own = dlopen(KESTRION_SAMPLE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(own, nullptr) << dlerror();
    setAttachResult =
        reinterpret_cast<SampleSetAttachResultFn>(dlsym(own, "SampleSetAttachResult"));
    events = reinterpret_cast<SampleEventsFn>(dlsym(own, "SampleEvents"));
    ASSERT_TRUE(setAttachResult && events);
    setAttachResult(TRUE);
    TakeReasons();
  }
  void TearDown() override {
    if (own) dlclose(own);
  }

  // The attach/detach reasons since the last call; each call's instance
  // handle must be `instance` when one is given.
  std::vector<DWORD> TakeReasons(HINSTANCE instance = nullptr) {
    SampleEvent buffer[SAMPLE_MAX_EVENTS];
    std::vector<DWORD> reasons;
    for (int i = 0, n = events(buffer, SAMPLE_MAX_EVENTS, TRUE); i < n; ++i) {
      if (instance) {
        EXPECT_EQ(buffer[i].instance, instance);
      }
      reasons.push_back(buffer[i].reason);
    }
    return reasons;
  }

  void* own = nullptr;
  SampleSetAttachResultFn setAttachResult = nullptr;
  SampleEventsFn events = nullptr;
};

using ReasonList = std::vector<DWORD>;

TEST_F(ModuleLoader, AttachesAndDetachesWithTheInstanceThatFindsItsResources) {
  HMODULE module = LoadLibraryA(KESTRION_SAMPLE_MODULE_PATH);
  ASSERT_NE(module, nullptr) << platform::LoaderError();
  EXPECT_EQ(TakeReasons(module), ReasonList{DLL_PROCESS_ATTACH});
  EXPECT_EQ(GetProcAddress(module, "SampleEvents"), reinterpret_cast<void*>(events));
  EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);

  const auto* bitmap = static_cast<const BitmapResource*>(
      platform::FindModuleResource(module, RT_BITMAP_TYPE, SAMPLE_BITMAP));
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap->bits[bitmap->width + 2], 9);
  EXPECT_EQ(platform::FindModuleResource(module, RT_BITMAP_TYPE, SAMPLE_DIALOG), nullptr);
  platform::User().Clear();
  platform::User().Click(IDOK);
  auto proc = [](HWND dialog, UINT msg, WPARAM wParam, LPARAM) -> INT_PTR {
    if (msg == WM_COMMAND) EndDialog(dialog, LOWORD(wParam) == IDOK ? 7 : 0);
    return msg == WM_COMMAND;
  };
  EXPECT_EQ(DialogBoxParamA(module, MAKEINTRESOURCEA(SAMPLE_DIALOG), nullptr, proc, 0), 7);

  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(TakeReasons(module), ReasonList{DLL_PROCESS_DETACH});
  EXPECT_FALSE(FreeLibrary(module));
  EXPECT_EQ(platform::FindModuleResource(module, RT_BITMAP_TYPE, SAMPLE_BITMAP), nullptr);
}

TEST_F(ModuleLoader, LoadingTwiceSharesOneHandleAndOneAttach) {
  HMODULE first = LoadLibraryA(KESTRION_SAMPLE_MODULE_PATH);
  ASSERT_NE(first, nullptr) << platform::LoaderError();
  EXPECT_EQ(LoadLibraryA(KESTRION_SAMPLE_MODULE_PATH), first);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(TakeReasons(first), ReasonList{DLL_PROCESS_ATTACH});
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(TakeReasons(first), ReasonList{DLL_PROCESS_DETACH});
}

TEST_F(ModuleLoader, FailuresReturnNullAndSayWhy) {
  setAttachResult(FALSE);
  EXPECT_EQ(LoadLibraryA(KESTRION_SAMPLE_MODULE_PATH), nullptr);
  EXPECT_NE(std::string(platform::LoaderError()).find("refused to attach"), std::string::npos);
  EXPECT_EQ(TakeReasons(), ReasonList{DLL_PROCESS_ATTACH});  // no detach without an attach

  EXPECT_EQ(LoadLibraryA("/nonexistent/KESTRION_MISSING.FLT"), nullptr);
  EXPECT_NE(std::string(platform::LoaderError()).find("KESTRION_MISSING.FLT"), std::string::npos);
  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
  EXPECT_TRUE(TakeReasons().empty());
}

}  // namespace
