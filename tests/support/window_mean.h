// window_mean.h: the tests' one oracle for a blurred pixel, summed directly
// from the blur's definition.
#pragma once

#include <algorithm>
#include <cstdint>

#include "host/types.h"

namespace kestrion_test {

// Pixel (x, y) of a width x height image with r, g, b replaced by the
// truncated means of the unblurred `pixels` over the square window of
// radius r about it, clipped to the image; alpha stays. Unchanged for r < 1.
inline BMM_Color_64 WindowMean(const BMM_Color_64* pixels, int width, int height, int x, int y,
                               int r) {
  BMM_Color_64 mean = pixels[static_cast<size_t>(y) * width + x];
  if (r < 1) return mean;
  uint64_t sum[3] = {0, 0, 0};
  uint64_t count = 0;
  for (int yy = std::max(0, y - r); yy <= std::min(height - 1, y + r); ++yy) {
    for (int xx = std::max(0, x - r); xx <= std::min(width - 1, x + r); ++xx) {
      const BMM_Color_64& p = pixels[static_cast<size_t>(yy) * width + xx];
      sum[0] += p.r;
      sum[1] += p.g;
      sum[2] += p.b;
      ++count;
    }
  }
  mean.r = static_cast<uint16_t>(sum[0] / count);
  mean.g = static_cast<uint16_t>(sum[1] / count);
  mean.b = static_cast<uint16_t>(sum[2] / count);
  return mean;
}

}  // namespace kestrion_test
