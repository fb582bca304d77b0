// The depth blur alone, its direct-summation reference, and the memory
// traffic of one render for scale: a frame copy, the working image's two
// copies, the table, and the write-back.
//
// Arguments of every benchmark: frame width, frame height, blur size.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "blur/blur_plan.h"
#include "blur/radius_rows.h"
#include "blur/window_sums.h"
#include "blur/work_image.h"
#include "host/progress_window.h"
#include "synthetic_frame.h"
#include "tests/support/test_frame.h"

namespace {

using kestrion_bench::BLUR_RANGE;
using kestrion_bench::FOCAL_DEPTH;
using kestrion_bench::REPETITIONS;
using kestrion_bench::SyntheticFrame;

uint16_t Arg(const benchmark::State& state, int i) { return static_cast<uint16_t>(state.range(i)); }
double Pixels(const benchmark::State& state) {
  return static_cast<double>(state.range(0)) * static_cast<double>(state.range(1));
}

void BM_DepthBlur(benchmark::State& state) {
  SyntheticFrame frame(Arg(state, 0), Arg(state, 1));
  const float size = static_cast<float>(state.range(2));
  ProgressWindow progress;
  progress.Record(false);
  WorkImage image(progress.Handle(), &frame.bitmap);
  if (!image.Allocated() || !image.LoadChannel(CHANNEL_Z)) {
    state.SkipWithError("no working image");
    return;
  }
  BlurPlan plan(image, size);
  if (!plan.Sums()) {
    state.SkipWithError("no table");
    return;
  }
  for (auto _ : state) {
    image.DepthBlur(plan, -1, FOCAL_DEPTH, BLUR_RANGE);
    benchmark::DoNotOptimize(image.workPixels.get());
    benchmark::ClobberMemory();
  }
  // The share of pixels the blur changed: in-focus pixels cost less.
  size_t changed = 0;
  for (size_t i = 0; i < static_cast<size_t>(Pixels(state)); ++i) {
    changed += image.workPixels[i] != image.sourcePixels[i] ? 1 : 0;
  }
  state.counters["changed_share"] = changed / Pixels(state);
  state.counters["table_bytes_per_pixel"] = plan.Bytes() / Pixels(state);
  state.counters["background_share"] = frame.BackgroundShare();
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(Pixels(state)));
}

