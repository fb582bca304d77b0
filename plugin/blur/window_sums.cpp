#include "blur/window_sums.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>

#include "blur/window_runs.h"

namespace {

using window_runs::CHANNELS;
// The most pixels a window may hold for its sums to stay below 2^32:
// 65537 * 65535 = 2^32 - 1.
constexpr uint64_t NARROW_WINDOW_PIXELS = 65537;
constexpr size_t CACHE_LINE = 64;

// An uninitialised array of `count` elements, or null when it cannot be had
// or does not fit in what is left of the budget (which it then takes).
template <typename T>
std::unique_ptr<T[]> AllocateArray(uint64_t count, size_t& budgetLeft) {
  if (count == 0 || count > budgetLeft / sizeof(T)) return nullptr;
  budgetLeft -= static_cast<size_t>(count) * sizeof(T);
  return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count)]);
}

}  // namespace

window_runs::MeanLoops WindowSums::ChooseLoops(VectorWidth vectors) {
  using window_runs::MeanLoops;
  if (vectors == VectorWidth::None) return MeanLoops::Plain;
#if defined(KESTRION_AVX512_LOOPS)
  // The processor, and the system, which must save the registers.
  if (vectors == VectorWidth::Widest && __builtin_cpu_supports("avx512f") &&
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq")) {
    return MeanLoops::Avx512;
  }
#endif
#if defined(KESTRION_AVX2_LOOPS)
  if ((vectors == VectorWidth::Widest || vectors == VectorWidth::EightLanes) &&
      __builtin_cpu_supports("avx2")) {
    return MeanLoops::Avx2;
  }
#endif
#if defined(KESTRION_VECTOR_LOOPS) && defined(__SSE2__)
  return MeanLoops::Sse2;
#else
  return MeanLoops::Plain;
#endif
}

std::unique_ptr<WindowSums> WindowSums::Create(const BMM_Color_64* source, int32_t width,
                                               int32_t height, int32_t maxRadius,
                                               VectorWidth vectors, size_t memoryBudget) {
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
  sums->loops = ChooseLoops(vectors);
  sums->ringRows =
      static_cast<int32_t>(std::min<int64_t>(side + 1, static_cast<int64_t>(height) + 1));
  // Planes are whole cache lines long and start so that column 1 begins a
  // line: the row fill's vectors then each write one line, and read one of
  // the row above.
  const size_t entry = sums->wide ? sizeof(uint64_t) : sizeof(uint32_t);
  const size_t perLine = CACHE_LINE / entry;
  sums->planeStride = (static_cast<size_t>(width) + 1 + perLine - 1) / perLine * perLine;
  sums->rowStride = CHANNELS * sums->planeStride;

  // One line more, to place column 0 of the first plane where it must be.
  const uint64_t entries = static_cast<uint64_t>(sums->ringRows) * sums->rowStride + perLine;
  const uint64_t radii = static_cast<uint64_t>(maxRadius) + 1;
  size_t budgetLeft = memoryBudget;
  if (sums->wide) {
    sums->wideTable = AllocateArray<uint64_t>(entries, budgetLeft);
  } else {
    sums->narrowTable = AllocateArray<uint32_t>(entries, budgetLeft);
  }
  sums->radii = AllocateArray<int32_t>(static_cast<uint64_t>(width), budgetLeft);
  sums->reciprocals = AllocateArray<double>(2 * static_cast<uint64_t>(width), budgetLeft);
  sums->spans = AllocateArray<Span>(radii, budgetLeft);
  if (!(sums->narrowTable || sums->wideTable) || !sums->radii || !sums->reciprocals ||
      !sums->spans) {
    return nullptr;
  }
  const auto start = reinterpret_cast<uintptr_t>(
      sums->wide ? static_cast<void*>(sums->wideTable.get()) : sums->narrowTable.get());
  sums->origin = (CACHE_LINE - (start + entry) % CACHE_LINE) % CACHE_LINE / entry;
  sums->bytes = memoryBudget - budgetLeft;
  for (uint64_t r = 0; r < radii; ++r) sums->spans[r].row = -1;
  return sums;
}

template <typename Sum>
Sum* WindowSums::Table() const {
  if constexpr (std::is_same_v<Sum, uint64_t>) {
    return wideTable.get() + origin;
  } else {
    return narrowTable.get() + origin;
  }
}

template <typename Sum>
Sum* WindowSums::TableRow(int32_t i) const {
  return Table<Sum>() + static_cast<size_t>(i % ringRows) * rowStride;
}

// Table row i is row i - 1 above it plus the running sums along source row
// i - 1; row 0 is all zero.
template <typename Sum>
void WindowSums::FillTableRowsTo(int32_t last) {
  for (int32_t i = filledRows; i <= last; ++i) {
    Sum* out = TableRow<Sum>(i);
    if (i == 0) {
      std::fill_n(out, rowStride, Sum{0});
      continue;
    }
    const BMM_Color_64* pixels = source + static_cast<size_t>(i - 1) * width;
    const BMM_Color_64* next = i < height ? pixels + width : pixels;
    window_runs::FillRow(TableRow<Sum>(i - 1), pixels, next, width, planeStride, out, loops);
  }
  filledRows = std::max(filledRows, last + 1);
}

