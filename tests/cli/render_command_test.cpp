// `kestrion render` end to end: files written here, run through the built
// command, and read back.
#include <ImfAttribute.h>
#include <ImfIntAttribute.h>
#include <ImfMatrixAttribute.h>
#include <ImfStandardAttributes.h>
#include <ImfStringAttribute.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "blur/radius_rule.h"
#include "formats/exr_document.h"
#include "formats/review_io.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/run_kestrion.h"
#include "tests/support/test_files.h"
#include "tests/support/window_mean.h"

namespace kestrion {
namespace {

using test_files::ExrChannelLayout;
using test_files::ExrPartLayout;
using test_files::Lines;
using test_files::ReadText;
using test_files::RunKestrion;
using test_files::RunResult;
using test_files::ScratchDirectory;
using test_files::WriteExrFile;
using test_files::WriteText;

constexpr double INF = std::numeric_limits<double>::infinity();

// The last component of a channel name: "R" for "ViewLayer.Combined.R".
std::string Component(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}

bool IsDepth(const std::string& name) {
  return name == "Z" || name == "depth" || name == "depth.Z" || name.ends_with(".Depth.Z");
}

bool IsObjectId(const std::string& name) {
  return name == "objectId" || name.ends_with(".IndexOB.X");
}

Imath::Box2i Window(int width, int height) { return {{0, 0}, {width - 1, height - 1}}; }

std::vector<ExrChannelLayout> Channels(const std::vector<std::string>& names, Imf::PixelType type) {
  std::vector<ExrChannelLayout> channels;
  for (const std::string& name : names) channels.push_back({name, type});
  return channels;
}

ExrPartLayout OnePart(int width, int height, std::vector<ExrChannelLayout> channels,
                      std::string name = "") {
  return test_files::Part(std::move(name), Window(width, height), Window(width, height),
                          std::move(channels));
}

ExrDocument ReadBack(const std::string& path) {
  try {
    return ReadExrDocument(path);
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what();
    return {};
  }
}

// A channel's samples as floats; empty (and a failure) when it is missing.
std::vector<float> Samples(const ExrDocument& document, size_t part, const std::string& name) {
  std::vector<float> values;
  const ExrChannel* channel =
      part < document.parts.size() ? document.parts[part].Find(name) : nullptr;
  if (!channel) {
    ADD_FAILURE() << document.path << ": no channel " << name << " in part " << part;
    return values;
  }
  for (size_t i = 0; i < channel->Size(); ++i) values.push_back(channel->Value(i));
  return values;
}

// Bit-for-bit equality of two sample lists, naming the first difference.
::testing::AssertionResult SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size()) {
    return ::testing::AssertionFailure() << a.size() << " samples against " << b.size();
  }
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) {
      return ::testing::AssertionFailure() << "sample " << i << ": " << a[i] << " against " << b[i];
    }
  }
  return ::testing::AssertionSuccess();
}

// The raw bytes of every channel, by part and name.
std::map<std::string, std::string> ChannelBytes(const ExrDocument& document) {
  std::map<std::string, std::string> bytes;
  for (size_t p = 0; p < document.parts.size(); ++p) {
    for (const ExrChannel& channel : document.parts[p].channels) {
      bytes[std::to_string(p) + ":" + channel.name] =
          std::string(channel.Bytes(), channel.ByteSize());
    }
  }
  return bytes;
}

std::map<std::string, Imf::PixelType> ChannelTypes(const ExrDocument& document) {
  std::map<std::string, Imf::PixelType> types;
  for (size_t p = 0; p < document.parts.size(); ++p) {
    for (const ExrChannel& channel : document.parts[p].channels) {
      types[std::to_string(p) + ":" + channel.name] = channel.Type();
    }
  }
  return types;
}

RunResult Render(const std::string& dir, std::vector<std::string> args) {
  args.insert(args.begin(), "render");
  args.push_back("-q");
  return RunKestrion(args, dir);
}

// A test frame of any size, in frame coordinates: distinct R, G and B,
// premultiplied, with partial alpha on a diagonal pattern; a depth ramp
// from 2 to the right and down; background (no geometry, transparent) in a
// top-right block; objects 1, 2 and 3 in three regions.
bool Background(int x, int y) { return x > 17 && y < 4; }

double FrameValue(const std::string& name, int x, int y) {
  if (IsDepth(name)) return Background(x, y) ? INF : 2.0 + 0.55 * x + 0.13 * y;
  if (IsObjectId(name)) return Background(x, y) ? 0 : x < 8 ? 1 : y < 8 ? 2 : 3;
  if (Background(x, y)) return 0.0;
  const double alpha = (x + y) % 7 == 0 ? 0.5 : 1.0;
  const std::string c = Component(name);
  if (c == "A") return alpha;
  if (c == "R") return alpha * (0.15 + 0.8 * ((3 * x + 5 * y) % 7) / 6.0);
  if (c == "G") return alpha * (0.05 + 0.9 * ((x * x + 2 * y) % 11) / 10.0);
  if (c == "B") return alpha * (0.3 + 0.02 * x + 0.01 * (y % 3));
  return 0.25 + 0.01 * x - 0.005 * y;  // anything else
}

double FrameSample(const std::string& name, int, int x, int y) { return FrameValue(name, x, y); }

// ---------------------------------------------------------------------------
// The same frame in every layout renderers write gives the same output.

constexpr int FRAME_W = 23;
constexpr int FRAME_H = 15;

struct Layout {
  std::string name;
  std::vector<ExrPartLayout> parts;
  // Where the colour's R, G, B and A are: part and name.
  std::vector<std::pair<size_t, std::string>> colour;
  bool ids;
};

std::vector<std::pair<size_t, std::string>> ColourIn(size_t part, const std::string& prefix) {
  return {{part, prefix + "R"}, {part, prefix + "G"}, {part, prefix + "B"}, {part, prefix + "A"}};
}

