// A render's memory: the need computed from the headers of its files, the
// estimate an upper bound of what renders really allocate, the module's
// memory within its constant, and a filter that runs out of memory
// reported with the size it asked for.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "base/allocation_record.h"
#include "base/errors.h"
#include "base/memory_budget.h"
#include "formats/review_io.h"
#include "frame/filter_session.h"
#include "frame/focus_record.h"
#include "frame/frame_render.h"
#include "frame/module_passes.h"
#include "frame/render_input.h"
#include "host/scene.h"
#include "tests/frame/loaded_module.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using frame_tests::Module;

using test_files::ScratchDirectory;

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
  ResourceLimits limits;
  limits.maxSide = 8;
  try {
    InputNeed(dir / "in.tif", options, limits);
    FAIL() << "accepted a side of 9";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), dir / "in.tif" +
                                         ": an image of 9 x 7 pixels is not supported (1 to 8 per "
                                         "side, max_side)");
  }
  // The limit as its caller names it.
  limits.maxSideLabel = "--max-side";
  try {
    InputNeed(dir / "in.tif", options, limits);
    FAIL() << "accepted a side of 9";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("per side, --max-side)"), std::string::npos) << e.what();
  }
}

TEST(MemoryBudget, EstimateBoundsWhatARenderAllocates) {
  ScratchDirectory dir;
  test_files::WriteRender(dir / "in.exr", 640, 360);
  const uint64_t need = InputNeed(dir / "in.exr", InputOptions{}).Bytes();
  for (const char* output : {"out.exr", "out.png"}) {
    SCOPED_TRACE(output);
    RenderSettings settings;
    settings.focusDepth = FloatKeys{{0, 20.0f}};
    settings.size = FloatKeys{{0, 6.0f}};
    int64_t peak = 0;
    {
      const AllocationPeak allocations;
      const FrameOutcome outcome =
          RenderFrameFiles(KESTRION_MODULE_PATH, {dir / "in.exr", dir / output, ""}, settings);
      peak = allocations.Peak();
      ASSERT_FALSE(outcome.error) << outcome.error->what();
    }
    EXPECT_GT(peak, 0);
    EXPECT_LE(static_cast<uint64_t>(peak), need) << "estimated " << need;
  }
}

TEST(MemoryBudget, LayeredRendersAreCountedWithTheirLayers) {
  ScratchDirectory dir;
  test_files::WriteRender(dir / "in.exr", 640, 360);
  RenderNeed need = InputNeed(dir / "in.exr", InputOptions{});
  const uint64_t plain = need.Bytes();
  need.layered = true;
  const uint64_t layered = need.Bytes();
  ASSERT_GT(layered, plain);
  RenderSettings settings;
  settings.focusDepth = FloatKeys{{0, 20.0f}};
  settings.size = FloatKeys{{0, 12.0f}};
  settings.layered = true;
  int64_t peak = 0;
  {
    const AllocationPeak allocations;
    const FrameOutcome outcome =
        RenderFrameFiles(KESTRION_MODULE_PATH, {dir / "in.exr", dir / "out.exr", ""}, settings);
    peak = allocations.Peak();
    ASSERT_FALSE(outcome.error) << outcome.error->what();
    EXPECT_GT(outcome.report.layers.value_or(0), 2);
  }
  EXPECT_GT(peak, 0);
  EXPECT_LE(static_cast<uint64_t>(peak), layered) << "estimated " << layered;
  // A limit that holds the default render but not the layers refuses the
  // layered one before its passes, and writes nothing.
  settings.limits.memoryLimit = (plain + layered) / 2;
  const FrameOutcome refused =
      RenderFrameFiles(KESTRION_MODULE_PATH, {dir / "in.exr", dir / "refused.exr", ""}, settings);
  ASSERT_TRUE(refused.error);
  EXPECT_NE(std::string(refused.error->what()).find("filtering it in layers needs about"),
            std::string::npos)
      << refused.error->what();
  EXPECT_FALSE(std::filesystem::exists(dir / "refused.exr"));
  settings.layered = false;
  EXPECT_FALSE(
      RenderFrameFiles(KESTRION_MODULE_PATH, {dir / "in.exr", dir / "plain.exr", ""}, settings)
          .error);
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
    int64_t peak = 0;
    {
      const AllocationPeak allocations;
      const FilteredPlanes filtered =
          FilterPlanes(Module(), ComposeRecord(settings), 10.0f, frame, z);
      peak = allocations.Peak();
      // Three channels of one band each, and the probe.
      EXPECT_EQ(filtered.passes, 2);
    }
    // The host bitmap, three channels' bands and sums, the probe's answer
    // and the module.
    const double perPixel = static_cast<double>(peak) / static_cast<double>(count);
    const double module =
        perPixel - HOST_BITMAP_BYTES_PER_PIXEL - 3 * (3 + 4) - PROBE_BYTES_PER_PIXEL;
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
    session.Run(image, "frame.exr", 0, NeverAbort());
    FAIL() << "the filter processed the frame without its memory";
  } catch (const Error& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("frame.exr: the filter ran out of memory (an allocation of ", 0), 0u)
        << message;
    EXPECT_NE(message.find(" MiB failed)"), std::string::npos) << message;
  }
  // With its memory the same filter processes the frame.
  EXPECT_NO_THROW(session.Run(image, "frame.exr", 0, NeverAbort()));
}

}  // namespace
}  // namespace kestrion