// The radii of every row of the frame, as the blur computes them with the
// widest vector loops: one of the blur's three stages, beside the table's
// rows and the means.
void BM_RadiusRows(benchmark::State& state) {
  SyntheticFrame frame(Arg(state, 0), Arg(state, 1));
  BitmapStorage& storage = *frame.bitmap.Storage();
  const int32_t width = storage.Width();
  const int32_t height = storage.Height();
  const RadiusRule rule(FOCAL_DEPTH, BLUR_RANGE, static_cast<float>(state.range(2)),
                        std::max(width, height));
  const window_runs::MeanLoops loops = WindowSums::ChooseLoops(VectorWidth::Widest);
  std::vector<int32_t> radii(static_cast<size_t>(width));
  for (auto _ : state) {
    for (int32_t y = 0; y < height; ++y) {
      const float* z = storage.ZChannel() + static_cast<size_t>(y) * width;
      RadiusRow(rule, z, width, radii.data(), loops, y + 1 < height ? z + width : nullptr);
      benchmark::DoNotOptimize(radii.data());
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(Pixels(state)));
}

// The blur by summing every window directly (the tests' reference).
void BM_DirectBlur(benchmark::State& state) {
  SyntheticFrame frame(Arg(state, 0), Arg(state, 1));
  const float size = static_cast<float>(state.range(2));
  BitmapStorage& storage = *frame.bitmap.Storage();
  kestrion_test::BlurInput in;
  in.width = storage.Width();
  in.height = storage.Height();
  in.pixels.assign(storage.Pixels(), storage.Pixels() + static_cast<size_t>(Pixels(state)));
  in.z = storage.ZChannel();
  in.loadedChannels = CHANNEL_Z;
  for (auto _ : state) {
    auto out = kestrion_test::ReferenceBlur(in, -1, FOCAL_DEPTH, BLUR_RANGE, size);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(Pixels(state)));
}

// One copy of a whole frame of 8-byte pixels between two blocks already in
// memory but not in the processor's caches, as the blur finds its frame
// (its copies, Z and table of a 1920 x 1080 frame, 42 MB, do not stay in
// the last-level cache from one run to the next): the unit the blur's time
// is measured in. The copies go round several pairs of blocks, together
// larger than any last-level cache, so that each copy's pair was pushed out
// by the others since it was last copied.
void BM_FrameCopy(benchmark::State& state) {
  const size_t bytes = static_cast<size_t>(Pixels(state)) * sizeof(BMM_Color_64);
  constexpr size_t EVICTING_BYTES = size_t{128} << 20;
  const size_t pairs = std::clamp<size_t>(EVICTING_BYTES / (2 * bytes) + 1, 2, 8);
  std::vector<std::vector<uint8_t>> from(pairs, std::vector<uint8_t>(bytes, 1));
  std::vector<std::vector<uint8_t>> to(pairs, std::vector<uint8_t>(bytes, 2));
  size_t next = 0;
  for (auto _ : state) {
    std::memcpy(to[next].data(), from[next].data(), bytes);
    benchmark::DoNotOptimize(to[next].data());
    benchmark::ClobberMemory();
    next = (next + 1) % pairs;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

// The same copy between one pair of blocks copied again and again, most of
// which stays in the last-level cache at 1920 x 1080: the reference the
// blur was once measured against, reported beside it.
void BM_FrameCopyInCache(benchmark::State& state) {
  const size_t bytes = static_cast<size_t>(Pixels(state)) * sizeof(BMM_Color_64);
  std::vector<uint8_t> from(bytes, 1);
  std::vector<uint8_t> to(bytes, 2);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

// A block of fresh zero pages of a frame's size mapped from the system,
// filled with a frame and unmapped: the cost of one pixel copy where every
// large block is mapped afresh (the C library's default, which the host
// pipeline turns off), page faults included.
void BM_FreshFrameCopy(benchmark::State& state) {
  const size_t count = static_cast<size_t>(Pixels(state));
  const size_t bytes = count * sizeof(BMM_Color_64);
  std::vector<BMM_Color_64> from(count, BMM_Color_64{1, 2, 3, 4});
  for (auto _ : state) {
    void* to = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (to == MAP_FAILED) {
      state.SkipWithError("no fresh block");
      break;
    }
    std::memcpy(to, from.data(), bytes);
    benchmark::DoNotOptimize(to);
    munmap(to, bytes);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

// The working image's construction and release: two blocks, each read from
// the bitmap row by row, and the Z channel lent.
void BM_WorkImageCopies(benchmark::State& state) {
  SyntheticFrame frame(Arg(state, 0), Arg(state, 1));
  for (auto _ : state) {
    WorkImage image(nullptr, &frame.bitmap);
    image.LoadChannel(CHANNEL_Z);
    benchmark::DoNotOptimize(image.workPixels.get());
  }
}

// The blur planned again, as in a render: the difference from BM_DepthBlur
// is the table's allocation.
void BM_DepthBlurFreshTable(benchmark::State& state) {
  SyntheticFrame frame(Arg(state, 0), Arg(state, 1));
  const float size = static_cast<float>(state.range(2));
  WorkImage image(nullptr, &frame.bitmap);
  image.LoadChannel(CHANNEL_Z);
  for (auto _ : state) {
    BlurPlan plan(image, size);
    if (!plan.Sums()) state.SkipWithError("no table");
    image.DepthBlur(plan, -1, FOCAL_DEPTH, BLUR_RANGE);
    benchmark::ClobberMemory();
  }
}

void BM_WriteBack(benchmark::State& state) {
  SyntheticFrame frame(Arg(state, 0), Arg(state, 1));
  WorkImage image(nullptr, &frame.bitmap);
  for (auto _ : state) {
    image.WriteBack();
    benchmark::ClobberMemory();
  }
}

// The measured frames, and the small one of the smoke run (bench/main.cpp).
void FrameSizes(benchmark::internal::Benchmark* b, std::initializer_list<int> sizes) {
  for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}, std::pair{65, 47}}) {
    for (int size : sizes) b->Args({w, h, size});
  }
}

}  // namespace

BENCHMARK(BM_DepthBlur)
    ->Apply([](auto* b) {
      FrameSizes(b, {2, 8, 20, 100});
    }) -> Unit(benchmark::kMillisecond) -> Repetitions(REPETITIONS) -> ReportAggregatesOnly(true);
BENCHMARK(BM_RadiusRows)
    ->Apply([](auto* b) {
      FrameSizes(b, {8, 100});
    }) -> Unit(benchmark::kMillisecond) -> Repetitions(REPETITIONS) -> ReportAggregatesOnly(true);
BENCHMARK(BM_DirectBlur)
    ->Args({1920, 1080, 2})
    ->Args({1920, 1080, 8})
    ->Args({1920, 1080, 20})
    ->Args({65, 47, 20})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_FrameCopy)
    ->Apply([](auto* b) { FrameSizes(b, {0}); }) -> Unit(benchmark::kMillisecond)
        -> Repetitions(REPETITIONS) -> ReportAggregatesOnly(true);
BENCHMARK(BM_FrameCopyInCache)
    ->Apply([](auto* b) { FrameSizes(b, {0}); }) -> Unit(benchmark::kMillisecond)
        -> Repetitions(REPETITIONS) -> ReportAggregatesOnly(true);
BENCHMARK(BM_FreshFrameCopy)
    ->Apply([](auto* b) { FrameSizes(b, {0}); }) -> Unit(benchmark::kMillisecond)
        -> Repetitions(REPETITIONS) -> ReportAggregatesOnly(true);
BENCHMARK(BM_WorkImageCopies)
    ->Apply([](auto* b) { FrameSizes(b, {0}); }) -> Unit(benchmark::kMillisecond)
        -> Repetitions(REPETITIONS) -> ReportAggregatesOnly(true);
BENCHMARK(BM_DepthBlurFreshTable)
    ->Apply([](auto* b) {
      FrameSizes(b, {20, 100});
    }) -> Unit(benchmark::kMillisecond) -> Repetitions(REPETITIONS) -> ReportAggregatesOnly(true);
BENCHMARK(BM_WriteBack)
    ->Apply([](auto* b) { FrameSizes(b, {0}); }) -> Unit(benchmark::kMillisecond)
        -> Repetitions(REPETITIONS) -> ReportAggregatesOnly(true);
