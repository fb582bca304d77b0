// The frame library's in-memory entry on a 1920 x 1080 RGBA float frame,
// the call the Python module's kestrion.filter wraps: the Python figure
// (integrations/python/bench/filter_bench.py, the same frame and settings)
// should stay within 1.1 times this one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "frame/filter_session.h"
#include "frame/memory_frame.h"

namespace {

constexpr int32_t WIDTH = 1920;
constexpr int32_t HEIGHT = 1080;

// The frame filter_bench.py builds with numpy, sample for sample.
struct PatternFrame {
  std::vector<float> colour;
  std::vector<float> depth;

  PatternFrame() : colour(size_t{WIDTH} * HEIGHT * 4), depth(size_t{WIDTH} * HEIGHT) {
    for (int32_t y = 0; y < HEIGHT; ++y) {
      for (int32_t x = 0; x < WIDTH; ++x) {
        const size_t i = static_cast<size_t>(y) * WIDTH + x;
        for (int c = 0; c < 3; ++c) {
          colour[i * 4 + c] = static_cast<float>((x * 7 + y * 13 + c * 29) % 101) / 100.0f;
        }
        colour[i * 4 + 3] = static_cast<float>((x + y) % 50) / 50.0f + 0.02f;
        depth[i] = 2.0f + static_cast<float>((x * 3 + y * 5) % 400) / 10.0f;
      }
    }
  }
};

void BM_FilterMemoryFrame(benchmark::State& state) {
  std::unique_ptr<FilterModule> module;
  try {
    module = kestrion::LoadFilterModule(KESTRION_MODULE_PATH);
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  const PatternFrame pattern;
  kestrion::MemoryFrame frame;
  frame.width = WIDTH;
  frame.height = HEIGHT;
  frame.colour.data = pattern.colour.data();
  frame.colour.channels = 4;
  frame.depth = pattern.depth.data();
  kestrion::FrameSettings settings;
  settings.focusDepth = kestrion::FloatKeys{{0, 10.0f}};
  settings.range = kestrion::FloatKeys{{0, 5.0f}};
  settings.size = kestrion::FloatKeys{{0, 8.0f}};
  for (auto _ : state) {
    benchmark::DoNotOptimize(kestrion::FilterMemoryFrame(*module, frame, settings));
  }
  state.SetItemsProcessed(state.iterations() * WIDTH * HEIGHT);
}

BENCHMARK(BM_FilterMemoryFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

}  // namespace