std::vector<Layout> Layouts() {
  const auto rgba = Channels({"R", "G", "B", "A"}, Imf::FLOAT);
  auto with = [](std::vector<ExrChannelLayout> channels, std::vector<ExrChannelLayout> more) {
    channels.insert(channels.end(), more.begin(), more.end());
    return channels;
  };
  const ExrChannelLayout z{"Z", Imf::FLOAT};
  const ExrChannelLayout objectId{"objectId", Imf::UINT};
  ExrPartLayout tiled = OnePart(FRAME_W, FRAME_H, with(rgba, {z, objectId}));
  tiled.tiled = true;
  return {
      {"single part R, G, B, A, Z",
       {OnePart(FRAME_W, FRAME_H, with(rgba, {z, objectId}))},
       ColourIn(0, ""),
       true},
      {"multi-layer ViewLayer.*",
       {OnePart(FRAME_W, FRAME_H,
                Channels({"ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B",
                          "ViewLayer.Combined.A", "ViewLayer.Depth.Z", "ViewLayer.IndexOB.X"},
                         Imf::FLOAT))},
       ColourIn(0, "ViewLayer.Combined."),
       true},
      {"multi-part rgba + depth",
       {OnePart(FRAME_W, FRAME_H, rgba, "rgba"),
        OnePart(FRAME_W, FRAME_H, {{"depth.Z", Imf::FLOAT}}, "depth")},
       ColourIn(0, ""),
       false},
      {"single part with depth.Z",
       {OnePart(FRAME_W, FRAME_H, with(rgba, {{"depth.Z", Imf::FLOAT}}))},
       ColourIn(0, ""),
       false},
      {"tiled", {tiled}, ColourIn(0, ""), true},
  };
}

