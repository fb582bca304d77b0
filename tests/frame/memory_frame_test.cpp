// Planes in memory through the module: the same bits as `kestrion render`
// of an OpenEXR file holding them, from every layout a caller may hand
// over, errors that name what is at fault, and frames filtered on several
// threads at once each as it is alone.
#include "frame/memory_frame.h"

#include <gtest/gtest.h>
#include <half.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "formats/exr_document.h"
#include "frame/frame_render.h"
#include "host/scene.h"
#include "tests/frame/loaded_module.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using frame_tests::Module;
using test_files::ScratchDirectory;

constexpr int32_t WIDTH = 29;
constexpr int32_t HEIGHT = 19;
constexpr size_t COUNT = static_cast<size_t>(WIDTH) * HEIGHT;

// A frame as a caller holds it: R, G, B, A planes of float values (every
// one a half, so that a float16 frame holds the same), distances with
// background of every kind, and object IDs.
struct Planes {
  std::vector<std::vector<float>> colour;  // 4 planes, alpha last
  std::vector<float> depth;
  std::vector<int32_t> objectIds;
};

float AsHalf(float value) { return static_cast<float>(half(value)); }

Planes TestPlanes() {
  Planes planes;
  planes.colour.assign(4, std::vector<float>(COUNT));
  planes.depth.resize(COUNT);
  planes.objectIds.resize(COUNT);
  for (int32_t y = 0; y < HEIGHT; ++y) {
    for (int32_t x = 0; x < WIDTH; ++x) {
      const size_t i = static_cast<size_t>(y) * WIDTH + x;
      const float alpha = (x + y) % 5 == 0 ? 0.0f : (x % 3 == 0 ? 0.5f : 1.0f);
      for (int c = 0; c < 3; ++c) {
        // Magnitudes over several decades, so that a frame takes several
        // passes, and a few negative values.
        const double magnitude = std::pow(10.0, -3.0 + ((x * 7 + y * 3 + c * 5) % 13) / 3.0);
        const float value = static_cast<float>((x * y + c) % 17 == 0 ? -magnitude : magnitude);
        planes.colour[c][i] = AsHalf(value * alpha);
      }
      planes.colour[3][i] = alpha;
      float depth = 2.0f + 0.4f * static_cast<float>(x) + 0.25f * static_cast<float>(y);
      if (x == 0 && y < 3) depth = std::numeric_limits<float>::infinity();
      if (x == 1 && y < 3) depth = std::numeric_limits<float>::quiet_NaN();
      if (x == 2 && y < 3) depth = 2.0e9f;  // a renderer's far value
      planes.depth[i] = depth;
      planes.objectIds[i] = (x / 6 + y / 5) % 4;
    }
  }
  return planes;
}

// The colour samples of `planes` in the view's type and arrangement.
struct Samples {
  std::vector<float> f32;
  std::vector<uint16_t> f16;
};

Samples Arrange(const Planes& planes, int32_t channels, bool planar, SampleType type) {
  Samples samples;
  const size_t n = static_cast<size_t>(channels);
  samples.f32.resize(COUNT * n);
  samples.f16.resize(COUNT * n);
  for (size_t c = 0; c < n; ++c) {
    for (size_t i = 0; i < COUNT; ++i) {
      const size_t at = planar ? c * COUNT + i : i * n + c;
      samples.f32[at] = planes.colour[c][i];
      samples.f16[at] = half(planes.colour[c][i]).bits();
    }
  }
  if (type == SampleType::Float32) samples.f16.clear();
  if (type == SampleType::Float16) samples.f32.clear();
  return samples;
}

MemoryFrame FrameOf(const Planes& planes, const Samples& samples, int32_t channels, bool planar,
                    SampleType type, bool ids) {
  MemoryFrame frame;
  frame.width = WIDTH;
  frame.height = HEIGHT;
  frame.colour.data = type == SampleType::Float32 ? static_cast<const void*>(samples.f32.data())
                                                  : static_cast<const void*>(samples.f16.data());
  frame.colour.type = type;
  frame.colour.channels = channels;
  frame.colour.planar = planar;
  frame.depth = planes.depth.data();
  if (ids) frame.objectIds = planes.objectIds.data();
  return frame;
}

FrameSettings Settings(float focusDepth) {
  FrameSettings settings;
  settings.focusDepth = FloatKeys{{0, focusDepth}};
  settings.range = FloatKeys{{0, 3.0f}};
  settings.size = FloatKeys{{0, 6.0f}};
  settings.threads = 2;
  return settings;
}

