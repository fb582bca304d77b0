#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>

#include "blur/blur_plan.h"
#include "blur/radius_rows.h"
#include "blur/window_sums.h"
#include "blur/work_image.h"
#include "host/messages.h"

namespace {

// Where a pixel's ID comes from when the blur is limited to one ID: the
// material-effects channel when it was requested, else the object channel
// when that was, else nowhere. A requested channel that the host did not
// deliver, like no channel at all, gives every pixel ID 0.
struct IdSource {
  IdSource(const ImageBuffer& image, int32_t idFilter)
      : filter(static_cast<uint32_t>(idFilter)), all(idFilter == -1) {
    if (all) return;
    if (image.loadedChannels & CHANNEL_MTL_ID) {
      mtl = image.mtlChannel;
    } else if (image.loadedChannels & CHANNEL_OBJ_ID) {
      obj = image.objectChannel;
    }
    // Without an ID array every ID is 0: all pixels pass or none does.
    if (!mtl && !obj && filter == 0) all = true;
  }

  uint32_t filter;
  bool all;
  const uint8_t* mtl = nullptr;
  const uint16_t* obj = nullptr;
};

// The radii of the `count` pixels from element `first` on, 0 for those the
// ID filter excludes, with the vector loops `loops`; `nextRow` says that a
// row follows, whose Z is fetched meanwhile.
void RowRadii(const RadiusRule& rule, const IdSource& ids, const float* z, size_t first,
              int32_t count, int32_t* radii,
              window_runs::MeanLoops loops = window_runs::MeanLoops::Plain, bool nextRow = false) {
  if (z) {
    RadiusRow(rule, z + first, count, radii, loops, nextRow ? z + first + count : nullptr);
  } else {
    const int32_t r = BlurRadius(rule, 0.0f);
    for (int32_t x = 0; x < count; ++x) radii[x] = r;
  }
  if (!ids.all) {
    if (ids.mtl) {
      const uint8_t* idRow = ids.mtl + first;
      for (int32_t x = 0; x < count; ++x) radii[x] = idRow[x] == ids.filter ? radii[x] : 0;
    } else if (ids.obj) {
      const uint16_t* idRow = ids.obj + first;
      for (int32_t x = 0; x < count; ++x) radii[x] = idRow[x] == ids.filter ? radii[x] : 0;
    } else {
      for (int32_t x = 0; x < count; ++x) radii[x] = 0;
    }
  }
}

// Row y of the blur without a table: each window summed directly. The radii
// go in pieces through a scratch array on the stack, so that this way needs
// no memory at all.
void SumRowDirectly(WorkImage& image, const RadiusRule& rule, const IdSource& ids, int32_t y) {
  constexpr int32_t PIECE = 256;
  int32_t radii[PIECE];
  const size_t first = static_cast<size_t>(y) * image.width;
  BMM_Color_64* row = image.workPixels.get() + first;
  for (int32_t x = 0; x < image.width; x += PIECE) {
    const int32_t count = std::min(PIECE, image.width - x);
    RowRadii(rule, ids, image.zChannel, first + x, count, radii);
    for (int32_t i = 0; i < count; ++i) image.BoxAverage(x + i, y, radii[i], row[x + i]);
  }
}

}  // namespace

void WorkImage::BoxAverage(int32_t x, int32_t y, int32_t radius, BMM_Color_64& p) {
  if (radius < 1 || !sourcePixels) return;
  int64_t sumR = 0;
  int64_t sumG = 0;
  int64_t sumB = 0;
  int64_t count = 0;
  const int64_t y0 = static_cast<int64_t>(y) - radius;
  const int64_t y1 = static_cast<int64_t>(y) + radius;
  const int64_t x0 = static_cast<int64_t>(x) - radius;
  const int64_t x1 = static_cast<int64_t>(x) + radius;
  for (int64_t yy = y0 < 0 ? 0 : y0; yy <= y1 && yy < height; ++yy) {
    const BMM_Color_64* row = sourcePixels.get() + static_cast<size_t>(yy) * width;
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

void WorkImage::DepthBlur(BlurPlan& plan, int32_t idFilter, float focalDepth, float blurRange) {
  assert(plan.For(*this));
  abortFlag = 0;
  const RadiusRule rule(focalDepth, blurRange, plan.BlurSize(), Extent());
  const IdSource ids(*this, idFilter);
  // An image whose copies are missing has nothing to blur, but still
  // reports its rows.
  const bool blurring = workPixels && sourcePixels && rule.full >= 1;
  WindowSums* sums = blurring ? plan.Sums() : nullptr;
  if (sums) sums->Rewind();

  for (int32_t y = 0; y < height; ++y) {
    SendMessageA(progressWindow, HOST_PROGRESS, static_cast<WPARAM>(y), height - 1);
    SendMessageA(progressWindow, HOST_ABORT_QUERY, 0, reinterpret_cast<LPARAM>(&abortFlag));
    if (abortFlag) return;
    if (!blurring) continue;
    if (!sums) {
      SumRowDirectly(*this, rule, ids, y);
      continue;
    }
    // No radius exceeds the full one, for which the table was made. The
    // next row is fetched into the cache while this one is blurred.
    const size_t first = static_cast<size_t>(y) * width;
    BMM_Color_64* row = workPixels.get() + first;
    const bool last = y + 1 == height;
    RowRadii(rule, ids, zChannel, first, width, sums->Radii(), sums->Loops(), !last);
    sums->MeanRow(y, sums->Radii(), row, last ? nullptr : row + width);
  }
}
