// kestrion's float frames through the module in brightness-band passes,
// against the time OpenEXR alone takes to write and read the same frame as
// float RGBA and Z: the passes of a whole render should cost no more than a
// third of that.
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

#include "app/filter_runner.h"
#include "app/focus_record.h"
#include "app/module_passes.h"
#include "synthetic_frame.h"

namespace {

using kestrion::FramePlanes;
using kestrion::Plane;
using kestrion_bench::BLUR_RANGE;
using kestrion_bench::FOCAL_DEPTH;
using kestrion_bench::REPETITIONS;
using kestrion_bench::SyntheticFrame;

// The synthetic frame as a float render: opaque, linear colour up to about
// 1.5 with a specular highlight of 40 on one pixel in 997, premultiplied
// (alpha 1), depth as the renderer's Z.
struct FloatFrame {
  FramePlanes planes;
  std::vector<float> z;
};

FloatFrame MakeFloatFrame(uint16_t width, uint16_t height) {
  SyntheticFrame source(width, height);
  BitmapStorage& storage = *source.bitmap.Storage();
  FloatFrame frame;
  frame.planes.width = width;
  frame.planes.height = height;
  const size_t count = frame.planes.PixelCount();
  frame.planes.colour.assign(3, Plane(count));
  frame.planes.colourNames = {"R", "G", "B"};
  frame.planes.alpha = Plane(count, 1.0f);
  for (size_t i = 0; i < count; ++i) {
    const BMM_Color_64& p = storage.Pixels()[i];
    const float highlight = i % 997 == 0 ? 40.0f : 1.0f;
    frame.planes.colour[0][i] = p.r / 43690.0f * highlight;
    frame.planes.colour[1][i] = p.g / 43690.0f * highlight;
    frame.planes.colour[2][i] = p.b / 43690.0f * highlight;
  }
  frame.z.assign(storage.ZChannel(), storage.ZChannel() + count);
  return frame;
}

void BM_ModulePasses(benchmark::State& state) {
  std::unique_ptr<FilterModule> module;
  try {
    module = kestrion::LoadFilterModule(KESTRION_MODULE_PATH);
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  kestrion::FocusSettings settings;
  settings.focalName = "Focus";
  settings.range = BLUR_RANGE;
  settings.size = static_cast<float>(state.range(2));
  const FocusConfig record = kestrion::ComposeRecord(settings);
  const FloatFrame frame =
      MakeFloatFrame(static_cast<uint16_t>(state.range(0)), static_cast<uint16_t>(state.range(1)));
  kestrion::NoPassProgress progress;
  int32_t passes = 0;
  for (auto _ : state) {
    const kestrion::FilteredPlanes result =
        kestrion::FilterPlanes(*module, record, FOCAL_DEPTH, frame.planes, frame.z, progress);
    passes = result.passes;
    benchmark::DoNotOptimize(result.colour.data());
  }
  state.counters["passes"] = passes;
}

void BM_ExrFloatWriteRead(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const FloatFrame frame =
      MakeFloatFrame(static_cast<uint16_t>(width), static_cast<uint16_t>(height));
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("kestrion-bench-" + std::to_string(getpid()) + ".exr"))
                               .string();
  const char* names[5] = {"R", "G", "B", "A", "Z"};
  const float* planes[5] = {frame.planes.colour[0].data(), frame.planes.colour[1].data(),
                            frame.planes.colour[2].data(), frame.planes.alpha->data(),
                            frame.z.data()};
  std::vector<Plane> read(5, Plane(frame.planes.PixelCount()));
  const size_t xStride = sizeof(float);
  const size_t yStride = sizeof(float) * width;
  for (auto _ : state) {
    {
      Imf::Header header(width, height);  // ZIP compression, the default
      Imf::FrameBuffer buffer;
      for (int c = 0; c < 5; ++c) {
        header.channels().insert(names[c], Imf::Channel(Imf::FLOAT));
        buffer.insert(
            names[c],
            Imf::Slice(Imf::FLOAT, const_cast<char*>(reinterpret_cast<const char*>(planes[c])),
                       xStride, yStride));
      }
      Imf::OutputFile file(path.c_str(), header);
      file.setFrameBuffer(buffer);
      file.writePixels(height);
    }
    {
      Imf::InputFile file(path.c_str());
      Imf::FrameBuffer buffer;
      for (int c = 0; c < 5; ++c) {
        buffer.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(read[c].data()),
                                           xStride, yStride));
      }
      file.setFrameBuffer(buffer);
      file.readPixels(0, height - 1);
    }
    benchmark::DoNotOptimize(read[0].data());
  }
  std::remove(path.c_str());
}

}  // namespace

BENCHMARK(BM_ModulePasses)
    ->Args({1920, 1080, 8})
    ->Args({1920, 1080, 100})
    ->Args({65, 47, 8})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(REPETITIONS)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ExrFloatWriteRead)
    ->Args({1920, 1080})
    ->Args({65, 47})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(REPETITIONS)
    ->ReportAggregatesOnly(true);