// Writes the planes as an OpenEXR file: colour in `type`, Z in float,
// object IDs as a UINT channel.
void WriteExr(const std::string& path, const Planes& planes, int32_t channels, SampleType type,
              bool ids) {
  const Imf::PixelType colourType = type == SampleType::Float32 ? Imf::FLOAT : Imf::HALF;
  std::vector<test_files::ExrChannelLayout> layout = {
      {"R", colourType}, {"G", colourType}, {"B", colourType}};
  if (channels == 4) layout.push_back({"A", colourType});
  layout.push_back({"Z", Imf::FLOAT});
  if (ids) layout.push_back({"objectId", Imf::UINT});
  const Imath::Box2i window{{0, 0}, {WIDTH - 1, HEIGHT - 1}};
  test_files::WriteExrFile(
      path, {test_files::Part("", window, window, layout)},
      [&planes](const std::string& name, int, int x, int y) -> double {
        const size_t i = static_cast<size_t>(y) * WIDTH + x;
        if (name == "Z") return planes.depth[i];
        if (name == "objectId") return planes.objectIds[i];
        const size_t c = name == "R" ? 0 : name == "G" ? 1 : name == "B" ? 2 : 3;
        return planes.colour[c][i];
      });
}

// The filtered colour the render of files wrote, channel by channel, in
// the arrangement of `image`, compared bit for bit.
void ExpectSameBits(const ExrDocument& rendered, const FilteredImage& image) {
  const ExrPart& part = rendered.parts.at(0);
  const char* names[] = {"R", "G", "B", "A"};
  const size_t n = static_cast<size_t>(image.channels);
  for (size_t c = 0; c < n; ++c) {
    const ExrChannel* channel = part.Find(names[c]);
    ASSERT_NE(channel, nullptr) << names[c];
    const size_t sampleBytes = image.type == SampleType::Float32 ? 4 : 2;
    ASSERT_EQ(channel->ByteSize(), COUNT * sampleBytes) << names[c];
    const auto* bytes = reinterpret_cast<const uint8_t*>(image.Data());
    int differing = 0;
    for (size_t i = 0; i < COUNT && differing < 3; ++i) {
      const size_t at = image.planar ? c * COUNT + i : i * n + c;
      if (std::memcmp(channel->Bytes() + i * sampleBytes, bytes + at * sampleBytes, sampleBytes) !=
          0) {
        ADD_FAILURE() << names[c] << " at pixel " << i % WIDTH << ", " << i / WIDTH << ": "
                      << channel->Value(i) << " rendered";
        ++differing;
      }
    }
  }
}

struct Layout {
  SampleType type;
  int32_t channels;
  bool planar;
  bool ids;
  std::optional<AlphaMode> alpha;
};

TEST(MemoryFrame, GivesTheBitsTheRenderOfTheSameFileWrites) {
  const Planes planes = TestPlanes();
  const std::vector<Layout> layouts = {
      {SampleType::Float32, 4, false, false, std::nullopt},
      {SampleType::Float16, 4, true, false, std::nullopt},
      {SampleType::Float16, 3, false, true, std::nullopt},
      {SampleType::Float32, 3, true, true, std::nullopt},
      {SampleType::Float16, 4, false, true, AlphaMode::Straight},
      {SampleType::Float32, 4, true, false, AlphaMode::Ignore},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(std::string(layout.type == SampleType::Float32 ? "float32" : "float16") + ", " +
                 std::to_string(layout.channels) + " channels" +
                 (layout.planar ? ", planar" : ", interleaved") + (layout.ids ? ", IDs" : ""));
    ScratchDirectory dir;
    WriteExr(dir / "in.exr", planes, layout.channels, layout.type, layout.ids);
    RenderSettings render;
    static_cast<FrameSettings&>(render) = Settings(6.0f);
    // With IDs, only object 2 is blurred.
    if (layout.ids) render.source = SourceSelection{SOURCE_OBJECT_CHANNEL, 2};
    render.alpha = layout.alpha;
    const FrameOutcome outcome =
        RenderFrameFiles(Module(), {dir / "in.exr", dir / "out.exr", ""}, render);
    ASSERT_FALSE(outcome.error) << outcome.error->what();

    const Samples samples = Arrange(planes, layout.channels, layout.planar, layout.type);
    const MemoryFrame frame =
        FrameOf(planes, samples, layout.channels, layout.planar, layout.type, layout.ids);
    const FilteredImage image = FilterMemoryFrame(Module(), frame, render);
    EXPECT_EQ(image.type, layout.type);
    EXPECT_EQ(image.channels, layout.channels);
    EXPECT_EQ(image.planar, layout.planar);
    EXPECT_EQ(image.Bytes(), samples.f32.size() * 4 + samples.f16.size() * 2);
    EXPECT_EQ(image.resolved.passes, outcome.passes);
    EXPECT_EQ(image.resolved.focusDepth, 6.0f);
    ExpectSameBits(ReadExrDocument(dir / "out.exr"), image);
  }
}

