#include <algorithm>
#include <cmath>
#include <cstdint>

#include "host/messages.h"
#include "blur/window_sums.h"
#include "blur/work_image.h"

namespace {

// The blur radius of a pixel with Z value z.
//
// With geometry (z > -1.0e30): trunc(|(-z) - focalDepth| * size / range),
// multiplied first and divided second, in double, capped at trunc(size).
// Without geometry (or a NaN z): trunc(size). A radius below 1, or not a
// number (0 * size / 0, a NaN size or focal depth), leaves the pixel alone.
//
// Radii are also capped at the image's larger side, where a window covers
// the whole image from any pixel: every larger radius gives the same window,
// and the cap comes before the value is narrowed, so no quotient, however
// large or infinite, reaches an undefined conversion to int. Capping before
// truncating gives the same radius as truncating first, as the cap is whole.
//
// A range of 0 is the limit of a shrinking range: a pixel exactly at the
// focal depth keeps its colour and every other pixel gets the full size.
class RadiusRule {
 public:
  RadiusRule(float focalDepth, float range, float size, int32_t extent)
      : focal(focalDepth),
        range(range),
        size(size),
        rangeIsZero(range == 0.0f),
        ordinary(std::isfinite(focalDepth) && range > 0.0f && std::isfinite(range) && size > 0.0f &&
                 std::isfinite(size)) {
    const double whole = std::trunc(static_cast<double>(size));
    limit = whole > extent ? extent : whole;  // NaN stays NaN
    full = limit >= 1.0 ? static_cast<int32_t>(limit) : 0;
  }

  // The radius given to background pixels, which no radius exceeds.
  int32_t Full() const { return full; }

  int32_t operator()(float z) const {
    if (!(z > Z_BACKGROUND)) return full;
    const double distance = std::fabs(-static_cast<double>(z) - focal);
    if (rangeIsZero) return distance == 0.0 ? 0 : full;
    return Bounded((distance * size) / range);
  }

  // The radii of `count` pixels from their Z values: operator() written
  // without branches (the background's choice last, the cap as std::min),
  // so that the compiler vectorises it.
  void Row(const float* z, int32_t count, int32_t* radii) const {
    if (rangeIsZero) {
      for (int32_t x = 0; x < count; ++x) radii[x] = (*this)(z[x]);
      return;
    }
    if (ordinary) {
      // Finite focal depth, size and range, both positive: the quotient of
      // a pixel with geometry lies in 0 .. +infinity (never NaN), so the
      // capped value converts as it is, a value below 1 giving radius 0.
      // |z + focal| is |(-z) - focal|: negation is exact and rounding is
      // symmetric. The test for geometry is made on the floats themselves.
      for (int32_t x = 0; x < count; ++x) {
        const double quotient = (std::fabs(static_cast<double>(z[x]) + focal) * size) / range;
        const int32_t radius = static_cast<int32_t>(std::min(quotient, limit));
        radii[x] = z[x] > Z_BACKGROUND ? radius : full;
      }
      return;
    }
    const double background = Z_BACKGROUND;
    const double fullRadius = full;
    for (int32_t x = 0; x < count; ++x) {
      const double zd = z[x];
      const double quotient = (std::fabs(-zd - focal) * size) / range;
      const double capped = std::min(quotient, limit);  // a NaN quotient stays NaN
      const double radius = capped >= 1.0 ? capped : 0.0;
      radii[x] = static_cast<int32_t>(zd > background ? radius : fullRadius);
    }
  }

 private:
  // min(q, limit) truncated, or 0 below 1 or for NaN; never converts a
  // value outside 0 .. limit.
  int32_t Bounded(double quotient) const {
    const double r = limit < quotient ? limit : quotient;  // a NaN quotient stays NaN
    return static_cast<int32_t>(r >= 1.0 ? r : 0.0);
  }

  double focal;
  double range;
  double size;
  bool rangeIsZero;
  bool ordinary;  // see Row
  double limit;
  int32_t full;
};

int32_t Extent(int32_t width, int32_t height) { return width > height ? width : height; }

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

  bool Passes(size_t i) const {
    if (all) return true;
    if (mtl) return mtl[i] == filter;
    if (obj) return obj[i] == filter;
    return false;
  }

  uint32_t filter;
  bool all;
  const uint8_t* mtl = nullptr;
  const uint16_t* obj = nullptr;
};

// The radii of the `count` pixels from element `first` on, 0 for those the
// ID filter excludes.
void RowRadii(const RadiusRule& rule, const IdSource& ids, const float* z, size_t first,
              int32_t count, int32_t* radii) {
  if (z) {
    rule.Row(z + first, count, radii);
  } else {
    const int32_t r = rule(0.0f);
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

}  // namespace

int WorkImage::PrepareBlur(float blurSize) {
  if (!Allocated()) return 0;
  const int32_t largest = RadiusRule(0.0f, 1.0f, blurSize, Extent(width, height)).Full();
  if (largest < 1 || width == 0 || height == 0) return 1;  // no window to sum
  if (windowSums && windowSums->MaxRadius() >= largest) return 1;
  windowSums.reset();  // before the larger table is allocated
  windowSums = WindowSums::Create(sourcePixels, width, height, largest);
  return windowSums ? 1 : 0;
}

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
  const RadiusRule rule(focalDepth, blurRange, blurSize, Extent(width, height));
  const IdSource ids(*this, idFilter);
  // An image whose copies are missing has nothing to blur, but still
  // reports its rows.
  const bool blurring = workPixels && sourcePixels && rule.Full() >= 1;
  // Without the working memory (not prepared, or too small, and not to be
  // had now) every window is summed directly.
  if (blurring) PrepareBlur(blurSize);
  WindowSums* sums = blurring ? windowSums.get() : nullptr;
  if (sums) sums->Rewind();

  for (int32_t y = 0; y < height; ++y) {
    SendMessageA(progressWindow, HOST_PROGRESS, static_cast<WPARAM>(y), height - 1);
    SendMessageA(progressWindow, HOST_ABORT_QUERY, 0, reinterpret_cast<LPARAM>(&abortFlag));
    if (abortFlag) return;
    if (!blurring) continue;
    const size_t first = static_cast<size_t>(y) * width;
    BMM_Color_64* row = workPixels + first;
    if (sums) {
      // No radius exceeds the full one, for which the table was made. The
      // next row is fetched into the cache while this one is blurred.
      RowRadii(rule, ids, zChannel, first, width, sums->Radii());
      sums->MeanRow(y, sums->Radii(), row, y + 1 < height ? row + width : nullptr);
      continue;
    }
    for (int32_t x = 0; x < width; ++x) {
      if (!ids.Passes(first + x)) continue;
      BoxAverage(x, y, rule(zChannel ? zChannel[first + x] : 0.0f), row[x]);
    }
  }
}
