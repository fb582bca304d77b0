// The in-process frame API as its callers use it: a frame held in memory
// filtered again and again through the caller's own filter, planes written
// without a file to come from, and an abort at any moment of a render of
// files ending as aborted with nothing written.
#include "frame/frame_render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "formats/exr_document.h"
#include "frame/focal_depth.h"
#include "tests/frame/loaded_module.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using frame_tests::Module;
using test_files::ScratchDirectory;

constexpr int32_t WIDTH = 29;
constexpr int32_t HEIGHT = 19;

// Planes as a caller holds them: colour ramps, no alpha, depth from 2 to
// about 31 with a band of background, one NaN in the red channel.
RenderInput PlanesInMemory() {
  RenderInput input;
  input.name = "planes";
  FramePlanes& planes = input.planes;
  planes.width = WIDTH;
  planes.height = HEIGHT;
  const size_t count = planes.PixelCount();
  planes.colour.assign(3, Plane(count));
  planes.colourNames = {"R", "G", "B"};
  planes.depth = Plane(count);
  for (size_t i = 0; i < count; ++i) {
    const size_t x = i % WIDTH;
    const size_t y = i / WIDTH;
    planes.colour[0][i] = 0.02f * static_cast<float>(x);
    planes.colour[1][i] = 0.05f * static_cast<float>(y);
    planes.colour[2][i] = (x + y) % 2 ? 1.5f : 0.1f;
    (*planes.depth)[i] =
        y < 3 ? std::numeric_limits<float>::infinity() : 2.0f + static_cast<float>(x);
  }
  planes.colour[0][WIDTH * 10 + 4] = std::numeric_limits<float>::quiet_NaN();
  return input;
}

RenderSettings Settings(FloatKeys size) {
  RenderSettings settings;
  settings.frame = 5;
  settings.focusDepth = FloatKeys{{0, 12.0f}};
  settings.range = FloatKeys{{0, 8.0f}};
  settings.size = std::move(size);
  return settings;
}

void ExpectSamePlanes(const FilteredFrame& a, const FilteredFrame& b) {
  ASSERT_EQ(a.planes.colour.size(), b.planes.colour.size());
  for (size_t c = 0; c < a.planes.colour.size(); ++c) {
    EXPECT_EQ(a.planes.colour[c], b.planes.colour[c]) << "channel " << c;
  }
  EXPECT_EQ(a.resolved.range, b.resolved.range);
  EXPECT_EQ(a.resolved.size, b.resolved.size);
}

// The studio's loop: one input, one filter kept between changes of
// settings, each render the same as a filter made for it would give.
TEST(FrameRender, TheCallersFilterRendersAsOneMadeForTheFrameAfterEveryChange) {
  const RenderInput input = PlanesInMemory();
  const FramePlanes original = input.planes;
  std::vector<std::string> heard;
  RenderCallbacks callbacks;
  callbacks.warning = [&heard](const std::string& line) { heard.push_back(line); };
  const std::unique_ptr<ImageFilter> filter = Module().CreateFilter();
  ASSERT_TRUE(filter);
  for (const FloatKeys& size :
       {FloatKeys{{0, 2.0f}, {10, 9.0f}}, FloatKeys{{0, 4.0f}}, FloatKeys{{3, 1.0f}, {7, 6.0f}}}) {
    const RenderSettings settings = Settings(size);
    const PreparedFrame prepared = PrepareFrame(input, settings, callbacks);
    EXPECT_FLOAT_EQ(prepared.focusDepth, 12.0f);
    const FilteredFrame made = FilterFrame(Module(), input, prepared, settings);
    ConfigureFilter(*filter, settings);
    heard.clear();
    const FilteredFrame kept = FilterFrame(*filter, input, prepared, settings, callbacks);
    ExpectSamePlanes(kept, made);
    EXPECT_FLOAT_EQ(kept.resolved.size, SampleFloatKeys(size, settings.frame));
    EXPECT_EQ(kept.resolved.width, WIDTH);
    // The NaN is filtered as 0 and said once, as it arises and in the result.
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(kept.resolved.warnings, heard);
    EXPECT_NE(heard[0].find("planes: 1 colour or alpha values"), std::string::npos) << heard[0];
  }
  EXPECT_EQ(input.planes.colour[1], original.colour[1]) << "filtering changed the input";
}

// Settings whose keys an in-process caller left empty are refused with an
// error, by the render and by the filter's configuration alike, and the
// caller's filter renders afterwards as it did before.
TEST(FrameRender, EmptyKeysAreRefusedAndLeaveTheCallersFilterAsItWas) {
  const RenderInput input = PlanesInMemory();
  const RenderSettings good = Settings(FloatKeys{{0, 3.0f}});
  const PreparedFrame prepared = PrepareFrame(input, good, {});
  const std::unique_ptr<ImageFilter> filter = Module().CreateFilter();
  ASSERT_TRUE(filter);
  ConfigureFilter(*filter, good);
  const FilteredFrame before = FilterFrame(*filter, input, prepared, good, {});
  for (const char* emptied : {"focus depth", "range", "size"}) {
    SCOPED_TRACE(emptied);
    RenderSettings bad = good;
    std::optional<FloatKeys>& keys = std::string(emptied) == "range"  ? bad.range
                                     : std::string(emptied) == "size" ? bad.size
                                                                      : bad.focusDepth;
    keys = FloatKeys{};
    EXPECT_THROW(ConfigureFilter(*filter, bad), Error);
    if (std::string(emptied) == "focus depth") {
      EXPECT_THROW(PrepareFrame(input, bad, {}), Error);
    } else {
      EXPECT_THROW(FilterFrame(Module(), input, prepared, bad), Error);
    }
    ExpectSamePlanes(FilterFrame(*filter, input, prepared, good, {}), before);
  }
}