TEST(MemoryFrame, ReadsStridedAndBottomUpViewsAsTheContiguousOne) {
  const Planes planes = TestPlanes();
  const Samples samples = Arrange(planes, 4, false, SampleType::Float32);
  const MemoryFrame contiguous = FrameOf(planes, samples, 4, false, SampleType::Float32, false);
  const FilteredImage expected = FilterMemoryFrame(Module(), contiguous, Settings(6.0f));

  // Each pixel padded to 6 samples, the rows stored bottom-up with 3
  // samples of padding after each.
  const int64_t pixelStride = 6;
  const int64_t rowStride = WIDTH * pixelStride + 3;
  std::vector<float> padded(static_cast<size_t>(rowStride) * HEIGHT, -7.0f);
  for (int32_t y = 0; y < HEIGHT; ++y) {
    for (int32_t x = 0; x < WIDTH; ++x) {
      for (int c = 0; c < 4; ++c) {
        padded[static_cast<size_t>((HEIGHT - 1 - y) * rowStride + x * pixelStride + c)] =
            planes.colour[c][static_cast<size_t>(y) * WIDTH + x];
      }
    }
  }
  MemoryFrame strided = contiguous;
  strided.colour.data = padded.data() + (HEIGHT - 1) * rowStride;
  strided.colour.pixelStride = pixelStride;
  strided.colour.rowStride = -rowStride;
  strided.colour.channelStride = 1;
  const FilteredImage image = FilterMemoryFrame(Module(), strided, Settings(6.0f));
  EXPECT_EQ(image.colour32, expected.colour32);
  EXPECT_FALSE(image.planar);
}

// The kind of error `call` throws and its message.
template <typename Call>
std::pair<ErrorKind, std::string> Failed(const Call& call) {
  try {
    call();
  } catch (const Error& e) {
    return {e.Kind(), e.what()};
  }
  ADD_FAILURE() << "no error";
  return {ErrorKind::Failed, ""};
}

