// scene_frame.h: a small rendered frame in a scene, for the filter, module
// and end-to-end tests.
//
// The frame is 7 x 5 with every pixel distinct in r, g, b and a, so that a
// flip, a shift or a channel swap shows. The camera looks along world y:
// a world point's depth is its y plus CAMERA_OFFSET, so a node's depth
// depends on its y alone, never on its z.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "filter/focus_filter.h"
#include "host/bitmap.h"
#include "host/scene.h"
#include "tests/support/window_mean.h"

namespace kestrion_test {

constexpr int W = 7;
constexpr int H = 5;
constexpr float CAMERA_OFFSET = 80.0f;

inline Matrix3 WorldToCamera() {
  Matrix3 m{};
  m.SetRow(0, {1.0f, 0.0f, 0.0f});
  m.SetRow(1, {0.0f, 0.0f, -1.0f});
  m.SetRow(2, {0.0f, 1.0f, 0.0f});
  m.SetRow(3, {-5.0f, 7.0f, -CAMERA_OFFSET});
  return m;
}

// A world position whose camera-space depth is `depth` (x and z arbitrary).
inline Point3 AtDepth(float depth) { return {13.0f, depth - CAMERA_OFFSET, -21.0f}; }

inline BMM_Color_64 ScenePixel(int x, int y) {
  return {
      static_cast<uint16_t>(1000 * x + 37 * y + 11), static_cast<uint16_t>(500 + 3000 * y + 7 * x),
      static_cast<uint16_t>(60000 - 900 * x - 1100 * y), static_cast<uint16_t>(100 + x + 10 * y)};
}

struct SceneFrame {
  Bitmap bitmap{W, H};
  std::vector<BMM_Color_64> original;

  explicit SceneFrame(uint32_t channels = CHANNEL_Z, TimeValue renderTime = 0) {
    BitmapStorage& s = Storage();
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) s.Pixels()[y * W + x] = ScenePixel(x, y);
    }
    original.assign(s.Pixels(), s.Pixels() + W * H);
    if (channels) s.CreateChannels(channels);
    RenderInfo& info = s.CreateRenderInfo();
    info.renderTime = renderTime;
    info.worldToCam = WorldToCamera();
  }

  BitmapStorage& Storage() { return *bitmap.Storage(); }
  BMM_Color_64 Pixel(int x, int y) { return Storage().Pixels()[y * W + x]; }
  // Sets the Z value of a pixel at `depth` (the renderer stores -depth).
  void SetDepth(int x, int y, float depth) { Storage().ZChannel()[y * W + x] = -depth; }
  void SetBackground(int x, int y) { Storage().ZChannel()[y * W + x] = Z_BACKGROUND; }
  void FillDepth(float depth) {
    for (int i = 0; i < W * H; ++i) Storage().ZChannel()[i] = -depth;
  }
  bool Unchanged() {
    return std::memcmp(Storage().Pixels(), original.data(), sizeof(BMM_Color_64) * W * H) == 0;
  }

  // The original pixel (x, y) with r, g, b replaced by the plain mean of the
  // original pixels in the square of radius r about it, clipped to the frame.
  BMM_Color_64 Mean(int x, int y, int r) const {
    return WindowMean(original.data(), W, H, x, y, r);
  }
};

inline void SetFocalName(FocusConfig& config, const char* name) {
  std::memset(config.focalObjectName, 0, sizeof(config.focalObjectName));
  std::strncpy(config.focalObjectName, name, sizeof(config.focalObjectName) - 1);
}

}  // namespace kestrion_test
