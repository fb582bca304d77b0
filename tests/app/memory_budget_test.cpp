// The resource budget: sizes and sides parsed strictly, the need computed
// from headers before any pixel is read and refused past the limit, the
// estimate an upper bound of what renders really allocate, and a filter
// that runs out of memory reported with the size it asked for.
#include "app/memory_budget.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/allocation_record.h"
#include "app/commands.h"
#include "app/errors.h"
#include "app/filter_runner.h"
#include "app/focus_record.h"
#include "app/module_passes.h"
#include "app/render_input.h"
#include "app/review_io.h"
#include "app/shot_runner.h"
#include "exr_test_files.h"
#include "host/scene.h"
#include "run_kestrion.h"
#include "test_files.h"

namespace kestrion {
namespace {

using test_files::ScratchDirectory;

const FilterModule& Module() {
  static const std::unique_ptr<FilterModule> module = LoadFilterModule(KESTRION_MODULE_PATH);
  return *module;
}

// A render's file: half colour and alpha, float depth, ZIP.
void WriteRender(const std::string& path, int width, int height) {
  const Imath::Box2i window{{0, 0}, {width - 1, height - 1}};
  test_files::WriteExrFile(path, {test_files::Part("", window, window,
                                                   {{"R", Imf::HALF},
                                                    {"G", Imf::HALF},
                                                    {"B", Imf::HALF},
                                                    {"A", Imf::HALF},
                                                    {"Z", Imf::FLOAT}})});
}

TEST(MemoryBudget, NamesSizesInBinaryUnits) {
  EXPECT_EQ(ByteSizeText(900), "900 bytes");
  EXPECT_EQ(ByteSizeText(1536), "1.5 KiB");
  EXPECT_EQ(ByteSizeText(uint64_t{4} << 30), "4.0 GiB");
  EXPECT_EQ(ByteSizeText((uint64_t{76} << 30) / 10), "7.6 GiB");
}

TEST(MemoryBudget, RefusesOnlyWhatExceedsTheLimit) {
  ResourceLimits limits;
  limits.memoryLimit = uint64_t{4} << 30;
  EXPECT_NO_THROW(CheckNeed(limits.memoryLimit, limits, "in.exr", "filtering it"));
  try {
    CheckNeed(limits.memoryLimit + 1, limits, "in.exr", "filtering it");
    FAIL() << "accepted one byte more than the limit";
  } catch (const CommandError& e) {
    EXPECT_EQ(std::string(e.what()),
              "in.exr: filtering it needs about 4.0 GiB, more than the 4.0 GiB memory limit "
              "(--memory-limit)");
  }
}

TEST(MemoryBudget, DefaultIsAShareOfMemoryBelowTheProcessLimits) {
  const uint64_t whole = DefaultMemoryLimit(1);
  EXPECT_GT(whole, 0u);
  EXPECT_EQ(DefaultMemoryLimit(4), whole / 4);
  EXPECT_EQ(WorkerLimitArguments({"--size", "4"}, 4),
            (std::vector<std::string>{"--memory-limit", std::to_string(whole / 4)}));
  EXPECT_TRUE(WorkerLimitArguments({"--memory-limit", "1G"}, 4).empty());
  EXPECT_TRUE(WorkerLimitArguments({"--memory-limit=1G"}, 4).empty());
  // Under an address-space limit, the default stays below it.
  const pid_t child = fork();
  if (child == 0) {
    const rlimit cap{uint64_t{3} << 30, uint64_t{3} << 30};
    const bool lowered = setrlimit(RLIMIT_AS, &cap) == 0 && DefaultMemoryLimit(1) <= cap.rlim_cur &&
                         DefaultMemoryLimit(2) <= cap.rlim_cur / 2;
    _exit(lowered ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(MemoryBudget, RenderRefusesInputPastTheLimitBeforeReadingIt) {
  ScratchDirectory dir;
  WriteRender(dir / "in.exr", 96, 54);
  const uint64_t need = InputNeed(dir / "in.exr", InputOptions{}).Bytes();
  const auto render = [&](const std::vector<std::string>& more) {
    std::vector<std::string> args = {"render",        "in.exr", "-o", "out.exr",
                                     "--focus-depth", "20",     "-q"};
    args.insert(args.end(), more.begin(), more.end());
    return test_files::RunKestrion(args, dir / "");
  };
  const test_files::RunResult refused = render({"--memory-limit", std::to_string(need - 1)});
  EXPECT_EQ(refused.exitCode, EXIT_FAILED);
  EXPECT_EQ(refused.err, "kestrion: in.exr: filtering it needs about " + ByteSizeText(need) +
                             ", more than the " + ByteSizeText(need - 1) +
                             " memory limit (--memory-limit)\n");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.exr"});
  EXPECT_EQ(render({"--memory-limit", std::to_string(need)}).exitCode, EXIT_OK);

  const test_files::RunResult wide = render({"--max-side", "95"});
  EXPECT_EQ(wide.exitCode, EXIT_FAILED);
  EXPECT_NE(wide.err.find("in.exr: part 0: a display window of 96 x 54 pixels is not supported "
                          "(1 to 95 per side, --max-side)"),
            std::string::npos)
      << wide.err;
  EXPECT_EQ(render({"--memory-limit", "4GB"}).exitCode, EXIT_USAGE);
  EXPECT_EQ(render({"--max-side", "0x100"}).exitCode, EXIT_USAGE);
}

TEST(MemoryBudget, ReviewImagesAreMeasuredFromTheirHeaders) {
  ScratchDirectory dir;
  FramePlanes frame;
  frame.width = 9;
  frame.height = 7;
  frame.colour.assign(3, Plane(frame.PixelCount(), 0.25f));
  WriteReviewImage(frame, dir / "in.tif", ReviewFormat::Tiff, 16);
  frame.colour.resize(1);
  WriteReviewImage(frame, dir / "depth.png", ReviewFormat::Png, 8);
  const ImageSize size = ReadReviewImageSize(dir / "in.tif");
  EXPECT_EQ(size.width, 9);
  EXPECT_EQ(size.height, 7);
  InputOptions options;
  options.depthFile = dir / "depth.png";
  const RenderNeed need = InputNeed(dir / "in.tif", options);
  EXPECT_EQ(need.pixels, 63u);
  EXPECT_EQ(need.channels, 5u);  // colour, alpha and the depth map
  EXPECT_EQ(need.fileBytes, 2 * 63 * REVIEW_BYTES_PER_PIXEL);
  options.limits.maxSide = 8;
  try {
    InputNeed(dir / "in.tif", options);
    FAIL() << "accepted a side of 9";
  } catch (const CommandError& e) {
    EXPECT_EQ(std::string(e.what()), dir / "in.tif" +
                                         ": an image of 9 x 7 pixels is not supported (1 to 8 per "
                                         "side, --max-side)");
  }
}

TEST(MemoryBudget, EstimateBoundsWhatARenderAllocates) {
  ScratchDirectory dir;
  WriteRender(dir / "in.exr", 640, 360);
  const uint64_t need = InputNeed(dir / "in.exr", InputOptions{}).Bytes();
  for (const char* output : {"out.exr", "out.png"}) {
    SCOPED_TRACE(output);
    RenderOptions options;
    options.input = dir / "in.exr";
    options.output = dir / output;
    options.focusObject.reset();
    options.focusDepth = "20";
    options.size = "6";
    options.module = KESTRION_MODULE_PATH;
    options.quiet = true;
    std::FILE* out = std::tmpfile();
    int64_t peak = 0;
    {
      const AllocationPeak allocations;
      RunRender(options, out);
      peak = allocations.Peak();
    }
    std::fclose(out);
    EXPECT_GT(peak, 0);
    EXPECT_LE(static_cast<uint64_t>(peak), need) << "estimated " << need;
  }
}

TEST(MemoryBudget, ModuleMemoryPerPixelIsWithinItsConstant) {
  if (!AllocationRecordSeesMalloc()) {
    GTEST_SKIP() << "the sanitizer runtime owns malloc, where the module takes its pixel copies";
  }
  struct Case {
    int32_t width, height;
    float size;
  };
  // Small and large frames, narrow windows and windows whose sums need the
  // module's wide table.
  for (const auto& [width, height, size] :
       {Case{64, 64, 12.0f}, Case{1920, 1080, 12.0f}, Case{1920, 1080, 400.0f}}) {
    FramePlanes frame;
    frame.width = width;
    frame.height = height;
    const size_t count = frame.PixelCount();
    frame.colour.assign(3, Plane(count, 0.5f));
    frame.colourNames = {"R", "G", "B"};
    std::vector<float> z(count);
    for (size_t i = 0; i < count; ++i) z[i] = -2.0f - static_cast<float>(i % 97);
    FocusSettings settings;
    settings.focalName = "Focus";
    settings.range = 20.0f;
    settings.size = size;
    NoPassProgress progress;
    int64_t peak = 0;
    {
      const AllocationPeak allocations;
      const FilteredPlanes filtered =
          FilterPlanes(Module(), ComposeRecord(settings), 10.0f, frame, z, progress);
      peak = allocations.Peak();
      EXPECT_EQ(filtered.passes, 1);
    }
    // One pass of three channels: the host bitmap, three channels' bands and
    // sums, and the module.
    const double perPixel = static_cast<double>(peak) / static_cast<double>(count);
    const double module = perPixel - HOST_BITMAP_BYTES_PER_PIXEL - 3 * (3 + 4);
    EXPECT_LE(module, static_cast<double>(MODULE_BYTES_PER_PIXEL))
        << width << " x " << height << ": " << perPixel << " bytes a pixel in all";
    EXPECT_GT(module, 8.0) << "the module's working copy of the pixels alone takes 8";
  }
}

TEST(MemoryBudget, FilterOutOfMemorySaysHowMuchItAskedFor) {
  if (!AllocationRecordSeesMalloc()) {
    GTEST_SKIP() << "the sanitizer runtime owns malloc, where the module takes its pixel copies";
  }
  Image image{Bitmap(512, 512), ColourEncoding{true, 1.0f}};
  image.Storage().CreateChannels(CHANNEL_Z);
  std::fill_n(image.Storage().ZChannel(), 512 * 512, -5.0f);
  // The focal node on the camera axis, as a render places it.
  RenderInfo& info = image.Storage().CreateRenderInfo();
  info.worldToCam = Matrix3::Identity();
  SceneNode* node = HostInterface().GetNodeByName("Focus");
  if (!node) node = &HostInterface().AddNode("Focus");
  node->SetWorldTransform(0, Matrix3::Translation({0.0f, 0.0f, -5.0f}));
  FocusSettings settings;
  settings.focalName = "Focus";
  settings.size = 8.0f;
  FocusFilterSession session(Module(), ComposeRecord(settings));
  try {
    const AllocationCapForTesting cap(64 << 10);
    session.Run(image, "frame.exr", {});
    FAIL() << "the filter processed the frame without its memory";
  } catch (const CommandError& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("frame.exr: the filter ran out of memory (an allocation of ", 0), 0u)
        << message;
    EXPECT_NE(message.find(" MiB failed)"), std::string::npos) << message;
  }
  // With its memory the same filter processes the frame.
  EXPECT_NO_THROW(session.Run(image, "frame.exr", {}));
}

}  // namespace
}  // namespace kestrion
