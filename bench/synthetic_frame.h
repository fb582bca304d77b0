// synthetic_frame.h: a rendered frame shaped like an outdoor render, for the
// benchmarks: the top 40% is sky without geometry (background), below it a
// ground plane whose depth runs from near the camera at the bottom edge to
// very far at the horizon, and a row of objects standing near the focal
// depth. Pixels carry a cheap texture with distinct r, g, b.
#pragma once

#include <algorithm>
#include <cstdint>

#include "host/bitmap.h"

namespace kestrion_bench {

// Repetitions of each timed benchmark, of which the report gives the
// median. On a shared machine a busy spell slows whatever runs during it;
// with the repetitions of all benchmarks interleaved (main.cpp) it slows a
// few of each benchmark's ten rather than all of one benchmark's, and the
// medians stay close to the quiet times.
constexpr int REPETITIONS = 10;

constexpr float FOCAL_DEPTH = 100.0f;
constexpr float BLUR_RANGE = 50.0f;
// The ground's depth at the bottom edge of the frame.
constexpr float NEAREST_GROUND = 40.0f;
constexpr double SKY_SHARE = 0.4;

class SyntheticFrame {
 public:
  SyntheticFrame(uint16_t w, uint16_t h) : bitmap(w, h) {
    BitmapStorage& s = *bitmap.Storage();
    s.CreateChannels(CHANNEL_Z);
    s.CreateRenderInfo();  // camera at the origin looking down -z
    const int horizon = static_cast<int>(h * SKY_SHARE);
    uint32_t noise = 12345;
    for (int y = 0; y < h; ++y) {
      // Perspective: depth grows as 1 / (distance below the horizon).
      const float ground = NEAREST_GROUND * static_cast<float>(h - horizon) /
                           static_cast<float>(std::max(1, y - horizon + 1));
      for (int x = 0; x < w; ++x) {
        const size_t i = static_cast<size_t>(y) * w + x;
        noise = noise * 1664525u + 1013904223u;
        const uint16_t grain = static_cast<uint16_t>(noise >> 20);  // 0 .. 4095
        float depth = 0.0f;
        if (InObject(x, y, w, h, depth)) {
          s.Pixels()[i] = {static_cast<uint16_t>(30000 + grain),
                           static_cast<uint16_t>(9000 + 2 * grain),
                           static_cast<uint16_t>(4000 + grain / 2), 65535};
          s.ZChannel()[i] = -depth;
        } else if (y < horizon) {
          s.Pixels()[i] = {static_cast<uint16_t>(8000 + 20 * y % 4000),
                           static_cast<uint16_t>(20000 + grain),
                           static_cast<uint16_t>(52000 - y % 9000), 0};
          s.ZChannel()[i] = Z_BACKGROUND;
        } else {
          s.Pixels()[i] = {static_cast<uint16_t>(12000 + 3 * grain),
                           static_cast<uint16_t>(26000 + grain),
                           static_cast<uint16_t>(7000 + x % 3000), 65535};
          s.ZChannel()[i] = -ground;
        }
        if (s.ZChannel()[i] <= Z_BACKGROUND) ++backgroundPixels;
      }
    }
  }

  double BackgroundShare() {
    return static_cast<double>(backgroundPixels) /
           (bitmap.Storage()->Width() * bitmap.Storage()->Height());
  }

  Bitmap bitmap;

 private:
  // Five upright boxes standing on the ground across the frame, at depths
  // 80 to 120, reaching a little above the horizon.
  static bool InObject(int x, int y, int w, int h, float& depth) {
    for (int k = 0; k < 5; ++k) {
      const int left = w * (2 + 4 * k) / 23;
      const int right = left + w / 12;
      const int top = h * (30 + 3 * k) / 100;
      const int bottom = h * (70 + 4 * k) / 100;
      if (x >= left && x < right && y >= top && y < bottom) {
        depth = 80.0f + 10.0f * k;
        return true;
      }
    }
    return false;
  }

  size_t backgroundPixels = 0;
};

}  // namespace kestrion_bench
