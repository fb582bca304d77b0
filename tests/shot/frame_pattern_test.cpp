#include "shot/frame_pattern.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <optional>

#include "base/errors.h"
#include "base/memory_budget.h"
#include "shot/shot_arguments.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::ScratchDirectory;

std::optional<ErrorKind> KindOf(const std::function<void()>& run) {
  try {
    run();
  } catch (const Error& e) {
    return e.Kind();
  }
  return std::nullopt;
}

TEST(FramePattern, EverySpellingNamesAndRecognisesItsFrames) {
  struct Case {
    std::string pattern;
    int64_t frame;
    std::string file;
  } cases[] = {
      {"shot/frame.####.exr", 7, "shot/frame.0007.exr"},
      {"frame.@@@.exr", 42, "frame.042.exr"},
      {"frame.%04d.exr", 12345, "frame.12345.exr"},  // wider than the padding: in full
      {"f%d.png", 3, "f3.png"},
      {"####.tif", 0, "0000.tif"},
  };
  for (const Case& c : cases) {
    const auto pattern = FramePattern::Parse(c.pattern, "INPUT");
    ASSERT_TRUE(pattern) << c.pattern;
    EXPECT_EQ(pattern->FileOf(c.frame), c.file);
    EXPECT_EQ(pattern->FrameOf(c.file), c.frame) << c.file;
  }
  const auto four = FramePattern::Parse("frame.####.exr", "INPUT");
  for (const char* other : {"frame.7.exr", "frame.00007.exr", "frame.00a7.exr", "frame.0007.png",
                            "xframe.0007.exr", "frame..exr"}) {
    EXPECT_FALSE(four->FrameOf(other)) << other;
  }
  EXPECT_FALSE(FramePattern::Parse("plain.exr", "INPUT"));
  EXPECT_FALSE(FramePattern::Parse("100%.exr", "INPUT"));
  EXPECT_EQ(KindOf([] { FramePattern::Parse("a.##.b.##.exr", "INPUT"); }), ErrorKind::Usage);
}

TEST(FramePattern, FramesOnDiskAreTheFilesThatFitInOrder) {
  ScratchDirectory dir;
  for (const char* name : {"f.0010.exr", "f.0002.exr", "f.2.exr", "f.0003.png", ".f.0004.exr",
                           "f.0005.exr.tmp", "g.0006.exr"}) {
    test_files::WriteText(dir / name, "x");
  }
  const auto pattern = FramePattern::Parse(dir / "f.####.exr", "INPUT");
  EXPECT_EQ(pattern->FramesOnDisk(), (std::vector<int64_t>{2, 10}));
  EXPECT_TRUE(FramePattern::Parse(dir / "none.####.exr", "INPUT")->FramesOnDisk().empty());
}

TEST(FrameList, RangesStepsAndListsMergeSorted) {
  EXPECT_EQ(ParseFrameList("1-5"), (std::vector<int64_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(ParseFrameList("1-10x3"), (std::vector<int64_t>{1, 4, 7, 10}));
  EXPECT_EQ(ParseFrameList("10-12,1,5,11"), (std::vector<int64_t>{1, 5, 10, 11, 12}));
  EXPECT_EQ(ParseFrameList("0"), (std::vector<int64_t>{0}));
  for (const char* bad :
       {"", "5-1", "1-", "-3", "1-10x0", "1x2", "a-b", "1,,2", "1-10x2x3", "0-99999999999"}) {
    EXPECT_EQ(KindOf([bad] { ParseFrameList(bad); }), ErrorKind::Usage) << bad;
  }
}

TEST(FrameList, ChunksCoverEveryFrameOnceInNearlyEqualSlices) {
  for (int64_t size : {1, 7, 16, 240}) {
    std::vector<int64_t> frames(static_cast<size_t>(size));
    std::iota(frames.begin(), frames.end(), 100);
    for (int64_t count : {1, 2, 3, 16}) {
      std::vector<int64_t> joined;
      size_t smallest = frames.size(), largest = 0;
      for (int64_t k = 1; k <= count; ++k) {
        const std::vector<int64_t> slice = ChunkOf(frames, {k, count});
        joined.insert(joined.end(), slice.begin(), slice.end());
        smallest = std::min(smallest, slice.size());
        largest = std::max(largest, slice.size());
      }
      EXPECT_EQ(joined, frames) << size << " frames in " << count;
      EXPECT_LE(largest - smallest, 1u);
    }
  }
}

TEST(FrameList, ChunkNamesItsSliceOrFailsAsUsage) {
  EXPECT_EQ(ParseChunk("3/16", nullptr, nullptr).index, 3);
  EXPECT_EQ(ParseChunk("slurm/4", "4", nullptr).index, 4);
  EXPECT_EQ(ParseChunk("slurm/4", "0", "0").index, 1);  // a 0-based job array
  const std::pair<std::string, const char*> bad[] = {
      {"0/4", nullptr},     {"5/4", nullptr}, {"1/0", nullptr}, {"4", nullptr},
      {"slurm/4", nullptr}, {"slurm/4", "5"}, {"x/4", nullptr}};
  for (const auto& chunk : bad) {
    EXPECT_EQ(KindOf([&chunk] { ParseChunk(chunk.first, chunk.second, nullptr); }),
              ErrorKind::Usage)
        << chunk.first;
  }
}

TEST(ShotRunner, ForwardsTheUsersOptionsButNotTheShotsOwn) {
  const std::vector<std::string> words = {
      "--focus-depth", "5",  "in.####.exr", "-o",          "out.####.exr",    "--jobs",   "2",
      "--frames=1-3",  "-q", "--range",     "in.####.exr", "--skip-existing", "--report", "json",
      "--size=4"};
  EXPECT_EQ(ForwardedArguments(words, "in.####.exr"),
            (std::vector<std::string>{"--focus-depth", "5", "--range", "in.####.exr", "--size=4"}));
  EXPECT_EQ(ForwardedArguments({"-oout.####.exr", "--", "in.####.exr"}, "in.####.exr"),
            std::vector<std::string>{});
}

TEST(ShotRunner, EveryFrameGetsItsShareOfTheDefaultMemoryAndCoresUnlessGiven) {
  const uint64_t whole = DefaultMemoryLimit(1);
  EXPECT_EQ(
      WorkerLimitArguments({"--size", "4"}, 4, 8),
      (std::vector<std::string>{"--memory-limit", std::to_string(whole / 4), "--threads", "2"}));
  // More frames at a time than cores: one thread each, never 0.
  EXPECT_EQ(WorkerLimitArguments({"--memory-limit", "1G"}, 4, 2),
            (std::vector<std::string>{"--threads", "1"}));
  EXPECT_EQ(WorkerLimitArguments({"--threads=3"}, 2, 2),
            (std::vector<std::string>{"--memory-limit", std::to_string(whole / 2)}));
  EXPECT_TRUE(WorkerLimitArguments({"--memory-limit=1G", "--threads", "0"}, 4, 8).empty());
}

}  // namespace
}  // namespace kestrion
