// window_sums.h: exact means of r, g, b over square windows of the blur's
// source pixels, at a cost per window that does not depend on its size.
//
// A summed-area table holds at row i, column j the sums over the source
// pixels of rows < i and columns < j, so the sums of any rectangle are a
// combination of its four corner entries. The windows of one image row with
// radii up to R reach table rows y - R to y + R + 1 only, so the table keeps
// those 2R + 2 rows (all height + 1 rows of a shorter image) in a ring that
// moves down the image with the blur and is filled as it goes.
//
// Entries are 32-bit while no window the table serves, clipped to the image,
// can hold more than 65537 pixels: the running sums then wrap around modulo
// 2^32, but a window's true sum stays below 65537 * 65535 < 2^32, so the
// four-entry difference computed modulo 2^32 is that sum exactly. Larger
// windows use 64-bit entries, which cannot wrap (the sums of a whole 65535 x
// 65535 image stay below 2^48).
//
// Each table row holds its r, g and b sums as three planes, so that the
// windows of a run of pixels with one radius read contiguous entries in
// each plane and their sums and means are computed several at a time
// (blur/window_runs.h). Windows clipped at the left or right edge of the
// image go in runs too: they all read the edge's column on that side, and
// each has its own pixel count.
//
// The memory is allocated once for a render (see Create) and owned by the
// object (blur/blur_plan.h); nothing here calls the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "blur/vector_width.h"
#include "blur/window_run.h"
#include "host/types.h"

// The truncated mean sum / count of one channel without a division:
// TruncatedMean(sum, MeanReciprocal(count)) == sum / count (integer
// division) for every count < 2^32 and every sum up to 65535 * count, i.e.
// every mean of 16-bit values.
//
// Why: let e = 2^-53, v = fl(1 / count) and m = fl(v * (1 + 2^-50)), fl()
// rounding to nearest. v lies within a factor 1 +- e of 1 / count, so the
// exact product v * (1 + 2^-50) lies in (1 / count) * [1 + 7e, 1 + 9e]
// (to first order) and m in (1 / count) * (1, 1 + 11e]. Write
// sum = q * count + t with 0 <= t < count, q <= 65535. Then
// - sum * m >= sum / count >= q, so fl(sum * m) >= q (q is a double);
// - sum * m <= (q + 1 - 1 / count) * (1 + 11e) < q + 1 - 1 / count +
//   65536 * 11e, and 1 / count > 2^-32 exceeds 65536 * 11e (< 2^-33)
//   by more than half a unit in the last place below q + 1 (at most
//   2^-38), so fl(sum * m) < q + 1.
// Hence the truncation of fl(sum * m) is q. (sum < 2^48 is exact in
// double.)
inline double MeanReciprocal(double count) {
  constexpr double NUDGE = 1.0 + 0x1p-50;
  return (1.0 / count) * NUDGE;
}
inline uint16_t TruncatedMean(uint64_t sum, double reciprocal) {
  return static_cast<uint16_t>(static_cast<double>(sum) * reciprocal);
}

class WindowSums {
 public:
  // Sums for windows of radius 1 to maxRadius over a width x height image of
  // `source` (which must outlive the object and stay unchanged), computed
  // with the vector loops `vectors` allows. Null when the arguments
  // describe no windows, or the memory cannot be had or would exceed
  // `memoryBudget` bytes.
  static std::unique_ptr<WindowSums> Create(const BMM_Color_64* source, int32_t width,
                                            int32_t height, int32_t maxRadius,
                                            VectorWidth vectors = VectorWidth::Widest,
                                            size_t memoryBudget = SIZE_MAX);
  WindowSums(const WindowSums&) = delete;
  WindowSums& operator=(const WindowSums&) = delete;

  int32_t MaxRadius() const { return maxRadius; }
  // Bytes held for the table and the row scratch.
  size_t Bytes() const { return bytes; }

  // Scratch for the radii of the row being blurred, `width` elements.
  int32_t* Radii() { return radii.get(); }
  // The vector loops the table was made with, for the radius rows
  // (blur/radius_rows.h) that go with it.
  window_runs::MeanLoops Loops() const { return loops; }
  // The widest loops that `vectors` allows and the build and the processor
  // support.
  static window_runs::MeanLoops ChooseLoops(VectorWidth vectors);

  // Replaces r, g, b of every pixel x of `row` (image row y) whose radius
  // radii[x] is at least 1 by the truncated mean of the source window of that
  // radius about (x, y), clipped to the image; alpha and the pixels of radius
  // below 1 are left alone. Radii must not exceed MaxRadius(), and rows must
  // be visited in increasing order (see Rewind). The table is filled only
  // as far down as the windows met so far reach, so that rows of small
  // radii read table rows filled recently. nextRow, when not null, is the
  // row the next call will be given: it is fetched into the cache
  // meanwhile.
  void MeanRow(int32_t y, const int32_t* radii, BMM_Color_64* row,
               const BMM_Color_64* nextRow = nullptr);
  // Starts again from the top of the image.
  void Rewind() { filledRows = 0; }

 private:
  WindowSums() = default;
  template <typename Sum>
  void MeanRowOf(int32_t y, const int32_t* radii, BMM_Color_64* row, const BMM_Color_64* nextRow);
  template <typename Sum>
  void FillTableRowsTo(int32_t last);
  struct Span;
  template <typename Sum, bool clippedLeft, bool clippedRight>
  void MeanClipped(const Span& span, int32_t r, int32_t from, int32_t to, BMM_Color_64* row,
                   const BMM_Color_64* nextRow);
  template <typename Sum>
  Sum* Table() const;
  template <typename Sum>
  Sum* TableRow(int32_t i) const;

  const BMM_Color_64* source = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t maxRadius = 0;
  bool wide = false;  // 64-bit entries
  window_runs::MeanLoops loops = window_runs::MeanLoops::Plain;
  int32_t ringRows = 0;    // table rows kept
  int32_t filledRows = 0;  // table rows 0 .. filledRows - 1 have been computed
  size_t planeStride = 0;  // entries per plane: width + 1, up to whole cache lines
  size_t rowStride = 0;    // entries per table row: 3 * planeStride
  // ringRows rows, table row i in slot i % ringRows: 32-bit entries in
  // narrowTable, or 64-bit ones in wideTable, from entry `origin` on.
  size_t origin = 0;
  std::unique_ptr<uint32_t[]> narrowTable;
  std::unique_ptr<uint64_t[]> wideTable;
  std::unique_ptr<int32_t[]> radii;
  // 1 / pixel count of the clipped windows of a run, in two slots of width
  // elements: windows clipped at the left edge (runs from column 0), and the
  // others. A slot is kept for the next row while its radius, rows and
  // columns stay the same, as they do down a background region.
  std::unique_ptr<double[]> reciprocals;
  struct ClippedRun {
    int32_t radius = -1;
    uint32_t rows = 0;
    int32_t from = 0;
    int32_t to = 0;
  };
  ClippedRun clippedRuns[2];
  // The windows of one radius about the pixels of image row `row`: the table
  // rows bounding them vertically (at their column 0), the number of image
  // rows between them, 1 / pixel count of a window not clipped left or
  // right, and whether the windows' sums stay below 2^31.
  struct Span {
    const void* above;
    const void* below;
    double fullReciprocal;
    uint32_t rows;
    int32_t row;
    bool signedSums;
  };
  // The span of radius r about image row y, from spans[r] when that was
  // made for row y.
  const Span& SpanOf(int32_t y, int32_t r);
  std::unique_ptr<Span[]> spans;  // indexed by radius, each made when first needed
  size_t bytes = 0;
};