TEST(MemoryFrame, ErrorsNameWhatIsAtFaultByTheCallersLabels) {
  const Planes planes = TestPlanes();
  const Samples samples = Arrange(planes, 3, false, SampleType::Float32);
  const MemoryFrame good = FrameOf(planes, samples, 3, false, SampleType::Float32, true);
  MemoryFrameLabels labels;
  labels.depth = "z";
  labels.objectIds = "object_ids";

  MemoryFrame noDepth = good;
  noDepth.depth = nullptr;
  const auto missing =
      Failed([&] { FilterMemoryFrame(Module(), noDepth, Settings(6.0f), {}, labels); });
  EXPECT_EQ(missing.first, ErrorKind::Usage);
  EXPECT_EQ(missing.second.rfind("z: give the frame's depth", 0), 0u) << missing.second;

  MemoryFrame twoChannels = good;
  twoChannels.colour.channels = 2;
  const auto channels = Failed([&] { FilterMemoryFrame(Module(), twoChannels, Settings(6.0f)); });
  EXPECT_EQ(channels.first, ErrorKind::Usage);
  EXPECT_EQ(channels.second, "colour: 2 channels; give 3 (R, G, B) or 4 (R, G, B, A)");

  std::vector<int32_t> ids = planes.objectIds;
  ids[3 * WIDTH + 5] = 70000;
  ids[4 * WIDTH + 1] = -1;
  MemoryFrame badIds = good;
  badIds.objectIds = ids.data();
  badIds.name = "shot 12";
  const auto id = Failed([&] { FilterMemoryFrame(Module(), badIds, Settings(6.0f), {}, labels); });
  EXPECT_EQ(id.first, ErrorKind::Input);
  EXPECT_EQ(id.second,
            "shot 12: object_ids holds 70000 at pixel (5, 3) (and 1 more pixel), not an ID (a "
            "whole number 0 to 65535)");

  FrameSettings percent = Settings(6.0f);
  percent.size = FloatKeys{{0, 0.5f}};
  percent.sizeInPercent = true;
  percent.labels.size = "size";
  const auto size = Failed([&] { FilterMemoryFrame(Module(), good, percent); });
  EXPECT_EQ(size.first, ErrorKind::Usage);
  EXPECT_EQ(size.second.rfind("size: 0.5% of a frame 29 pixels wide is 0.145 pixels", 0), 0u)
      << size.second;

  // Focus on an object of a frame without object IDs: named by the
  // settings' label.
  MemoryFrame noIds = good;
  noIds.objectIds = nullptr;
  FrameSettings onObject = Settings(6.0f);
  onObject.ClearFocus();
  onObject.focusObject = 2;
  onObject.labels.focusObject = "focus_object";
  const auto object = Failed([&] { FilterMemoryFrame(Module(), noIds, onObject); });
  EXPECT_EQ(object.first, ErrorKind::Input);
  EXPECT_EQ(object.second.rfind("frame: focus_object needs an object ID channel", 0), 0u)
      << object.second;

  FrameSettings small = Settings(6.0f);
  small.limits.maxSide = 20;
  const auto side = Failed([&] { FilterMemoryFrame(Module(), good, small); });
  EXPECT_EQ(side.first, ErrorKind::Input);
  EXPECT_NE(side.second.find("29 x 19 pixels is not supported"), std::string::npos) << side.second;

  RenderCallbacks stop;
  stop.abort = [] { return true; };
  EXPECT_EQ(Failed([&] { FilterMemoryFrame(Module(), good, Settings(6.0f), stop); }).first,
            ErrorKind::Aborted);
}

// Every check of a setting names it with the caller's label, none with
// words of its own or of the command line.
TEST(MemoryFrame, EverySettingsCheckNamesTheCallersLabel) {
  const Planes planes = TestPlanes();
  const Samples samples = Arrange(planes, 3, false, SampleType::Float32);
  const MemoryFrame good = FrameOf(planes, samples, 3, false, SampleType::Float32, true);
  auto labelled = [] {
    FrameSettings settings = Settings(6.0f);
    settings.labels.maxSide = "limit.side";
    settings.labels.memoryLimit = "limit.bytes";
    settings.labels.range = "blur.range";
    settings.labels.size = "blur.size";
    settings.labels.focusDepth = "focus.depth";
    settings.labels.depthNear = "depth.near";
    settings.labels.depthFar = "depth.far";
    settings.labels.backgroundFrom = "depth.background_from";
    return settings;
  };
  auto failure = [&](const FrameSettings& settings) {
    const auto failed = Failed([&] { FilterMemoryFrame(Module(), good, settings); });
    EXPECT_EQ(failed.second.find("--"), std::string::npos) << failed.second;
    return failed;
  };

  FrameSettings side = labelled();
  side.limits.maxSide = 20;
  const auto tooWide = failure(side);
  EXPECT_EQ(tooWide.first, ErrorKind::Input);
  EXPECT_NE(tooWide.second.find("(1 to 20 per side, limit.side)"), std::string::npos)
      << tooWide.second;

  FrameSettings memory = labelled();
  memory.limits.memoryLimit = 1024;
  const auto tooBig = failure(memory);
  EXPECT_EQ(tooBig.first, ErrorKind::Input);
  EXPECT_NE(tooBig.second.find("1.0 KiB memory limit (limit.bytes)"), std::string::npos)
      << tooBig.second;

  FrameSettings range = labelled();
  range.range = FloatKeys{};
  const auto noRange = failure(range);
  EXPECT_EQ(noRange.first, ErrorKind::Usage);
  EXPECT_EQ(noRange.second.rfind("blur.range: has no key", 0), 0u) << noRange.second;

  FrameSettings size = labelled();
  size.size = FloatKeys{};
  EXPECT_EQ(failure(size).second.rfind("blur.size: has no key", 0), 0u);

  FrameSettings focus = labelled();
  focus.focusDepth = FloatKeys{};
  EXPECT_EQ(failure(focus).second.rfind("focus.depth: has no key", 0), 0u);

  FrameSettings normalised = labelled();
  normalised.depth.mode = DepthMode::Normalised;
  normalised.depth.near = 5.0f;
  normalised.depth.far = 5.0f;
  const auto nearFar = failure(normalised);
  EXPECT_EQ(nearFar.first, ErrorKind::Usage);
  EXPECT_NE(nearFar.second.find("needs depth.near and depth.far"), std::string::npos)
      << nearFar.second;

  FrameSettings from = labelled();
  from.depth.backgroundFrom = 0.0f;
  EXPECT_EQ(failure(from).second.rfind("depth.background_from: give a distance", 0), 0u);

  // The library's own words where the caller gives none.
  FrameSettings plain = Settings(6.0f);
  plain.limits.maxSide = 20;
  EXPECT_NE(failure(plain).second.find("per side, max_side)"), std::string::npos);
}

