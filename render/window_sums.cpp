#include "render/window_sums.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <new>

namespace {

// r, g and b: the table's entries per column.
constexpr size_t CHANNELS = 3;
// The most pixels a window may hold for its sums to stay below 2^32:
// 65537 * 65535 = 2^32 - 1.
constexpr uint64_t NARROW_WINDOW_PIXELS = 65537;

// An uninitialised array of `count` elements of `size` bytes, or null when
// it cannot be had (including a size that does not fit in size_t).
void* AllocateArray(uint64_t count, size_t size, size_t& total) {
  if (count == 0 || count > SIZE_MAX / size) return nullptr;
  total += static_cast<size_t>(count) * size;
  return std::malloc(static_cast<size_t>(count) * size);
}

}  // namespace

std::unique_ptr<WindowSums> WindowSums::Create(const BMM_Color_64* source, int32_t width,
                                               int32_t height, int32_t maxRadius) {
  if (!source || width < 1 || height < 1 || maxRadius < 1) return nullptr;
  std::unique_ptr<WindowSums> sums(new (std::nothrow) WindowSums);
  if (!sums) return nullptr;
  const int64_t side = 2 * static_cast<int64_t>(maxRadius) + 1;
  const uint64_t widestWindow = static_cast<uint64_t>(std::min<int64_t>(side, width)) *
                                static_cast<uint64_t>(std::min<int64_t>(side, height));
  sums->source = source;
  sums->width = width;
  sums->height = height;
  sums->maxRadius = maxRadius;
  sums->wide = widestWindow > NARROW_WINDOW_PIXELS;
  sums->ringRows =
      static_cast<int32_t>(std::min<int64_t>(side + 1, static_cast<int64_t>(height) + 1));
  sums->rowStride = CHANNELS * (static_cast<size_t>(width) + 1);

  const size_t entry = sums->wide ? sizeof(uint64_t) : sizeof(uint32_t);
  const uint64_t entries = static_cast<uint64_t>(sums->ringRows) * sums->rowStride;
  const uint64_t radii = static_cast<uint64_t>(maxRadius) + 1;
  size_t& total = sums->bytes;
  sums->table = AllocateArray(entries, entry, total);
  sums->radii =
      static_cast<int32_t*>(AllocateArray(static_cast<uint64_t>(width), sizeof(int32_t), total));
  sums->spans = static_cast<Span*>(AllocateArray(radii, sizeof(Span), total));
  if (!sums->table || !sums->radii || !sums->spans) return nullptr;
  return sums;
}

WindowSums::~WindowSums() {
  std::free(table);
  std::free(radii);
  std::free(spans);
}

template <typename Sum>
Sum* WindowSums::TableRow(int32_t i) const {
  return static_cast<Sum*>(table) + static_cast<size_t>(i % ringRows) * rowStride;
}

// Table row i is row i - 1 above it plus the running sums along source row
// i - 1; row 0 is all zero. Unsigned arithmetic wraps, which the narrow
// table relies on.
template <typename Sum>
void WindowSums::FillTableRowsTo(int32_t last) {
  for (int32_t i = filledRows; i <= last; ++i) {
    Sum* out = TableRow<Sum>(i);
    if (i == 0) {
      std::fill_n(out, rowStride, Sum{0});
      continue;
    }
    const Sum* above = TableRow<Sum>(i - 1);
    const BMM_Color_64* pixels = source + static_cast<size_t>(i - 1) * width;
    Sum r = 0;
    Sum g = 0;
    Sum b = 0;
    out[0] = out[1] = out[2] = 0;
    const int32_t columns = width;  // kept in a register across the stores
    for (int32_t x = 0; x < columns; ++x) {
      r += pixels[x].r;
      g += pixels[x].g;
      b += pixels[x].b;
      const size_t j = CHANNELS * (static_cast<size_t>(x) + 1);
      out[j] = above[j] + r;
      out[j + 1] = above[j + 1] + g;
      out[j + 2] = above[j + 2] + b;
    }
  }
  filledRows = std::max(filledRows, last + 1);
}

