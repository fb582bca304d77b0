// The studio's preview of a 1920 x 1080 frame (the demo scene, written as
// an OpenEXR render with depth and IDs), measured at the page's end over
// the real server: a change sent as the page sends it, until the page has
// the whole preview image of it.
//   ChangeToPreview/range  a drag step of the blur range spinner in the
//                          module's control dialog: through the bridge
//                          into the dialog (which writes the record and
//                          the Range track), the preview render through
//                          the module (every brightness-band pass), the
//                          8-bit review pixels, and the image's 8 MB over
//                          the WebSocket
//   ChangeToPreview/focus  a click on the image: the Focus node keyed at
//                          the depth under it, then the same
// and the parts of a preview on the studio thread alone:
//   PreviewFilter          the frame through the module (FilterFrame)
//   PreviewPixels          the filtered planes as review pixels, in parts side
//                          by side
//   PreviewPixelsThroughView/0, /1  the same through a colour
//                          configuration's view (the tests' small one;
//                          Blender's Filmic where installed), the processor
//                          made once, as the studio keeps it: what a change
//                          of view costs
//   PreviewRadii           every pixel's radius, for the readout
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "demo/demo_scene.h"
#include "formats/image_files.h"
#include "formats/review_io.h"
#include "frame/focus_map.h"
#include "frame/frame_render.h"
#include "host/filter_pipeline.h"
#include "host/scene.h"
#include "studio/dialog_bridge.h"
#include "studio/filter_host.h"
#include "studio/look.h"
#include "studio/session.h"
#include "studio/workbench.h"
#include "tests/studio/loopback_client.h"
#include "tests/support/view_config.h"

namespace {

using namespace kestrion;

constexpr uint16_t WIDTH = 1920;
constexpr uint16_t HEIGHT = 1080;
constexpr auto IMAGE_WAIT = std::chrono::milliseconds(20000);

// The demo scene as a render on disk, made once.
const std::string& FramePath() {
  static const std::string path = [] {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("kestrion-studio-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "plate.exr").string();
    OutputFile output(file);
    WriteImage(RenderDemoScene(WIDTH, HEIGHT), output);
    output.Commit();
    std::atexit(
        [] { std::filesystem::remove_all(std::filesystem::path(FramePath()).parent_path()); });
    return file;
  }();
  return path;
}

std::string OriginHeader(uint16_t port) {
  return "Origin: http://127.0.0.1:" + std::to_string(port) + "\r\n";
}

// The studio as `kestrion studio plate.exr --focus-object 3 --size 24`
// runs it, on a thread of its own; the page on the benchmark's thread.
class Studio {
 public:
  Studio() : session(inbox, {}, [this](const studio::Request& r) { return looks.Answer(r); }) {
    setup.modulePath = KESTRION_MODULE_PATH;
    setup.frames = {{0, FramePath()}};
    setup.settings.focusObject = 3;
    setup.settings.size = FloatKeys{{0, 24.0f}};
    setup.input = FramePath();
    setup.output = "out.exr";
    thread = std::thread([this] { Run(); });
    page = std::make_unique<loopback::WebSocket>(session.Web().Port(),
                                                 "/ws?token=" + session.Web().Secret(),
                                                 OriginHeader(session.Web().Port()));
    ready = NextImage("\"result\"");
  }
  ~Studio() {
    inbox.Close();
    thread.join();
  }

  bool Open() const { return page->Status() == 101 && ready; }

  bool Send(const std::string& fields) {
    return page->Send("{\"seq\":" + std::to_string(++lastSeq) + "," + fields + "}");
  }
  // The next binary image message of the kind; false when none comes.
  bool NextImage(const std::string& kind) {
    const auto deadline = std::chrono::steady_clock::now() + IMAGE_WAIT;
    while (std::chrono::steady_clock::now() < deadline) {
      const loopback::Frame frame = page->Receive(IMAGE_WAIT);
      if (frame.opcode == -1 || frame.opcode == 0x8) return false;
      if (frame.opcode == 0x2 && frame.payload.find(kind) != std::string::npos &&
          frame.payload.find(kind) < 256) {
        return true;
      }
    }
    return false;
  }

 private:
  void Run() {
    KeepFrameMemory();
    std::string error;
    auto module = FilterModule::Load(KESTRION_MODULE_PATH, error);
    if (!module) return;
    auto filter = module->CreateFilter();
    studio::FrameStore frames(setup.frames, setup.settings);
    {
      studio::DialogBridge bridge(inbox, [this](studio::ClientId c, std::string t, std::string k) {
        session.Send(c, std::move(t), std::move(k));
      });
      studio::FilterHost host(*filter, bridge);
      studio::Workbench bench(
          setup, frames, *filter, bridge,
          {[this](std::string t, std::string k) { session.Send(0, std::move(t), std::move(k)); },
           [this](std::string b, std::string k) {
             session.Web().SendBinary(0, std::move(b), std::move(k));
           }},
          looks);
      bridge.OnSettled([&bench] { bench.Settled(); });
      bridge.Post([&host] { host.OpenControl(); });
      bridge.Run();
    }
    filter.reset();
    HostInterface().Reset();
  }

  studio::StudioSetup setup;
  studio::Inbox inbox;
  studio::LookTable looks;
  studio::Session session;
  std::thread thread;
  std::unique_ptr<loopback::WebSocket> page;
  bool ready = false;
  int64_t lastSeq = 0;
};

void ChangeToPreview_Range(benchmark::State& state) {
  Studio studio;
  if (!studio.Open() || !studio.Send(R"("type":"action","dialog":1,"action":"press","id":1006)")) {
    state.SkipWithError("the studio did not open");
    return;
  }
  int pixels = 0;
  for (auto _ : state) {
    // Each step a different range: the preview is out of date each time.
    pixels = pixels % 200 + 1;
    studio.Send(R"("type":"action","dialog":1,"action":"drag","id":1006,"pixels":)" +
                std::to_string(pixels));
    if (!studio.NextImage("\"result\"")) state.SkipWithError("no preview");
  }
}
BENCHMARK(ChangeToPreview_Range)
    ->Name("ChangeToPreview/range")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void ChangeToPreview_Focus(benchmark::State& state) {
  Studio studio;
  if (!studio.Open()) {
    state.SkipWithError("the studio did not open");
    return;
  }
  int i = 0;
  for (auto _ : state) {
    // The ground at two distances in turn.
    const int y = (i++ % 2) ? 1000 : 800;
    studio.Send(R"("type":"host","command":"focusAt","x":960,"y":)" + std::to_string(y));
    if (!studio.NextImage("\"result\"")) state.SkipWithError("no preview");
  }
}
BENCHMARK(ChangeToPreview_Focus)
    ->Name("ChangeToPreview/focus")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The parts, on a frame read and prepared once.
struct Parts {
  Parts() : module(LoadFilterModule(KESTRION_MODULE_PATH)), filter(module->CreateFilter()) {
    KeepFrameMemory();
    settings.focusObject = 3;
    settings.size = FloatKeys{{0, 24.0f}};
    input = ReadFrameInput(FramePath(), settings);
    prepared = PrepareFrame(input, settings);
    ConfigureFilter(*filter, settings);
  }
  std::unique_ptr<FilterModule> module;
  std::unique_ptr<ImageFilter> filter;
  RenderSettings settings;
  RenderInput input;
  PreparedFrame prepared;
};

Parts& SharedParts() {
  static Parts parts;
  return parts;
}

void PreviewFilter(benchmark::State& state) {
  Parts& parts = SharedParts();
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        kestrion::FilterFrame(*parts.filter, parts.input, parts.prepared, parts.settings));
  }
}
BENCHMARK(PreviewFilter)->UseRealTime()->Unit(benchmark::kMillisecond);

