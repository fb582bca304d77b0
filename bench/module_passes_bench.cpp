// kestrion's float frames through the module in brightness-band passes, and
// the whole of `kestrion render` on an OpenEXR file (read the document, find
// its roles, the renderer's Z, the passes, write the document back) against
// OpenEXR alone reading and writing the same file with the same threads:
// the command should take at most 1.5 times as long.
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

#include "formats/exr_document.h"
#include "frame/filter_session.h"
#include "frame/focus_record.h"
#include "frame/frame_render.h"
#include "frame/module_passes.h"
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

// The frame as a ZIP-compressed float R, G, B, A, Z file in the temporary
// directory, removed with the object.
class FrameFile {
 public:
  FrameFile(const FloatFrame& frame, const std::string& name)
      : path((std::filesystem::temp_directory_path() /
              ("kestrion-bench-" + std::to_string(getpid()) + "-" + name + ".exr"))
                 .string()) {
    const int width = frame.planes.width;
    Imf::Header header(width, frame.planes.height);
    Imf::FrameBuffer buffer;
    std::vector<float> depth(frame.z.size());
    for (size_t i = 0; i < depth.size(); ++i) depth[i] = -frame.z[i];
    const std::pair<const char*, const float*> channels[] = {{"R", frame.planes.colour[0].data()},
                                                             {"G", frame.planes.colour[1].data()},
                                                             {"B", frame.planes.colour[2].data()},
                                                             {"A", frame.planes.alpha->data()},
                                                             {"Z", depth.data()}};
    for (const auto& [name, values] : channels) {
      header.channels().insert(name, Imf::Channel(Imf::FLOAT));
      buffer.insert(name,
                    Imf::Slice(Imf::FLOAT, const_cast<char*>(reinterpret_cast<const char*>(values)),
                               sizeof(float), sizeof(float) * width));
    }
    Imf::OutputFile file(path.c_str(), header);
    file.setFrameBuffer(buffer);
    file.writePixels(frame.planes.height);
  }
  ~FrameFile() { std::remove(path.c_str()); }
  FrameFile(const FrameFile&) = delete;
  FrameFile& operator=(const FrameFile&) = delete;

  const std::string path;
};

std::string OutputPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("kestrion-bench-" + std::to_string(getpid()) + "-" + name + "-out.exr"))
      .string();
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
// whole render of one frame of files.
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
  int32_t passes = 0;
  for (auto _ : state) {
    const kestrion::FrameOutcome outcome =
        kestrion::RenderFrameFiles(*module, {input.path, output, ""}, settings);
    if (outcome.error) {
      state.SkipWithError(outcome.error->what());
      break;
    }
    passes = outcome.passes;
  }
  state.counters["passes"] = passes;
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
    ->Args({1920, 1080, 8})
    ->Args({3840, 2160, 8})
    ->Args({65, 47, 8})
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
