// window_mean.h: the tests' one oracle for a blurred pixel, summed directly
// from the blur's definition, for the module's 16-bit pixels and for the
// float planes filtered through it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// Every value of `output` against the exact mean of `input` (width x
// height, row-major) over the square window of radius radius(x, y) about
// it, clipped to the frame: within `relative` of the window's largest
// magnitude plus `absolute`. Reports the first five values outside, naming
// `name`.
inline void ExpectFloatWindowMeans(const std::vector<float>& input,
                                   const std::vector<float>& output, int width, int height,
                                   const std::function<int(int x, int y)>& radius,
                                   const std::string& name, double relative = 5e-4,
                                   double absolute = 1e-6) {
  ASSERT_EQ(input.size(), static_cast<size_t>(width) * height) << name;
  ASSERT_EQ(output.size(), input.size()) << name;
  int failures = 0;
  for (int y = 0; y < height && failures < 5; ++y) {
    for (int x = 0; x < width && failures < 5; ++x) {
      const int r = radius(x, y);
      double sum = 0.0;
      double largest = 0.0;
      int count = 0;
      for (int yy = std::max(0, y - r); yy <= std::min(height - 1, y + r); ++yy) {
        for (int xx = std::max(0, x - r); xx <= std::min(width - 1, x + r); ++xx) {
          const double value = input[static_cast<size_t>(yy) * width + xx];
          sum += value;
          largest = std::max(largest, std::fabs(value));
          ++count;
        }
      }
      const double exact = sum / count;
      const double bound = relative * largest + absolute;
      const double got = output[static_cast<size_t>(y) * width + x];
      if (!(std::fabs(got - exact) <= bound)) {
        ADD_FAILURE() << name << " at (" << x << ", " << y << ") radius " << r << ": " << got
                      << " against " << exact << ", bound " << bound;
        ++failures;
      }
    }
  }
}

}  // namespace kestrion_test