void PreviewPixels(benchmark::State& state) {
  Parts& parts = SharedParts();
  const FilteredFrame filtered =
      kestrion::FilterFrame(*parts.filter, parts.input, parts.prepared, parts.settings);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        studio::ReviewPixelsSideBySide(filtered.planes, "frame", {}, NeverAbort()));
  }
}
BENCHMARK(PreviewPixels)->UseRealTime()->Unit(benchmark::kMillisecond);

// Through the tests' small configuration (arg 0) or, where it is
// installed, Blender's Filmic view (arg 1).
void PreviewPixelsThroughView(benchmark::State& state) {
  Parts& parts = SharedParts();
  const FilteredFrame filtered =
      kestrion::FilterFrame(*parts.filter, parts.input, parts.prepared, parts.settings);
  ViewChoice choice{test_files::SMALL_VIEW_CONFIG_PATH, "sRGB", "Dim", "Brighter"};
  if (state.range(0) == 1) {
    const std::vector<std::string> installed = InstalledBlenderConfigs();
    if (installed.empty()) {
      state.SkipWithError("Blender's colour configuration is not installed");
      return;
    }
    choice = {installed.front(), "sRGB", "Filmic", ""};
  }
  ReviewLook look;
  look.view = OpenDisplayView(choice);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        studio::ReviewPixelsSideBySide(filtered.planes, "frame", look, NeverAbort()));
  }
}
BENCHMARK(PreviewPixelsThroughView)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void PreviewRadii(benchmark::State& state) {
  Parts& parts = SharedParts();
  FocusMapSettings map;
  map.focalDepth = parts.prepared.focusDepth;
  map.size = 24.0f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FocusRadii(parts.input.planes, parts.prepared.rendererZ, map));
  }
}
BENCHMARK(PreviewRadii)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