const WindowSums::Span& WindowSums::SpanOf(int32_t y, int32_t r) {
  Span& span = spans[r];
  if (span.row == y) return span;
  // Radii stay within MaxRadius(), so y + r + 1 does not overflow.
  const int32_t top = std::max(y - r, 0);
  const int32_t bottom = std::min(y + r + 1, height);
  const size_t entry = wide ? sizeof(uint64_t) : sizeof(uint32_t);
  const char* base = wide ? reinterpret_cast<const char*>(Table<uint64_t>())
                          : reinterpret_cast<const char*>(Table<uint32_t>());
  span.above = base + static_cast<size_t>(top % ringRows) * rowStride * entry;
  span.below = base + static_cast<size_t>(bottom % ringRows) * rowStride * entry;
  span.rows = static_cast<uint32_t>(bottom - top);
  const double fullWindow = static_cast<double>(span.rows) * (2 * static_cast<double>(r) + 1);
  span.fullReciprocal = MeanReciprocal(fullWindow);
  // Windows clipped at an edge hold fewer pixels than the full one.
  span.signedSums = fullWindow <= window_runs::SIGNED_SUM_PIXELS;
  span.row = y;
  return span;
}

template <typename Sum>
void WindowSums::MeanRowOf(int32_t y, const int32_t* rowRadii, BMM_Color_64* row,
                           const BMM_Color_64* nextRow) {
  // Runs of pixels with one radius share their span; inside a run the
  // windows differ only by their column.
  for (int32_t x = 0; x < width;) {
    const int32_t r = rowRadii[x];
    const int32_t end = window_runs::RunEnd(rowRadii, x, width, loops);
    if (r < 1) {
      x = end;
      continue;
    }
    assert(r <= maxRadius);
    // The windows of this run reach table row y + r + 1.
    if (y + r + 1 >= filledRows) FillTableRowsTo<Sum>(std::min(y + r + 1, height));
    const Span& span = SpanOf(y, r);
    // The windows about columns before `first` are clipped at the left
    // edge (x - r < 0), those from `last` on at the right edge (x + r + 1 >
    // width). The run falls into windows clipped left only, then either
    // whole windows or (where 2r >= width) windows clipped at both edges,
    // then windows clipped right only. Radii stay within MaxRadius(), so
    // width - r does not overflow.
    const int32_t first = std::clamp(r, x, end);
    const int32_t last = std::clamp(width - r, x, end);
    const int32_t middle = std::min(first, last);
    const int32_t after = std::max(first, last);
    if (x < middle) MeanClipped<Sum, true, false>(span, r, x, middle, row, nextRow);
    if (middle < after && first <= last) {
      window_runs::MeanRun<Sum, window_runs::WHOLE>(
          {static_cast<const Sum*>(span.above), static_cast<const Sum*>(span.below), planeStride,
           middle - r, middle + r + 1, &span.fullReciprocal, after - middle, row + middle,
           nextRow ? nextRow + middle : nullptr, span.signedSums},
          loops);
    } else if (middle < after) {
      MeanClipped<Sum, true, true>(span, r, middle, after, row, nextRow);
    }
    if (after < end) MeanClipped<Sum, false, true>(span, r, after, end, row, nextRow);
    x = end;
  }
}

// The windows of radius r about pixels from .. to - 1, each clipped at the
// left edge, the right edge or both, as the template says, and so each with
// its own pixel count.
template <typename Sum, bool clippedLeft, bool clippedRight>
void WindowSums::MeanClipped(const Span& span, int32_t r, int32_t from, int32_t to,
                             BMM_Color_64* row, const BMM_Color_64* nextRow) {
  // Written with conditionals the compiler turns into vector selects, so that
  // the divisions go two at a time. Radii stay within MaxRadius(), so
  // x + r + 1 does not overflow.
  const int slot = from == 0 ? 0 : 1;
  double* perWindow = reciprocals.get() + static_cast<size_t>(slot) * width;
  ClippedRun& cached = clippedRuns[slot];
  if (cached.radius != r || cached.rows != span.rows || cached.from != from || cached.to != to) {
    for (int32_t x = from; x < to; ++x) {
      const int32_t right = x + r + 1 < width ? x + r + 1 : width;
      const int32_t left = x - r > 0 ? x - r : 0;
      perWindow[x - from] = MeanReciprocal(static_cast<double>(span.rows) * (right - left));
    }
    cached = {r, span.rows, from, to};
  }
  constexpr window_runs::RunShape shape = window_runs::ClippedShape(clippedLeft, clippedRight);
  window_runs::MeanRun<Sum, shape>(
      {static_cast<const Sum*>(span.above), static_cast<const Sum*>(span.below), planeStride,
       clippedLeft ? 0 : from - r, clippedRight ? width : from + r + 1, perWindow, to - from,
       row + from, nextRow ? nextRow + from : nullptr, span.signedSums},
      loops);
}

void WindowSums::MeanRow(int32_t y, const int32_t* rowRadii, BMM_Color_64* row,
                         const BMM_Color_64* nextRow) {
  if (wide) {
    MeanRowOf<uint64_t>(y, rowRadii, row, nextRow);
  } else {
    MeanRowOf<uint32_t>(y, rowRadii, row, nextRow);
  }
}