TEST(MemoryFrame, LeavesTheHostsNodeOfTheSameNameAlone) {
  const Planes planes = TestPlanes();
  const Samples samples = Arrange(planes, 4, false, SampleType::Float32);
  const MemoryFrame frame = FrameOf(planes, samples, 4, false, SampleType::Float32, false);
  const FilteredImage alone = FilterMemoryFrame(Module(), frame, Settings(6.0f));
  // The host's scene holds a node of the render's focal name far away: the
  // frame keeps its own focus, and the node stays where it was.
  SceneNode* node = HostInterface().GetNodeByName(RENDER_FOCUS_NODE);
  if (!node) node = &HostInterface().AddNode(RENDER_FOCUS_NODE);
  node->SetWorldTransform(0, Matrix3::Translation({0.0f, 0.0f, -500.0f}));
  const FilteredImage again = FilterMemoryFrame(Module(), frame, Settings(6.0f));
  EXPECT_EQ(again.colour32, alone.colour32);
  EXPECT_EQ(node->GetWorldTransform(0).GetTrans().z, -500.0f);
}

TEST(MemoryFrame, ACallersFilterConfiguredAsTheSettingsSayGivesTheModulesBits) {
  const Planes planes = TestPlanes();
  const Samples samples = Arrange(planes, 4, true, SampleType::Float16);
  const MemoryFrame frame = FrameOf(planes, samples, 4, true, SampleType::Float16, true);
  FrameSettings settings = Settings(9.0f);
  settings.source = SourceSelection{SOURCE_OBJECT_CHANNEL, 1};
  const FilteredImage made = FilterMemoryFrame(Module(), frame, settings);
  const std::unique_ptr<ImageFilter> filter = Module().CreateFilter();
  ASSERT_TRUE(filter);
  RenderSettings render;
  static_cast<FrameSettings&>(render) = settings;
  ConfigureFilter(*filter, render);
  // Twice through the same filter: a call leaves it as it found it.
  for (int call = 0; call < 2; ++call) {
    const FilteredImage kept = FilterMemoryFrame(*filter, frame, settings);
    EXPECT_EQ(kept.colour16, made.colour16) << "call " << call;
    EXPECT_EQ(kept.resolved.source.id, 1);
  }
}

// Frames at four focal depths on four threads at once, twice over, each
// against the same call alone.
TEST(ReentrantFrames, FourThreadsGiveWhatEachCallGivesAlone) {
  const Planes planes = TestPlanes();
  const Samples samples = Arrange(planes, 4, false, SampleType::Float16);
  const MemoryFrame frame = FrameOf(planes, samples, 4, false, SampleType::Float16, true);
  const float depths[4] = {3.0f, 6.0f, 9.0f, 12.0f};
  std::vector<std::vector<uint16_t>> alone;
  for (float depth : depths)
    alone.push_back(FilterMemoryFrame(Module(), frame, Settings(depth)).colour16);
  // The depths blur differently: a call that saw another's focus would
  // differ from its own alone.
  EXPECT_NE(alone[0], alone[1]);
  EXPECT_NE(alone[2], alone[3]);

  std::vector<std::vector<uint16_t>> together(8);
  std::vector<std::string> errors(8);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (size_t round = 0; round < 2; ++round) {
        try {
          together[round * 4 + t] =
              FilterMemoryFrame(Module(), frame, Settings(depths[t])).colour16;
        } catch (const Error& e) {
          errors[round * 4 + t] = e.what();
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t k = 0; k < together.size(); ++k) {
    EXPECT_EQ(errors[k], "") << "call " << k;
    EXPECT_TRUE(together[k] == alone[k % 4]) << "call " << k << " at focal depth " << depths[k % 4];
  }
}

}  // namespace
}  // namespace kestrion
