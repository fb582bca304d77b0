// Whole files told apart from files a crash or a stopped copy cut short,
// or whose tail never reached the disk (zeros where the data was), for
// every format kestrion writes.
#include "formats/whole_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "formats/review_io.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::ReadText;
using test_files::ScratchDirectory;
using test_files::WriteText;

constexpr int32_t WIDTH = 203;
constexpr int32_t HEIGHT = 117;

// Noisy enough that compression leaves many strips and chunks.
FramePlanes Noise() {
  FramePlanes frame;
  frame.width = WIDTH;
  frame.height = HEIGHT;
  frame.colour.assign(3, Plane(frame.PixelCount()));
  uint32_t state = 12345;
  for (Plane& plane : frame.colour) {
    for (float& value : plane) {
      state = state * 1664525u + 1013904223u;
      value = static_cast<float>(state >> 8) / 16777216.0f;
    }
  }
  return frame;
}

// A whole file of each format, written as kestrion writes its outputs.
std::string Written(const ScratchDirectory& dir, const std::string& name) {
  const std::string path = dir / name;
  const std::string extension = std::filesystem::path(name).extension().string();
  if (extension == ".exr") {
    test_files::Save(test_files::DistinctFrame(WIDTH, HEIGHT), path);
  } else {
    WriteReviewImage(Noise(), path, ReviewFormatOfName(path), 16);
  }
  return path;
}

class WholeFile : public testing::TestWithParam<const char*> {};

INSTANTIATE_TEST_SUITE_P(Formats, WholeFile, testing::Values("out.exr", "out.png", "out.tif"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::filesystem::path(info.param).extension().string().substr(1);
                         });

TEST_P(WholeFile, AWholeFileIsWhole) {
  ScratchDirectory dir;
  const std::string path = Written(dir, GetParam());
  EXPECT_EQ(WhyNotWhole(path), "");
}

TEST_P(WholeFile, EveryCutIsFound) {
  ScratchDirectory dir;
  const std::string path = Written(dir, GetParam());
  const std::string whole = ReadText(path);
  ASSERT_GT(whole.size(), 1000u);
  for (const size_t kept : {size_t{0}, size_t{8}, size_t{40}, whole.size() / 3, whole.size() / 2,
                            whole.size() - 13, whole.size() - 1}) {
    SCOPED_TRACE(kept);
    WriteText(path, whole.substr(0, kept));
    EXPECT_NE(WhyNotWhole(path), "");
  }
}

TEST_P(WholeFile, ATailOfZerosIsFound) {
  ScratchDirectory dir;
  const std::string path = Written(dir, GetParam());
  std::string damaged = ReadText(path);
  std::fill(damaged.begin() + static_cast<std::ptrdiff_t>(damaged.size() / 2), damaged.end(), '\0');
  WriteText(path, damaged);
  EXPECT_NE(WhyNotWhole(path), "");
}

TEST(WholeFileNames, TheFormatFollowsTheExtensionInAnyCase) {
  ScratchDirectory dir;
  const std::string png = Written(dir, "upper.PNG");
  EXPECT_EQ(WhyNotWhole(png), "");
  const std::string tiff = Written(dir, "long.tiff");
  WriteText(tiff, ReadText(tiff).substr(0, 100));
  EXPECT_NE(WhyNotWhole(tiff), "");
  // A name of no format kestrion writes is not judged.
  WriteText(dir / "notes.txt", "x");
  EXPECT_EQ(WhyNotWhole(dir / "notes.txt"), "");
}

}  // namespace
}  // namespace kestrion
