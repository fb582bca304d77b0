// The whole render call as the host makes it: the module file loaded by the
// substitute host's pipeline, a focal node in the scene, and one frame run
// through the filter (working image, table, blur, write-back).
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/filter_pipeline.h"
#include "host/progress_window.h"
#include "host/scene.h"
#include "kestrion/focus_config.h"
#include "synthetic_frame.h"

namespace {

using kestrion_bench::BLUR_RANGE;
using kestrion_bench::FOCAL_DEPTH;
using kestrion_bench::REPETITIONS;
using kestrion_bench::SyntheticFrame;

constexpr char FOCAL_NODE[] = "Focus";

void BM_Render(benchmark::State& state) {
  std::string error;
  std::unique_ptr<FilterModule> module = FilterModule::Load(KESTRION_MODULE_PATH, error);
  if (!module) {
    state.SkipWithError(error.c_str());
    return;
  }
  HostInterface().Reset();
  // The camera looks down -z from the origin: the node's depth is its -z.
  HostInterface()
      .AddNode(FOCAL_NODE)
      .SetWorldTransform(0, Matrix3::Translation({0.0f, 0.0f, -FOCAL_DEPTH}));
  {
    std::unique_ptr<ImageFilter> filter = module->CreateFilter();
    FocusConfig record{};
    if (!filter || !filter->SaveConfigure(&record)) {
      state.SkipWithError("no filter");
      return;
    }
    std::memcpy(record.focalObjectName, FOCAL_NODE, sizeof FOCAL_NODE);
    record.blurRange = BLUR_RANGE;
    record.blurSize = static_cast<float>(state.range(2));
    filter->LoadConfigure(&record);

    SyntheticFrame frame(static_cast<uint16_t>(state.range(0)),
                         static_cast<uint16_t>(state.range(1)));
    BitmapStorage& storage = *frame.bitmap.Storage();
    const size_t count = static_cast<size_t>(storage.Width()) * storage.Height();
    const std::vector<BMM_Color_64> original(storage.Pixels(), storage.Pixels() + count);
    ProgressWindow progress;
    progress.Record(false);
    FilterFrame run{&frame.bitmap, ImageFilterInfo{0, 0, 0}};
    for (auto _ : state) {
      if (RunFilter(*filter, run, progress.Handle()) != 1) state.SkipWithError("render failed");
      state.PauseTiming();  // every render starts from the same unblurred frame
      std::memcpy(storage.Pixels(), original.data(), count * sizeof(BMM_Color_64));
      state.ResumeTiming();
    }
  }
  HostInterface().Reset();
}

}  // namespace

BENCHMARK(BM_Render)
    ->Args({1920, 1080, 2})
    ->Args({1920, 1080, 8})
    ->Args({1920, 1080, 20})
    ->Args({1920, 1080, 100})
    ->Args({3840, 2160, 2})
    ->Args({3840, 2160, 8})
    ->Args({3840, 2160, 20})
    ->Args({3840, 2160, 100})
    ->Args({65, 47, 8})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(REPETITIONS)
    ->ReportAggregatesOnly(true);