namespace {

// The means of `count` windows of `columns` columns whose first columns are
// first, first + 1, ..., between table rows above and below, into out[0 ..
// count - 1] (r, g, b only).
template <typename Sum>
void MeanRun(const Sum* above, const Sum* below, double reciprocal, int32_t first, int32_t count,
             int32_t columns, BMM_Color_64* out) {
  const Sum* aboveLeft = above + CHANNELS * static_cast<size_t>(first);
  const Sum* belowLeft = below + CHANNELS * static_cast<size_t>(first);
  const size_t width = CHANNELS * static_cast<size_t>(columns);
  for (int32_t i = 0; i < count; ++i) {
    const size_t l = CHANNELS * static_cast<size_t>(i);
    const size_t r = l + width;
    const Sum sumR = (belowLeft[r] - belowLeft[l]) - (aboveLeft[r] - aboveLeft[l]);
    const Sum sumG = (belowLeft[r + 1] - belowLeft[l + 1]) - (aboveLeft[r + 1] - aboveLeft[l + 1]);
    const Sum sumB = (belowLeft[r + 2] - belowLeft[l + 2]) - (aboveLeft[r + 2] - aboveLeft[l + 2]);
    out[i].r = TruncatedMean(sumR, reciprocal);
    out[i].g = TruncatedMean(sumG, reciprocal);
    out[i].b = TruncatedMean(sumB, reciprocal);
  }
}

}  // namespace

template <typename Sum>
void WindowSums::MeanRowOf(int32_t y, const int32_t* rowRadii, int32_t rowMaxRadius,
                           BMM_Color_64* row) {
  if (rowMaxRadius < 1) return;
  assert(rowMaxRadius <= maxRadius);
  FillTableRowsTo<Sum>(std::min(y + rowMaxRadius + 1, height));

  // The vertical extent of each radius's windows in this row, walking the
  // ring's slots outward from row y.
  int32_t top = y;
  int32_t bottom = y + 1;
  int32_t topSlot = y % ringRows;
  int32_t bottomSlot = bottom % ringRows;
  const Sum* base = static_cast<const Sum*>(table);
  for (int32_t r = 1; r <= rowMaxRadius; ++r) {
    if (top > 0) {
      --top;
      topSlot = topSlot == 0 ? ringRows - 1 : topSlot - 1;
    }
    if (bottom < height) {
      ++bottom;
      bottomSlot = bottomSlot == ringRows - 1 ? 0 : bottomSlot + 1;
    }
    const uint32_t rows = static_cast<uint32_t>(bottom - top);
    const uint32_t columns = static_cast<uint32_t>(2 * r + 1);
    spans[r] = {base + static_cast<size_t>(topSlot) * rowStride,
                base + static_cast<size_t>(bottomSlot) * rowStride,
                1.0 / (static_cast<double>(rows) * columns), rows};
  }

  // Runs of pixels with one radius share their span; inside a run the
  // windows that are not clipped differ only by their column.
  for (int32_t x = 0; x < width;) {
    const int32_t r = rowRadii[x];
    int32_t end = x + 1;
    while (end < width && rowRadii[end] == r) ++end;
    if (r < 1) {
      x = end;
      continue;
    }
    const Span& span = spans[r];
    const Sum* above = static_cast<const Sum*>(span.above);
    const Sum* below = static_cast<const Sum*>(span.below);
    // A window clipped at the left or right edge has its own pixel count.
    auto clipped = [&](int32_t at) {
      const int32_t x0 = std::max(at - r, 0);
      const int32_t x1 = std::min(at + r + 1, width);
      const double reciprocal = 1.0 / (static_cast<double>(span.rows) * (x1 - x0));
      MeanRun(above, below, reciprocal, x0, 1, x1 - x0, row + at);
    };
    // Clipped at the left, whole (r <= x < width - r), clipped at the right.
    const int32_t first = std::clamp(r, x, end);
    const int32_t last = std::clamp(width - r, first, end);
    for (; x < first; ++x) clipped(x);
    if (first < last) {
      MeanRun(above, below, span.fullReciprocal, first - r, last - first, 2 * r + 1, row + first);
    }
    for (x = last; x < end; ++x) clipped(x);
  }
}

void WindowSums::MeanRow(int32_t y, const int32_t* rowRadii, int32_t rowMaxRadius,
                         BMM_Color_64* row) {
  if (wide) {
    MeanRowOf<uint64_t>(y, rowRadii, rowMaxRadius, row);
  } else {
    MeanRowOf<uint32_t>(y, rowRadii, rowMaxRadius, row);
  }
}
