#include "host/filter_pipeline.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// The directory of this test program, where the build puts the libraries.
std::string BinaryDir() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<size_t>(n));
  return path.substr(0, path.find_last_of('/'));
}

TEST(FilterModuleLoad, MissingFileFailsWithItsName) {
  std::string error;
  EXPECT_EQ(FilterModule::Load("/nonexistent/KESTRION.FLT", error), nullptr);
  EXPECT_NE(error.find("/nonexistent/KESTRION.FLT"), std::string::npos) << error;
}

TEST(FilterModuleLoad, LibraryWithoutRegistrationFunctionsIsRefusedByName) {
  std::string error;
  const std::string path = BinaryDir() + "/libkestrion_platform.so";
  EXPECT_EQ(FilterModule::Load(path, error), nullptr);
  EXPECT_NE(error.find("LibDescription"), std::string::npos) << error;
  EXPECT_NE(error.find(path), std::string::npos) << error;
}

// Records the host's calls in order.
class CallOrderFilter : public ImageFilter {
 public:
  const char* DescriptionText() override { return ""; }
  const char* AuthorText() override { return ""; }
  const char* CopyrightText() override { return ""; }
  uint32_t VersionNumber() override { return 0; }
  uint32_t CapabilityFlags() override { return 0; }
  int32_t ShowAboutBox(HWND) override { return 0; }
  uint32_t ChannelsRequired() override {
    calls.push_back("channels");
    return 1;
  }
  void SetSource(Bitmap* map) override {
    calls.push_back(map && Source() == nullptr ? "source" : "source?");
    ImageFilter::SetSource(map);
  }
  void SetFilterInfo(ImageFilterInfo* info) override {
    calls.push_back(info && info->frameRendered == 12 ? "info" : "info?");
    ImageFilter::SetFilterInfo(info);
  }
  int32_t Render(HWND progress) override {
    calls.push_back(progress == expectedProgress && Source() && FilterInfo() ? "render"
                                                                             : "render?");
    return 7;
  }
  std::vector<std::string> calls;
  HWND expectedProgress = nullptr;
};

TEST(RunFilter, AsksChannelsThenSetsSourceAndInfoThenRenders) {
  Bitmap map(7, 5);
  FilterFrame frame{&map, ImageFilterInfo{3, 20, 12}};
  CallOrderFilter filter;
  filter.expectedProgress = reinterpret_cast<HWND>(&frame);  // any distinct handle
  EXPECT_EQ(RunFilter(filter, frame, filter.expectedProgress), 7);
  EXPECT_EQ(filter.calls, (std::vector<std::string>{"channels", "source", "info", "render"}));
  EXPECT_EQ(filter.FilterInfo(), &frame.info);
}

}  // namespace
