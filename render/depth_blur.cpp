#include <cmath>
#include <cstdint>

#include "host/messages.h"
#include "render/work_image.h"

namespace {

// The blur radius of a pixel with Z value z.
//
// With geometry (z > -1.0e30): trunc(|(-z) - focalDepth| * size / range),
// capped at trunc(size). Without geometry (or a NaN z): trunc(size).
// Computed in double; the cap is applied before narrowing, and the value is
// clamped to `extent` (a window wider than the image averages the whole
// image either way), so no conversion to int can overflow. A NaN radius
// (0 * size / 0, or a NaN size) leaves the pixel unchanged.
//
// A range of 0 is the limit of a shrinking range: a pixel exactly at the
// focal depth keeps its colour and every other pixel gets the full size.
int32_t Radius(float z, double focalDepth, double range, double size, int32_t extent) {
  const double cap = std::trunc(size);
  double r;
  if (z > -1.0e30f) {
    const double d = std::fabs(-static_cast<double>(z) - focalDepth);
    if (range == 0.0) {
      r = d == 0.0 ? 0.0 : cap;
    } else {
      r = std::trunc((d * size) / range);
    }
  } else {
    r = cap;
  }
  if (r > cap) r = cap;
  if (std::isnan(r) || r < 1.0) return 0;
  if (r > extent) return extent;
  return static_cast<int32_t>(r);
}

}  // namespace

void WorkImage::BoxAverage(int32_t x, int32_t y, int32_t radius, BMM_Color_64& p) {
  if (radius < 1) return;
  int64_t sumR = 0;
  int64_t sumG = 0;
  int64_t sumB = 0;
  int64_t count = 0;
  const int64_t y0 = static_cast<int64_t>(y) - radius;
  const int64_t y1 = static_cast<int64_t>(y) + radius;
  const int64_t x0 = static_cast<int64_t>(x) - radius;
  const int64_t x1 = static_cast<int64_t>(x) + radius;
  for (int64_t yy = y0 < 0 ? 0 : y0; yy <= y1 && yy < height; ++yy) {
    const BMM_Color_64* row = sourcePixels + static_cast<size_t>(yy) * width;
    for (int64_t xx = x0 < 0 ? 0 : x0; xx <= x1 && xx < width; ++xx) {
      sumR += row[xx].r;
      sumG += row[xx].g;
      sumB += row[xx].b;
      ++count;
    }
  }
  if (count == 0) return;
  p.r = static_cast<uint16_t>(sumR / count);
  p.g = static_cast<uint16_t>(sumG / count);
  p.b = static_cast<uint16_t>(sumB / count);
}

void WorkImage::DepthBlur(int32_t idFilter, float focalDepth, float blurRange, float blurSize) {
  abortFlag = 0;
  const int32_t extent = width > height ? width : height;
  for (int32_t y = 0; y < height; ++y) {
    SendMessageA(progressWindow, HOST_PROGRESS, static_cast<WPARAM>(y), height - 1);
    SendMessageA(progressWindow, HOST_ABORT_QUERY, 0, reinterpret_cast<LPARAM>(&abortFlag));
    if (abortFlag) return;
    for (int32_t x = 0; x < width; ++x) {
      const size_t i = static_cast<size_t>(y) * width + x;
      if (idFilter != -1) {
        uint32_t id = 0;
        if (loadedChannels & CHANNEL_MTL_ID) {
          id = mtlChannel ? mtlChannel[i] : 0;
        } else if (loadedChannels & CHANNEL_OBJ_ID) {
          id = objectChannel ? objectChannel[i] : 0;
        }
        if (id != static_cast<uint32_t>(idFilter)) continue;
      }
      BMM_Color_64 p = workPixels[i];
      const float z = zChannel ? zChannel[i] : 0.0f;
      BoxAverage(x, y, Radius(z, focalDepth, blurRange, blurSize, extent), p);
      workPixels[i] = p;
    }
  }
}