TEST(RenderCommand, LayoutsFilterIdentically) {
  ScratchDirectory dir;
  const std::vector<Layout> layouts = Layouts();
  const std::vector<std::string> options = {"--focus-depth", "6", "--range", "4", "--size", "3"};
  for (const std::vector<std::string>& source :
       {std::vector<std::string>{}, std::vector<std::string>{"--source", "object:2"}}) {
    std::vector<std::vector<float>> reference;  // the first layout's R, G, B, A
    for (size_t l = 0; l < layouts.size(); ++l) {
      const Layout& layout = layouts[l];
      if (!source.empty() && !layout.ids) continue;
      SCOPED_TRACE(layout.name + (source.empty() ? "" : ", object 2"));
      const std::string in = "in" + std::to_string(l) + ".exr";
      WriteExrFile(dir / in, layout.parts, FrameSample);
      std::vector<std::string> args = {in, "-o", "out.exr"};
      args.insert(args.end(), options.begin(), options.end());
      args.insert(args.end(), source.begin(), source.end());
      const RunResult run = Render(dir / "", args);
      ASSERT_EQ(run.exitCode, 0) << run.err;
      const ExrDocument out = ReadBack(dir / "out.exr");
      std::vector<std::vector<float>> colour;
      for (const auto& [part, name] : layout.colour) colour.push_back(Samples(out, part, name));
      if (reference.empty()) {
        reference = colour;
        // Filtering happened: the output is not the input.
        const ExrDocument input = ReadBack(dir / in);
        EXPECT_FALSE(SameBits(colour[0], Samples(input, 0, "R")));
        continue;
      }
      for (size_t c = 0; c < colour.size(); ++c) {
        EXPECT_TRUE(SameBits(colour[c], reference[c])) << layout.colour[c].second;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Golden outputs.
//
// These files pin the command's exact output for a few small frames. A
// change in them is a change in what users get from the same render and
// settings: frames re-rendered after it no longer match frames rendered
// before. So a commit that updates them must say what changed in the output
// and why that is intended. To update them, run
//   KESTRION_UPDATE_GOLDEN=1 build/bin/kestrion_cli_tests --gtest_filter='RenderCommand.Golden*'
// which writes the outputs over tests/cli/golden/*.exr instead of comparing.

const std::string GOLDEN_DIR = KESTRION_SOURCE_DIR "/tests/cli/golden/";

bool UpdatingGolden() {
  const char* update = std::getenv("KESTRION_UPDATE_GOLDEN");
  return update && std::string(update) == "1";
}

// A bright frame: a dim gradient, a 2 x 2 highlight at 3000 and a sky of
// 40 behind everything.
double HdrSample(const std::string& name, int, int x, int y) {
  const bool sky = y < 3;
  if (IsDepth(name)) return sky ? INF : 1.5 + 0.7 * x + 0.2 * y;
  const std::string c = Component(name);
  if (x >= 6 && x <= 7 && y >= 5 && y <= 6) return c == "B" ? 300.0 : 3000.0;
  if (sky) return c == "R" ? 40.0 : c == "G" ? 55.0 : 70.0;
  return (c == "R" ? 0.002 : c == "G" ? 0.05 : 0.7) * (1.0 + 0.5 * std::sin(x + 2.0 * y));
}

// An opaque disc with anti-aliased edges over transparent background,
// premultiplied, near the camera.
double Coverage(int x, int y) {
  const double d = std::hypot(x - 6.3, y - 4.6) - 3.5;
  return std::clamp(0.5 - d, 0.0, 1.0);
}

double DiscSample(const std::string& name, int, int x, int y) {
  const double a = Coverage(x, y);
  if (IsDepth(name)) return a > 0.0 ? 2.0 : INF;
  const std::string c = Component(name);
  if (c == "A") return a;
  return a * (c == "R" ? 0.9 : c == "G" ? 0.35 : 0.02);
}

struct GoldenCase {
  std::string name;
  std::vector<ExrPartLayout> parts;
  test_files::SampleFunction sample;
  std::vector<std::string> args;
};

std::vector<GoldenCase> GoldenCases() {
  const ExrChannelLayout z{"Z", Imf::FLOAT};
  auto rgbaHalf = Channels({"R", "G", "B", "A"}, Imf::HALF);
  rgbaHalf.push_back(z);
  auto withId = rgbaHalf;
  withId.push_back({"objectId", Imf::UINT});
  auto rgbFloat = Channels({"R", "G", "B"}, Imf::FLOAT);
  rgbFloat.push_back(z);
  return {
      {"half_rgba_whole",
       {OnePart(13, 9, withId)},
       FrameSample,
       {"--focus-depth", "4", "--range", "3", "--size", "2"}},
      {"hdr_float",
       {OnePart(15, 11, rgbFloat)},
       HdrSample,
       {"--focus-depth", "5", "--range", "4", "--size", "3"}},
      {"premultiplied_disc",
       {OnePart(13, 9, rgbaHalf)},
       DiscSample,
       {"--focus-depth", "9", "--range", "2", "--size", "2"}},
      {"viewlayer_object",
       {OnePart(13, 9,
                Channels({"ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B",
                          "ViewLayer.Combined.A", "ViewLayer.Depth.Z", "ViewLayer.IndexOB.X"},
                         Imf::FLOAT))},
       FrameSample,
       {"--focus-depth", "3", "--range", "2", "--size", "2", "--source", "object:1"}},
  };
}

// Every part's windows, channels, types and samples, bit for bit.
void ExpectSameSamples(const ExrDocument& actual, const ExrDocument& expected) {
  ASSERT_EQ(actual.parts.size(), expected.parts.size());
  for (size_t p = 0; p < actual.parts.size(); ++p) {
    const ExrPart& a = actual.parts[p];
    const ExrPart& e = expected.parts[p];
    EXPECT_EQ(a.DataWindow(), e.DataWindow()) << "part " << p;
    ASSERT_EQ(a.channels.size(), e.channels.size()) << "part " << p;
    for (size_t c = 0; c < a.channels.size(); ++c) {
      const ExrChannel& ac = a.channels[c];
      const ExrChannel& ec = e.channels[c];
      ASSERT_EQ(ac.name, ec.name);
      ASSERT_EQ(ac.Type(), ec.Type()) << ac.name;
      ASSERT_EQ(ac.Size(), ec.Size()) << ac.name;
      for (size_t i = 0; i < ac.Size(); ++i) {
        if (ac.ExactValue(i) != ec.ExactValue(i)) {
          ADD_FAILURE() << ac.name << " sample " << i << " (x " << i % a.Width() << ", y "
                        << i / a.Width() << "): " << ac.ExactValue(i) << ", expected "
                        << ec.ExactValue(i);
          break;
        }
      }
    }
  }
}

TEST(RenderCommand, GoldenOutputs) {
  ScratchDirectory dir;
  for (const GoldenCase& c : GoldenCases()) {
    SCOPED_TRACE(c.name);
    WriteExrFile(dir / "in.exr", c.parts, c.sample);
    std::vector<std::string> args = {"in.exr", "-o", "out.exr"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = Render(dir / "", args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string golden = GOLDEN_DIR + c.name + ".exr";
    if (UpdatingGolden()) {
      std::filesystem::copy_file(dir / "out.exr", golden,
                                 std::filesystem::copy_options::overwrite_existing);
      std::printf("wrote %s\n", golden.c_str());
      continue;
    }
    ASSERT_TRUE(std::filesystem::exists(golden))
        << golden << " is missing; KESTRION_UPDATE_GOLDEN=1 writes it";
    const ExrDocument out = ReadBack(dir / "out.exr");
    ExpectSameSamples(out, ReadBack(golden));
    EXPECT_NE(ChannelBytes(out), ChannelBytes(ReadBack(dir / "in.exr"))) << "nothing filtered";
  }
}

// ---------------------------------------------------------------------------
// Precision: the command keeps float precision around a very bright sun.

constexpr int SUN_W = 37;
constexpr int SUN_H = 23;
constexpr float SUN_FOCUS = 10.0f;
constexpr float SUN_RANGE = 10.0f;
constexpr float SUN_SIZE = 6.0f;

// The left half in focus, the right half farther and farther out of it,
// a background corner.
double SunDepth(int x, int y) {
  if (x > 32 && y < 4) return INF;
  return x < 18 ? SUN_FOCUS : SUN_FOCUS + 1.7 * (x - 17);
}

bool InSun(int x, int y) { return x >= 15 && x <= 19 && y >= 9 && y <= 12; }

// Log-uniform from 1e-4 to 1, from a hash of the pixel and channel, the
// same on every platform.
double Dim(int k, int x, int y) {
  // Unsigned arithmetic: the products wrap, as a hash wants, without the
  // undefined overflow of signed ones.
  uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
               static_cast<uint32_t>(k) * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return std::pow(10.0, -4.0 + 4.0 * (h % 10007) / 10006.0);
}

double SunSample(const std::string& name, int k, int x, int y) {
  if (IsDepth(name)) return SunDepth(x, y);
  if (InSun(x, y)) return name == "B" ? 2000.0 : 20000.0;
  return Dim(k, x, y);
}

TEST(RenderCommand, KeepsPrecisionAroundABrightSun) {
  ScratchDirectory dir;
  auto channels = Channels({"R", "G", "B", "Z"}, Imf::FLOAT);
  WriteExrFile(dir / "sun.exr", {OnePart(SUN_W, SUN_H, channels)}, SunSample);
  const RunResult run = Render(dir / "", {"sun.exr", "-o", "out.exr", "--focus-depth", "10",
                                          "--range", "10", "--size", "6"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const ExrDocument in = ReadBack(dir / "sun.exr");
  const ExrDocument out = ReadBack(dir / "out.exr");
  const RadiusRule rule(SUN_FOCUS, SUN_RANGE, SUN_SIZE, std::max(SUN_W, SUN_H));
  for (const char* name : {"R", "G", "B"}) {
    const std::vector<float> input = Samples(in, 0, name);
    const std::vector<float> output = Samples(out, 0, name);
    kestrion_test::ExpectFloatWindowMeans(
        input, output, SUN_W, SUN_H,
        [&](int x, int y) { return BlurRadius(rule, static_cast<float>(-SunDepth(x, y))); }, name);
  }
}

// Pixels in focus (the left half) keep every bit of every channel, in float
// and half files alike, opaque or transparent; filtered alpha stays within
// 0 and 1 even where every pixel is opaque.
double CoveredSample(const std::string& name, int k, int x, int y) {
  if (IsDepth(name)) return SunDepth(x, y);
  const double alpha = y % 4 == 0 ? 0.0 : y % 4 == 1 ? 0.45 : 1.0;
  if (name == "A") return alpha;
  return alpha * (y == 2 ? 1.0 : Dim(k, x, y));
}

TEST(RenderCommand, SharpPixelsKeepTheirBitsInFloatAndHalf) {
  ScratchDirectory dir;
  const RadiusRule rule(SUN_FOCUS, SUN_RANGE, SUN_SIZE, std::max(SUN_W, SUN_H));
  for (const Imf::PixelType type : {Imf::FLOAT, Imf::HALF}) {
    SCOPED_TRACE(PixelTypeName(type));
    auto channels = Channels({"R", "G", "B", "A"}, type);
    channels.push_back({"Z", Imf::FLOAT});
    WriteExrFile(dir / "in.exr", {OnePart(SUN_W, SUN_H, channels)}, CoveredSample);
    const RunResult run = Render(dir / "", {"in.exr", "-o", "out.exr", "--focus-depth", "10",
                                            "--range", "10", "--size", "6"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const ExrDocument in = ReadBack(dir / "in.exr");
    const ExrDocument out = ReadBack(dir / "out.exr");
    const std::vector<float> alpha = Samples(out, 0, "A");
    for (size_t i = 0; i < alpha.size(); ++i) {
      ASSERT_TRUE(alpha[i] >= 0.0f && alpha[i] <= 1.0f) << "alpha " << alpha[i] << " at " << i;
    }
    for (const char* name : {"R", "G", "B", "A"}) {
      const std::vector<float> input = Samples(in, 0, name);
      const std::vector<float> output = Samples(out, 0, name);
      ASSERT_EQ(output.size(), input.size());
      size_t sharp = 0;
      for (int y = 0; y < SUN_H; ++y) {
        for (int x = 0; x < SUN_W; ++x) {
          if (BlurRadius(rule, static_cast<float>(-SunDepth(x, y))) != 0) continue;
          const size_t at = static_cast<size_t>(y * SUN_W + x);
          ++sharp;
          ASSERT_EQ(std::memcmp(&input[at], &output[at], sizeof(float)), 0)
              << name << " at (" << x << ", " << y << "): " << output[at] << " against "
              << input[at];
        }
      }
      EXPECT_GT(sharp, static_cast<size_t>(SUN_W * SUN_H / 3));
      EXPECT_FALSE(SameBits(output, input)) << name << ": nothing filtered";
    }
  }
}

// Passes run side by side, as many as --threads; the file written must not
// depend on how many did, with premultiplied and straight alpha (whose
// division runs over the frame in slices) alike. The sun and the dim
// values over four decades make five passes: 2 threads run them two by two
// and the last alone, 5 threads all at once.
TEST(RenderCommand, WritesTheSameBytesWithEveryThreadCount) {
  ScratchDirectory dir;
  auto channels = Channels({"R", "G", "B", "A", "Z"}, Imf::FLOAT);
  WriteExrFile(dir / "sun.exr", {OnePart(SUN_W, SUN_H, channels)},
               [](const std::string& name, int k, int x, int y) {
                 return name == "A" ? CoveredSample(name, k, x, y) : SunSample(name, k, x, y);
               });
  auto bytes = [](const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  };
  for (const char* alpha : {"premultiplied", "straight"}) {
    SCOPED_TRACE(alpha);
    std::string first;
    for (const char* threads : {"1", "2", "5"}) {
      const RunResult run =
          Render(dir / "", {"sun.exr", "-o", "out.exr", "--focus-depth", "10", "--range", "10",
                            "--size", "6", "--alpha", alpha, "--threads", threads});
      ASSERT_EQ(run.exitCode, 0) << run.err;
      const size_t named = run.out.rfind(" passes)");
      ASSERT_NE(named, std::string::npos) << run.out;
      EXPECT_GE(std::stoi(run.out.substr(run.out.rfind(' ', named - 1) + 1)), 5) << run.out;
      const std::string written = bytes(dir / "out.exr");
      ASSERT_FALSE(written.empty());
      if (first.empty()) {
        first = written;
      } else {
        EXPECT_TRUE(written == first) << threads << " threads wrote other bytes than 1";
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Alpha: premultiplied in, premultiplied EXR out, straight review images.

constexpr int DISC_W = 29;
constexpr int DISC_H = 19;
constexpr double DISC_COLOUR[3] = {0.9, 0.35, 0.02};

// A sharp-edged opaque disc near the camera over transparent background.
bool InDisc(int x, int y) { return (x - 14) * (x - 14) + (y - 9) * (y - 9) <= 25; }

double SharpDiscSample(const std::string& name, int, int x, int y) {
  const bool in = InDisc(x, y);
  if (IsDepth(name)) return in ? 3.0 : INF;
  if (name == "A") return in ? 1.0 : 0.0;
  return in ? DISC_COLOUR[name == "R" ? 0 : name == "G" ? 1 : 2] : 0.0;
}

// The bit depth and colour type from a PNG's header.
std::pair<int, int> PngDepthAndType(const std::string& path) {
  const std::string bytes = ReadText(path);
  if (bytes.size() < 26) return {0, 0};
  return {static_cast<unsigned char>(bytes[24]), static_cast<unsigned char>(bytes[25])};
}

TEST(RenderCommand, PremultipliedAlphaStaysConsistent) {
  ScratchDirectory dir;
  WriteExrFile(dir / "disc.exr",
               {OnePart(DISC_W, DISC_H, Channels({"R", "G", "B", "A", "Z"}, Imf::FLOAT))},
               SharpDiscSample);
  const std::vector<std::string> focus = {"--focus-depth", "12", "--range", "4", "--size", "4"};
  auto render = [&](std::vector<std::string> args) {
    args.insert(args.end(), focus.begin(), focus.end());
    const RunResult run = Render(dir / "", args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
  };
  render({"disc.exr", "-o", "out.exr"});
  const ExrDocument out = ReadBack(dir / "out.exr");
  const std::vector<float> alpha = Samples(out, 0, "A");
  ASSERT_EQ(alpha.size(), static_cast<size_t>(DISC_W * DISC_H));
  for (const char* name : {"R", "G", "B"}) {
    const std::vector<float> colour = Samples(out, 0, name);
    for (size_t i = 0; i < colour.size(); ++i) {
      ASSERT_LE(colour[i], alpha[i] + 1e-3f) << name << " at pixel " << i;
    }
  }
  // (20, 9) is just right of the disc's edge: transparent in the input,
  // partly covered once the disc is blurred.
  const float outside = alpha[9 * DISC_W + 20];
  EXPECT_GT(outside, 0.0f);
  EXPECT_LT(outside, 1.0f);

  // Review images: straight colour, the disc's own colour wherever it
  // covers enough to tell, nothing where nothing is covered.
  for (const int bits : {8, 16}) {
    SCOPED_TRACE(std::to_string(bits) + "-bit PNG");
    const std::string name = "out" + std::to_string(bits) + ".png";
    render({"disc.exr", "-o", name, "--bit-depth", std::to_string(bits)});
    EXPECT_EQ(PngDepthAndType(dir / name), std::make_pair(bits, 6));  // 6: RGBA
    const FramePlanes png = ReadReviewImage(dir / name);
    ASSERT_TRUE(png.alpha);
    ASSERT_EQ(png.PixelCount(), alpha.size());
    const double step = 1.0 / ((1 << bits) - 1);
    size_t partial = 0;
    for (size_t i = 0; i < alpha.size(); ++i) {
      const float a = (*png.alpha)[i];
      ASSERT_NEAR(a, alpha[i], step) << "alpha at pixel " << i;
      for (size_t c = 0; c < 3; ++c) {
        const float value = png.colour[c][i];
        if (a == 0.0f) {
          ASSERT_EQ(value, 0.0f) << "colour under alpha 0 at pixel " << i;
        } else if (a >= 0.1f) {
          // sRGB quantisation, and the filter's error divided by alpha.
          ASSERT_NEAR(value, DISC_COLOUR[c], 4 * step + 1e-3 / a) << "pixel " << i;
        }
      }
      partial += a > 0.1f && a < 0.9f;
    }
    EXPECT_GT(partial, 0u);
  }
}

// ---------------------------------------------------------------------------
// Everything in the document but the colour and alpha comes back unchanged.

// Display window 23 x 15 at (10, 20); data window two pixels larger all
// round (overscan).
const Imath::Box2i DISPLAY{{10, 20}, {32, 34}};
const Imath::Box2i OVERSCAN{{8, 18}, {34, 36}};

// Colour and its diffuse AOV hold the same values, so that filtering both
// must give both the same result.
double AovSample(const std::string& name, int k, int x, int y) {
  const int fx = x - DISPLAY.min.x, fy = y - DISPLAY.min.y;
  if (name == "Z") return 2.0 + 0.3 * (fx + 2) + 0.2 * (fy + 2);
  if (name == "objectId") return (fx + fy + 4) % 4;
  if (name.starts_with("N.")) return std::sin(0.3 * fx + k) * 0.8;
  const std::string c = Component(name);
  if (c == "A") return (fx + fy) % 5 == 0 ? 0.25 : 1.0;
  if (name.starts_with("specular.")) return 0.01 * (fx + 3 * fy) + 0.1 * k;
  const double base = c == "R" ? 0.6 : c == "G" ? 0.3 : 0.1;
  return base + 0.35 * (((fx * 5 + fy * 3) % 4) / 3.0) + 0.01 * fy;
}

std::vector<ExrPartLayout> AovParts(Imf::PixelType colourType) {
  ExrPartLayout beauty;
  beauty.name = "beauty";
  beauty.dataWindow = OVERSCAN;
  beauty.displayWindow = DISPLAY;
  beauty.channels = {
      {"R", colourType},         {"G", colourType},         {"B", colourType},
      {"A", colourType},         {"Z", Imf::FLOAT},         {"objectId", Imf::UINT},
      {"diffuse.R", colourType}, {"diffuse.G", colourType}, {"diffuse.B", colourType},
      {"N.X", Imf::FLOAT},       {"N.Y", Imf::FLOAT},       {"N.Z", Imf::FLOAT}};
  beauty.attributes = [](Imf::Header& header) {
    header.pixelAspectRatio() = 1.25f;
    header.insert("renderNote", Imf::StringAttribute("frame 12, take 3"));
    Imath::M44f worldToCamera;
    worldToCamera.translate(Imath::V3f(1.5f, -2.0f, 7.25f));
    header.insert("worldToCamera", Imf::M44fAttribute(worldToCamera));
  };
  ExrPartLayout extra;
  extra.name = "extra";
  extra.dataWindow = {{12, 22}, {30, 31}};
  extra.displayWindow = DISPLAY;
  extra.channels = Channels({"specular.R", "specular.G", "specular.B"}, Imf::HALF);
  // Parts of one file share their pixel aspect.
  extra.attributes = [](Imf::Header& header) { header.pixelAspectRatio() = 1.25f; };
  return {beauty, extra};
}

TEST(RenderCommand, KeepsEverythingButTheFilteredLayers) {
  ScratchDirectory dir;
  const std::set<std::string> colour = {"0:R", "0:G", "0:B", "0:A"};
  const std::set<std::string> diffuse = {"0:diffuse.R", "0:diffuse.G", "0:diffuse.B"};
  const std::vector<std::string> focus = {"--focus-depth", "5", "--range", "3", "--size", "2"};
  for (const Imf::PixelType type : {Imf::HALF, Imf::FLOAT}) {
    SCOPED_TRACE(type == Imf::HALF ? "half colour" : "float colour");
    WriteExrFile(dir / "in.exr", AovParts(type), AovSample);
    const ExrDocument in = ReadBack(dir / "in.exr");
    const auto inBytes = ChannelBytes(in);

    struct Run {
      std::vector<std::string> args;
      std::set<std::string> filtered;
      std::optional<Imf::Compression> compression;
    };
    std::set<std::string> both = colour;
    both.insert(diffuse.begin(), diffuse.end());
    const std::vector<Run> runs = {
        {{}, colour, std::nullopt},
        {{"--compression", "piz"}, colour, Imf::PIZ_COMPRESSION},
        {{"--layers", "diffuse"}, both, std::nullopt},
    };
    std::map<std::string, std::string> plain;  // the first run's channels
    for (const Run& r : runs) {
      SCOPED_TRACE(r.args.empty() ? "no options" : r.args[0] + " " + r.args[1]);
      std::vector<std::string> args = {"in.exr", "-o", "out.exr"};
      args.insert(args.end(), focus.begin(), focus.end());
      args.insert(args.end(), r.args.begin(), r.args.end());
      const RunResult run = Render(dir / "", args);
      ASSERT_EQ(run.exitCode, 0) << run.err;
      const ExrDocument out = ReadBack(dir / "out.exr");
      ASSERT_EQ(out.parts.size(), in.parts.size());
      for (size_t p = 0; p < in.parts.size(); ++p) {
        auto expected = test_files::AttributeBytes(in.parts[p].header);
        auto actual = test_files::AttributeBytes(out.parts[p].header);
        if (r.compression) {
          EXPECT_EQ(out.parts[p].header.compression(), *r.compression);
          // The number of chunks follows from the compression's lines per
          // chunk.
          for (const char* derived : {"compression", "chunkCount"}) {
            expected.erase(derived);
            actual.erase(derived);
          }
        }
        EXPECT_EQ(actual, expected) << "part " << p;
      }
      EXPECT_EQ(ChannelTypes(out), ChannelTypes(in));
      const auto outBytes = ChannelBytes(out);
      ASSERT_EQ(outBytes.size(), inBytes.size());
      for (const auto& [name, bytes] : inBytes) {
        if (r.filtered.count(name)) {
          EXPECT_NE(outBytes.at(name), bytes) << name << " was not filtered";
        } else {
          EXPECT_EQ(outBytes.at(name), bytes) << name << " changed";
        }
      }
      if (plain.empty()) {
        plain = outBytes;
      } else {
        for (const std::string& name : colour) EXPECT_EQ(outBytes.at(name), plain.at(name)) << name;
      }
      if (r.filtered.count("0:diffuse.R")) {
        // The same values through the same windows.
        for (const char* c : {"R", "G", "B"}) {
          EXPECT_EQ(outBytes.at(std::string("0:diffuse.") + c), outBytes.at(std::string("0:") + c))
              << c;
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// PNG input with its depth in a separate file.

constexpr int PICTURE_W = 23;
constexpr int PICTURE_H = 15;

// Distances whose radii (focus 4, range 3, size 3: one pixel a unit) lie
// halfway between whole numbers, so that a depth map's 16-bit rounding
// cannot change them: 0 in the left columns (in focus), up to 3 on the
// right; nearer than the focus in the lower rows.
double MapDistance(int x, int y) {
  const int r = x / 6;
  return y < 8 ? 4.5 + r : 3.5 - std::min(r, 2);
}

FramePlanes StraightPicture() {
  FramePlanes frame;
  frame.width = PICTURE_W;
  frame.height = PICTURE_H;
  frame.alphaMode = AlphaMode::Straight;
  frame.colour.assign(3, Plane(frame.PixelCount()));
  frame.colourNames = {"R", "G", "B"};
  frame.alpha = Plane(frame.PixelCount());
  for (int y = 0; y < PICTURE_H; ++y) {
    for (int x = 0; x < PICTURE_W; ++x) {
      const size_t i = static_cast<size_t>(y * PICTURE_W + x);
      frame.colour[0][i] = (x % 2) ? 0.9f : 0.1f;
      frame.colour[1][i] = (y % 3) ? 0.6f : 0.05f;
      frame.colour[2][i] = 0.03f * static_cast<float>(x);
      (*frame.alpha)[i] = y == 7 ? 0.0f : (x + y) % 4 == 0 ? 0.4f : 1.0f;
    }
  }
  return frame;
}

void WriteGreyPng16(const std::string& path, int width, int height,
                    const std::function<uint16_t(int, int)>& value) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(file);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 16,
               PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<png_byte> row(static_cast<size_t>(width) * 2);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint16_t v = value(x, y);
      row[2 * static_cast<size_t>(x)] = static_cast<png_byte>(v >> 8);
      row[2 * static_cast<size_t>(x) + 1] = static_cast<png_byte>(v & 0xFF);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

// The normalised value of a distance between near 1 and far 10.
uint16_t MapValue(double distance) {
  return static_cast<uint16_t>(std::lround((distance - 1.0) / 9.0 * 65535.0));
}

TEST(RenderCommand, FiltersPngWithADepthFile) {
  ScratchDirectory dir;
  const FramePlanes picture = StraightPicture();
  WriteReviewImage(picture, dir / "in.png", ReviewFormat::Png, 8);
  WriteGreyPng16(dir / "depth.png", PICTURE_W, PICTURE_H,
                 [](int x, int y) { return MapValue(MapDistance(x, y)); });
  WriteExrFile(dir / "depth.exr", {OnePart(PICTURE_W, PICTURE_H, {{"Z", Imf::FLOAT}})},
               [](const std::string&, int, int x, int y) { return MapDistance(x, y); });
  const std::vector<std::string> focus = {"--focus-depth", "4", "--range", "3", "--size", "3"};
  const std::vector<std::string> map = {"--depth-file", "depth.png", "--depth-near", "1",
                                        "--depth-far",  "10"};
  auto render = [&](std::vector<std::string> args, const std::vector<std::string>& depth) {
    args.insert(args.end(), focus.begin(), focus.end());
    args.insert(args.end(), depth.begin(), depth.end());
    const RunResult run = Render(dir / "", args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
  };
  render({"in.png", "-o", "map.png"}, map);
  render({"in.png", "-o", "map.exr"}, map);
  render({"in.png", "-o", "exr.png"}, {"--depth-file", "depth.exr"});

  const FramePlanes input = ReadReviewImage(dir / "in.png");
  const FramePlanes viaMap = ReadReviewImage(dir / "map.png");
  const FramePlanes viaExr = ReadReviewImage(dir / "exr.png");
  ASSERT_EQ(viaMap.PixelCount(), input.PixelCount());
  ASSERT_TRUE(viaMap.alpha && viaExr.alpha && input.alpha);
  // The same distances, one way or the other: the same output.
  for (size_t c = 0; c < 3; ++c) EXPECT_TRUE(SameBits(viaMap.colour[c], viaExr.colour[c]));
  EXPECT_TRUE(SameBits(*viaMap.alpha, *viaExr.alpha));
  // In focus (radius 0, the upper left block) the picture is unchanged;
  // farther right it is blurred.
  size_t blurred = 0;
  for (int y = 0; y < PICTURE_H; ++y) {
    for (int x = 0; x < PICTURE_W; ++x) {
      const size_t i = static_cast<size_t>(y * PICTURE_W + x);
      if (x < 6 && y < 7) {
        EXPECT_NEAR((*viaMap.alpha)[i], (*input.alpha)[i], 1e-4) << x << "," << y;
        for (size_t c = 0; c < 3; ++c) {
          EXPECT_NEAR(viaMap.colour[c][i], input.colour[c][i], 2e-3) << x << "," << y;
        }
      }
      blurred += x >= 12 && std::fabs(viaMap.colour[0][i] - input.colour[0][i]) > 0.1;
    }
  }
  EXPECT_GT(blurred, 20u);

  // OpenEXR output: premultiplied float colour, the review image's colour
  // times its alpha; and the depth as distances.
  const ExrDocument exr = ReadBack(dir / "map.exr");
  const std::vector<float> alpha = Samples(exr, 0, "A");
  ASSERT_EQ(alpha.size(), input.PixelCount());
  const char* names[] = {"R", "G", "B"};
  for (size_t c = 0; c < 3; ++c) {
    const std::vector<float> colour = Samples(exr, 0, names[c]);
    ASSERT_EQ(colour.size(), alpha.size());
    for (size_t i = 0; i < colour.size(); ++i) {
      ASSERT_LE(colour[i], alpha[i] + 1e-3f) << names[c] << " at pixel " << i;
      ASSERT_NEAR(colour[i], viaMap.colour[c][i] * alpha[i], 2e-4 + 1e-3 * alpha[i])
          << names[c] << " at pixel " << i;
    }
  }
  const std::vector<float> depth = Samples(exr, 0, "Z");
  ASSERT_EQ(depth.size(), alpha.size());
  for (int y = 0; y < PICTURE_H; ++y) {
    for (int x = 0; x < PICTURE_W; ++x) {
      EXPECT_NEAR(depth[static_cast<size_t>(y * PICTURE_W + x)], MapDistance(x, y), 1e-3)
          << x << "," << y;
    }
  }
}

// ---------------------------------------------------------------------------
// Bad input: one clear complaint, and nothing written.

TEST(RenderCommand, BadInputIsRefusedWithoutWritingAnything) {
  ScratchDirectory dir;
  const std::string precious = "precious bytes\x01\x02";
  WriteText(dir / "out.exr", precious);
  WriteText(dir / "out.png", precious);
  WriteExrFile(dir / "plain.exr", {OnePart(9, 7, Channels({"R", "G", "B", "A", "Z"}, Imf::HALF))});
  // Two colour layers, neither named like a beauty pass, in two parts.
  WriteExrFile(dir / "ambiguous.exr",
               {OnePart(9, 7, Channels({"left.R", "left.G", "left.B", "Z"}, Imf::HALF), "left"),
                OnePart(9, 7, Channels({"right.R", "right.G", "right.B"}, Imf::HALF), "right")});
  WriteExrFile(dir / "nodepth.exr", {OnePart(9, 7, Channels({"R", "G", "B"}, Imf::HALF))});
  WriteExrFile(
      dir / "fraction.exr",
      {OnePart(9, 7,
               Channels({"ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B",
                         "ViewLayer.Depth.Z", "ViewLayer.IndexOB.X"},
                        Imf::FLOAT))},
      [](const std::string& name, int k, int x, int y) {
        return IsObjectId(name) && x == 4 && y == 3 ? 2.5 : test_files::SampleAt(name, k, x, y);
      });
  FramePlanes picture = StraightPicture();
  WriteReviewImage(picture, dir / "in.png", ReviewFormat::Png, 8);
  WriteGreyPng16(dir / "small.png", PICTURE_W - 1, PICTURE_H,
                 [](int, int) { return uint16_t{30000}; });
  WriteExrFile(dir / "small.exr", {OnePart(PICTURE_W, PICTURE_H + 2, {{"Z", Imf::FLOAT}})});
  std::vector<std::string> inputs = dir.Entries();
  std::sort(inputs.begin(), inputs.end());

  struct Case {
    std::string what;
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> mentions;  // on the first line
    size_t lines;                       // on stderr
    std::vector<std::string> listed = {};
  };
  const std::vector<Case> cases = {
      {"ambiguous colour layers",
       {"ambiguous.exr", "-o", "out.exr"},
       2,
       {"ambiguous.exr", "--layer"},
       3,
       {"left", "right"}},
      {"no depth",
       {"nodepth.exr", "-o", "out.exr"},
       1,
       {"nodepth.exr", "--depth-channel"},
       2,
       {"(B,G,R) half"}},
      {"a missing explicit channel",
       {"plain.exr", "-o", "out.exr", "--depth-channel", "depth.Q"},
       2,
       {"plain.exr", "--depth-channel", "depth.Q"},
       2,
       {"Z"}},
      {"a fractional ID",
       {"fraction.exr", "-o", "out.exr"},
       1,
       {"fraction.exr", "ViewLayer.IndexOB.X", "2.5"},
       1},
      {"a PNG without a depth file", {"in.png", "-o", "out.png"}, 2, {"in.png", "--depth-file"}, 1},
      {"an unknown depth mode",
       {"plain.exr", "-o", "out.exr", "--depth-mode", "sideways"},
       2,
       {"--depth-mode", "sideways"},
       1},
      {"an unknown alpha mode",
       {"plain.exr", "-o", "out.exr", "--alpha", "sideways"},
       2,
       {"--alpha", "sideways"},
       1},
      {"an unknown compression",
       {"plain.exr", "-o", "out.exr", "--compression", "sideways"},
       2,
       {"--compression", "sideways"},
       1},
      {"a depth map of the wrong size",
       {"in.png", "-o", "out.png", "--depth-file", "small.png", "--depth-near", "1", "--depth-far",
        "10"},
       1,
       {"small.png"},
       1},
      {"an OpenEXR depth file of the wrong size",
       {"in.png", "-o", "out.exr", "--depth-file", "small.exr"},
       1,
       {"small.exr", "23 x 17"},
       1},
      {"12-bit PNG", {"plain.exr", "-o", "out.png", "--bit-depth", "12"}, 2, {"--bit-depth"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--focus-depth", "3"});
    const RunResult run = Render(dir / "", args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_EQ(Lines(run.err), c.lines) << run.err;
    EXPECT_EQ(run.err.rfind("kestrion: ", 0), 0u) << run.err;
    // What is wrong, the option and the file on the first line; the
    // parts' channels on the lines after it.
    const std::string first = run.err.substr(0, run.err.find('\n'));
    for (const std::string& word : c.mentions) {
      EXPECT_NE(first.find(word), std::string::npos) << word << " not in: " << first;
    }
    for (const std::string& word : c.listed) {
      EXPECT_NE(run.err.find(word, first.size()), std::string::npos)
          << word << " not listed in: " << run.err;
    }
    EXPECT_EQ(ReadText(dir / "out.exr"), precious);
    EXPECT_EQ(ReadText(dir / "out.png"), precious);
    std::vector<std::string> entries = dir.Entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, inputs) << "files written or left behind";
  }
}

// ---------------------------------------------------------------------------
// Layered renders: the switch on the command line and in a settings file,
// and what the files and the report say of it.

// A disc in focus over a wall far behind it, opaque.
double DiscOverWallSample(const std::string& name, int, int x, int y) {
  const bool in = InDisc(x, y);
  if (IsDepth(name)) return in ? 3.0 : 30.0;
  if (name == "A") return 1.0;
  return in ? DISC_COLOUR[name == "R" ? 0 : name == "G" ? 1 : 2] : 0.2;
}

TEST(RenderCommand, LayeredRendersSayHowTheyWereMade) {
  ScratchDirectory dir;
  WriteExrFile(dir / "disc.exr",
               {OnePart(DISC_W, DISC_H, Channels({"R", "G", "B", "A", "Z"}, Imf::FLOAT))},
               DiscOverWallSample);
  const std::vector<std::string> focus = {
      "disc.exr", "--focus-depth", "3", "--range", "4", "--size", "5", "--report", "json"};
  auto render = [&](const std::string& output, std::vector<std::string> more) {
    std::vector<std::string> args = focus;
    args.insert(args.end(), {"-o", output});
    args.insert(args.end(), more.begin(), more.end());
    const RunResult run = Render(dir / "", args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run.exitCode == 0 ? nlohmann::json::parse(run.out) : nlohmann::json();
  };
  const nlohmann::json plain = render("plain.exr", {});
  EXPECT_TRUE(plain["layers"].is_null());
  EXPECT_GE(plain["passes"].get<int>(), 1);
  EXPECT_EQ(ReadBack(dir / "plain.exr")
                .parts[0]
                .header.findTypedAttribute<Imf::IntAttribute>("kestrionLayers"),
            nullptr);

  const nlohmann::json layered = render("layered.exr", {"--layered", "--focus-map", "map.png"});
  ASSERT_EQ(layered["layers"], 2) << layered;  // the disc and the wall
  EXPECT_GE(layered["passes"].get<int>(), 1);
  const ExrDocument out = ReadBack(dir / "layered.exr");
  const auto* mark = out.parts[0].header.findTypedAttribute<Imf::IntAttribute>("kestrionLayers");
  ASSERT_NE(mark, nullptr);
  EXPECT_EQ(mark->value(), 2);
  // The wall around the disc keeps its own colour: no halo of the disc's.
  const std::vector<float> green = Samples(out, 0, "G");
  const std::vector<float> plainGreen = Samples(ReadBack(dir / "plain.exr"), 0, "G");
  double leak = 0.0;
  double plainLeak = 0.0;
  for (int y = 0; y < DISC_H; ++y) {
    for (int x = 0; x < DISC_W; ++x) {
      if (InDisc(x, y)) continue;
      leak = std::max(leak, std::fabs(green[y * DISC_W + x] - 0.2));
      plainLeak = std::max(plainLeak, std::fabs(plainGreen[y * DISC_W + x] - 0.2));
    }
  }
  EXPECT_LT(leak, 1e-3);
  EXPECT_GT(plainLeak, 0.01);
  EXPECT_NE(ReadText(dir / "map.png").find("filtered in 2 depth layers"), std::string::npos);
  const RunResult said = RunKestrion({"render", "disc.exr", "-o", "said.exr", "--focus-depth", "3",
                                      "--range", "4", "--size", "5", "--layered"},
                                     dir / "");
  EXPECT_NE(said.out.find("2 depth layers, "), std::string::npos) << said.out;
  EXPECT_NE(said.err.find("filtering, layer 1 of 2"), std::string::npos) << said.err;
  const RunResult shown = RunKestrion({"inspect", "layered.exr"}, dir / "");
  EXPECT_NE(shown.out.find("by kestrion in 2 depth layers (--layered)"), std::string::npos)
      << shown.out;

  // A settings file switches it on as the option does, and takes nothing
  // but true or false.
  WriteText(dir / "on.json", R"({"layered": true})");
  render("file.exr", {"--settings", "on.json"});
  EXPECT_EQ(ReadText(dir / "file.exr"), ReadText(dir / "layered.exr"));
  WriteText(dir / "bad.json", R"({"layered": 1})");
  std::vector<std::string> bad = focus;
  bad.insert(bad.end(), {"-o", "bad.exr", "--settings", "bad.json"});
  const RunResult refused = Render(dir / "", bad);
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.err.find("layered must be true or false"), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.exr"));
}

}  // namespace
}  // namespace kestrion
