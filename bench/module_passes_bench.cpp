// kestrion's float frames through the module in brightness-band passes, and
// the whole of `kestrion render` on an OpenEXR file (read the document, find
// its roles, the renderer's Z, the passes, write the document back) against
// OpenEXR alone reading and writing the same file with the same threads:
// the command should take at most 1.2 times as long.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "float_frame.h"
#include "formats/exr_document.h"
#include "frame/filter_session.h"
#include "frame/focus_record.h"
#include "frame/frame_render.h"
#include "frame/module_passes.h"

namespace {

using kestrion::FramePlanes;
using kestrion::Plane;
using kestrion_bench::BLUR_RANGE;
using kestrion_bench::FloatFrame;
using kestrion_bench::FOCAL_DEPTH;
using kestrion_bench::FrameFile;
using kestrion_bench::MakeFloatFrame;
using kestrion_bench::REPETITIONS;

// The module file, or null with the benchmark skipped.
std::unique_ptr<FilterModule> LoadModule(benchmark::State& state) {
  try {
    return kestrion::LoadFilterModule(KESTRION_MODULE_PATH);
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return nullptr;
  }
}

FocusConfig RecordOfSize(float size) {
  kestrion::FocusSettings settings;
  settings.focalName = "Focus";
  settings.range = BLUR_RANGE;
  settings.size = size;
  return kestrion::ComposeRecord(settings);
}

void BM_ModulePasses(benchmark::State& state) {
  const std::unique_ptr<FilterModule> module = LoadModule(state);
  if (!module) return;
  const FocusConfig record = RecordOfSize(static_cast<float>(state.range(2)));
  const FloatFrame frame =
      MakeFloatFrame(static_cast<uint16_t>(state.range(0)), static_cast<uint16_t>(state.range(1)));
  int32_t passes = 0;
  for (auto _ : state) {
    const kestrion::FilteredPlanes result =
        kestrion::FilterPlanes(*module, record, FOCAL_DEPTH, frame.planes, frame.z);
    passes = result.passes;
    benchmark::DoNotOptimize(result.colour.data());
  }
  state.counters["passes"] = passes;
}

std::string OutputPath(const std::string& name) {
  return kestrion_bench::TemporaryPath(name + "-out");
}

// OpenEXR alone: every channel of the file read into float planes and
// written back with the file's header, on OpenEXR's threads (one a core).
void BM_ExrReadWrite(benchmark::State& state) {
  kestrion::SetExrThreadCount(0);
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const FrameFile input(MakeFloatFrame(static_cast<uint16_t>(width), static_cast<uint16_t>(height)),
                        "alone");
  const std::string output = OutputPath("alone");
  std::vector<Plane> planes;
  for (auto _ : state) {
    Imf::InputFile in(input.path.c_str());
    const Imf::Header header = in.header();
    Imf::FrameBuffer buffer;
    planes.assign(5, Plane(static_cast<size_t>(width) * height));
    size_t c = 0;
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it, ++c) {
      buffer.insert(it.name(), Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(planes[c].data()),
                                          sizeof(float), sizeof(float) * width));
    }
    in.setFrameBuffer(buffer);
    in.readPixels(0, height - 1);
    Imf::OutputFile out(output.c_str(), header);
    out.setFrameBuffer(buffer);
    out.writePixels(height);
  }
  std::remove(output.c_str());
}

// The command's own work on the same file, as `kestrion render IN -o OUT
// --focus-depth D --size S` does it (no progress shown): the frame library's
// whole render of one frame of files; with a fourth argument of 1, as
// `--layered` does it.
void BM_RenderCommand(benchmark::State& state) {
  const std::unique_ptr<FilterModule> module = LoadModule(state);
  if (!module) return;
  const FrameFile input(
      MakeFloatFrame(static_cast<uint16_t>(state.range(0)), static_cast<uint16_t>(state.range(1))),
      "command");
  const std::string output = OutputPath("command");
  kestrion::RenderSettings settings;
  settings.focusDepth = kestrion::FloatKeys{{0, FOCAL_DEPTH}};
  settings.range = kestrion::FloatKeys{{0, BLUR_RANGE}};
  settings.size = kestrion::FloatKeys{{0, static_cast<float>(state.range(2))}};
  settings.layered = state.range(3) != 0;
  int32_t passes = 0;
  int32_t layers = 0;
  for (auto _ : state) {
    const kestrion::FrameOutcome outcome =
        kestrion::RenderFrameFiles(*module, {input.path, output, ""}, settings);
    if (outcome.error) {
      state.SkipWithError(outcome.error->what());
      break;
    }
    passes = outcome.passes;
    layers = outcome.report.layers.value_or(0);
  }
  state.counters["passes"] = passes;
  state.counters["layers"] = layers;
  std::remove(output.c_str());
}

}  // namespace

BENCHMARK(BM_ExrReadWrite)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Args({65, 47})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(REPETITIONS)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_RenderCommand)
    ->Args({1920, 1080, 8, 0})
    ->Args({3840, 2160, 8, 0})
    ->Args({65, 47, 8, 0})
    ->Args({1920, 1080, 24, 0})
    ->Args({1920, 1080, 24, 1})
    ->Args({65, 47, 24, 1})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(REPETITIONS)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ModulePasses)
    ->Args({1920, 1080, 8})
    ->Args({1920, 1080, 100})
    ->Args({65, 47, 8})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(REPETITIONS)
    ->ReportAggregatesOnly(true);