// The focus object's checks, the studio's per-object depths among them,
// name the settings by the caller's labels.
TEST(FrameRender, FocusObjectMessagesNameTheCallersLabels) {
  RenderInput input = PlanesInMemory();
  input.planes.objectId.reset();
  SettingLabels labels;
  labels.focusObject = "focus.object";
  labels.objectIdChannel = "channels.object_id";
  try {
    ObjectFocalDepths(input, std::vector<float>(input.planes.depth->size(), -2.0f),
                      FocusStatistic::Median, labels);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("focus.object needs an object ID channel"), std::string::npos)
        << message;
    EXPECT_NE(message.find("(name one with channels.object_id)"), std::string::npos) << message;
  }
  RenderSettings settings = Settings(FloatKeys{{0, 3.0f}});
  settings.ClearFocus();
  settings.focusObject = 2;
  settings.labels = labels;
  const std::vector<float> z(input.planes.depth->size(), -2.0f);
  try {
    FocalDepth(settings, input, z);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("focus.object needs"), std::string::npos) << e.what();
  }
}

// A frame that never was a file is written as a new OpenEXR file of its
// filtered colour and its depth as distances, background infinite.
TEST(FrameRender, PlanesWithoutAFileAreWrittenAsANewOpenExrFile) {
  ScratchDirectory dir;
  RenderInput input = PlanesInMemory();
  const RenderSettings settings = Settings(FloatKeys{{0, 3.0f}});
  const PreparedFrame prepared = PrepareFrame(input, settings);
  const FilteredFrame filtered = FilterFrame(Module(), input, prepared, settings);
  OutputFile output(dir / "out.exr");
  WriteFrameOutput(input, filtered, output, settings);
  output.Commit();
  const ExrDocument written = ReadExrDocument(dir / "out.exr");
  ASSERT_EQ(written.parts.size(), 1u);
  const ExrPart& part = written.parts[0];
  ASSERT_EQ(part.channels.size(), 4u);  // B, G, R, Z
  const ExrChannel* green = part.Find("G");
  const ExrChannel* depth = part.Find("Z");
  ASSERT_TRUE(green && depth);
  for (size_t i = 0; i < input.planes.PixelCount(); ++i) {
    EXPECT_EQ(green->Value(i), filtered.planes.colour[1][i]) << i;
    EXPECT_EQ(depth->Value(i), (*input.planes.depth)[i]) << i;
  }
  const Image map = FocusMapOf(input, prepared, filtered.resolved);
  EXPECT_EQ(map.Width(), WIDTH);
  EXPECT_EQ(map.Height(), HEIGHT);
}

// Every question the render asks is one at which it can stop: answered yes
// at any of them, the render ends aborted, the target keeps its content
// and nothing else is left in its directory.
TEST(FrameRender, AnAbortAtAnyQuestionEndsAbortedWithNothingWritten) {
  ScratchDirectory dir;
  test_files::WriteRender(dir / "in.exr", 96, 64);
  const std::string kept = "the previous output";
  test_files::WriteText(dir / "out.exr", kept);
  const FrameFiles files{dir / "in.exr", dir / "out.exr", dir / "map.png"};
  RenderSettings settings = Settings(FloatKeys{{0, 4.0f}});
  settings.frame = 0;

  ScratchDirectory unstopped;
  int64_t questions = 0;
  RenderCallbacks counting;
  counting.abort = [&questions] {
    ++questions;
    return false;
  };
  const FrameOutcome done =
      RenderFrameFiles(Module(), {dir / "in.exr", unstopped / "out.exr", ""}, settings, counting);
  ASSERT_FALSE(done.error) << done.error->what();
  EXPECT_EQ(done.report.status, "done");
  // Reading, depth, the focus, every pass's rows, writing and the commit.
  ASSERT_GT(questions, 60);

  for (const int64_t at :
       {int64_t{1}, int64_t{2}, questions / 3, questions / 2, questions - 1, questions}) {
    SCOPED_TRACE("aborted at question " + std::to_string(at) + " of " + std::to_string(questions));
    int64_t asked = 0;
    RenderCallbacks stopping;
    stopping.abort = [&asked, at] { return ++asked >= at; };
    const FrameOutcome outcome = RenderFrameFiles(Module(), files, settings, stopping);
    EXPECT_TRUE(outcome.Aborted());
    EXPECT_EQ(outcome.report.status, "failed");
    EXPECT_EQ(outcome.report.error, "aborted");
    EXPECT_EQ(test_files::ReadText(dir / "out.exr"), kept);
    std::vector<std::string> entries = dir.Entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"in.exr", "out.exr"}));
  }
}

}  // namespace
}  // namespace kestrion
