// test_frame.h: rendered frames of any size for the working-image and blur
// tests and the benchmarks, and the reference blur: every pixel by the
// window-mean oracle (tests/support/window_mean.h).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "blur/blur_plan.h"
#include "blur/work_image.h"
#include "host/bitmap.h"
#include "host/types.h"
#include "tests/support/window_mean.h"

namespace kestrion_test {

// A pixel whose r, g, b and a all differ and change differently along x and
// y, so that a flip, a transpose or a channel swap shows. The squares keep a
// window's mean from equalling its centre (for frames up to about 13 x 11).
inline BMM_Color_64 PatternPixel(int x, int y) {
  return {static_cast<uint16_t>(7 + 101 * x + 1009 * y + 37 * x * x),
          static_cast<uint16_t>(40000 - 53 * x - 307 * y - 29 * y * y),
          static_cast<uint16_t>(5 + 3 * x + 211 * y + 17 * x * x * y),
          static_cast<uint16_t>(60000 - x - 10 * y)};
}

// A bitmap with a storage of the given size, the requested channels and the
// pattern pixels.
class TestFrame {
 public:
  TestFrame(uint16_t w, uint16_t h, uint32_t channels = CHANNEL_Z) : bitmap(w, h) {
    Storage().CreateChannels(channels);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) Pixel(x, y) = PatternPixel(x, y);
    }
  }

  BitmapStorage& Storage() { return *bitmap.Storage(); }
  int Width() { return Storage().Width(); }
  int Height() { return Storage().Height(); }
  size_t Index(int x, int y) { return static_cast<size_t>(y) * Width() + x; }
  BMM_Color_64& Pixel(int x, int y) { return Storage().Pixels()[Index(x, y)]; }
  float& Z(int x, int y) { return Storage().ZChannel()[Index(x, y)]; }
  uint8_t& Mtl(int x, int y) { return Storage().MtlChannel()[Index(x, y)]; }
  uint16_t& Obj(int x, int y) { return Storage().ObjChannel()[Index(x, y)]; }

  void FillPixels(BMM_Color_64 p) { std::fill_n(Storage().Pixels(), Width() * Height(), p); }
  void FillZ(float z) { std::fill_n(Storage().ZChannel(), Width() * Height(), z); }

  std::vector<BMM_Color_64> PixelsCopy() {
    return {Storage().Pixels(), Storage().Pixels() + static_cast<size_t>(Width()) * Height()};
  }

  Bitmap bitmap;
};

// Plans the blur of `image` and runs it, as the render pass does.
inline void RunBlur(WorkImage& image, int32_t idFilter, float focalDepth, float range, float size,
                    VectorWidth vectors = VectorWidth::Widest) {
  BlurPlan plan(image, size, vectors);
  image.DepthBlur(plan, idFilter, focalDepth, range);
}

// The blur's inputs, as the reference blur takes them.
struct BlurInput {
  int width = 0;
  int height = 0;
  std::vector<BMM_Color_64> pixels;
  const float* z = nullptr;
  const uint8_t* mtl = nullptr;
  const uint16_t* obj = nullptr;
  uint32_t loadedChannels = 0;
};

// The depth blur from its definition: every pixel whose ID passes the filter
// becomes the truncated mean of r, g, b over the square window of radius r
// about it, clipped to the image, read from the unblurred pixels. The radius
// is trunc(distance * size / range) capped at trunc(size) with geometry,
// trunc(size) without; range 0 gives 0 at the focal depth and trunc(size)
// elsewhere. A radius below 1 (or not a number) leaves the pixel alone.
inline std::vector<BMM_Color_64> ReferenceBlur(const BlurInput& in, int32_t idFilter,
                                               float focalDepth, float range, float size) {
  std::vector<BMM_Color_64> out = in.pixels;
  for (int y = 0; y < in.height; ++y) {
    for (int x = 0; x < in.width; ++x) {
      const size_t i = static_cast<size_t>(y) * in.width + x;
      if (idFilter != -1) {
        uint32_t id = 0;
        if (in.loadedChannels & CHANNEL_MTL_ID) {
          id = in.mtl ? in.mtl[i] : 0;
        } else if (in.loadedChannels & CHANNEL_OBJ_ID) {
          id = in.obj ? in.obj[i] : 0;
        }
        if (id != static_cast<uint32_t>(idFilter)) continue;
      }
      const double z = in.z ? in.z[i] : 0.0;
      const double full = std::trunc(static_cast<double>(size));
      double radius = full;
      if (z > -1.0e30) {
        const double distance = std::fabs(-z - static_cast<double>(focalDepth));
        if (range == 0.0f) {
          radius = distance == 0.0 ? 0.0 : full;
        } else {
          radius = std::min(std::trunc(distance * size / static_cast<double>(range)), full);
        }
      }
      if (!(radius >= 1.0)) continue;
      // Every radius above the image's larger side gives the same window.
      const double extent = std::max(in.width, in.height);
      out[i] = WindowMean(in.pixels.data(), in.width, in.height, x, y,
                          static_cast<int>(std::min(radius, extent)));
    }
  }
  return out;
}

}  // namespace kestrion_test
