// reference_frame.cpp: the reference frame and its render.
#include "tests/windows/reference_frame.h"

#include <cstring>

#include "host/filter_pipeline.h"
#include "host/progress_window.h"
#include "host/scene.h"
#include "kestrion/focus_config.h"

namespace kestrion_test {
namespace {

constexpr const char* FOCAL_NODE = "Focus01";
constexpr float FOCAL_DEPTH = 40.0f;

// A 32-bit linear congruential sequence: the same numbers from every
// compiler and library.
class Sequence {
 public:
  explicit Sequence(uint32_t seed) : state(seed) {}
  uint16_t Next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<uint16_t>(state >> 16);
  }

 private:
  uint32_t state;
};

void FillFrame(BitmapStorage& storage) {
  Sequence sequence(0x4B455354u);
  for (int y = 0; y < REFERENCE_HEIGHT; ++y) {
    for (int x = 0; x < REFERENCE_WIDTH; ++x) {
      const int i = y * REFERENCE_WIDTH + x;
      storage.Pixels()[i] = {sequence.Next(), sequence.Next(), sequence.Next(), sequence.Next()};
      // Depth from 10 at the left to about 70 at the right, a little deeper
      // further down; rows 40 to 44 are sky.
      const float depth = 10.0f + 0.625f * static_cast<float>(x) + 0.125f * static_cast<float>(y);
      storage.ZChannel()[i] = (y >= 40 && y < 45) ? Z_BACKGROUND : -depth;
    }
  }
}

}  // namespace

std::vector<uint8_t> RenderReferenceFrame(const std::string& modulePath, std::string& error) {
  HostInterface().Reset();
  std::unique_ptr<FilterModule> module = FilterModule::Load(modulePath, error);
  if (!module) return {};
  std::vector<uint8_t> bytes;
  {
    std::unique_ptr<ImageFilter> filter = module->CreateFilter();
    if (!filter) {
      error = "the module created no filter";
      return {};
    }
    HostInterface()
        .AddNode(FOCAL_NODE)
        .SetWorldTransform(0, Matrix3::Translation({0.0f, 0.0f, -FOCAL_DEPTH}));
    FocusConfig config{};
    config.magic = CONFIG_MAGIC;
    config.sourceMode = SOURCE_WHOLE_IMAGE;
    std::strncpy(config.focalObjectName, FOCAL_NODE, FOCAL_NAME_SIZE - 1);
    config.blurRange = 17.5f;
    config.blurSize = 6.0f;
    if (filter->LoadConfigure(&config) != 1) {
      error = "the filter refused the configuration";
      return {};
    }

    Bitmap bitmap(REFERENCE_WIDTH, REFERENCE_HEIGHT);
    BitmapStorage& storage = *bitmap.Storage();
    storage.CreateChannels(CHANNEL_Z);
    storage.CreateRenderInfo().worldToCam = Matrix3::Identity();
    FillFrame(storage);
    FilterFrame frame{&bitmap, {0, 0, 0}};
    ProgressWindow progress;
    if (RunFilter(*filter, frame, progress.Handle()) != 1) {
      error = "the render failed";
      return {};
    }
    for (int i = 0; i < REFERENCE_WIDTH * REFERENCE_HEIGHT; ++i) {
      const BMM_Color_64 p = storage.Pixels()[i];
      for (uint16_t channel : {p.r, p.g, p.b, p.a}) {
        bytes.push_back(static_cast<uint8_t>(channel));
        bytes.push_back(static_cast<uint8_t>(channel >> 8));
      }
    }
  }
  HostInterface().Reset();
  return bytes;
}

}  // namespace kestrion_test
