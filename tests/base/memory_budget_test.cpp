// The resource budget's arithmetic: sizes in binary units, a need refused
// only past the limit, and the default limit a share of the memory below the
// process's own limits.
#include "base/memory_budget.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/errors.h"

namespace kestrion {
namespace {

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
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "in.exr: filtering it needs about 4.0 GiB, more than the 4.0 GiB memory limit "
              "(memory_limit)");
  }
  // The limits as their caller names them.
  limits.memoryLimitLabel = "--memory-limit";
  limits.maxSideLabel = "limits.side";
  limits.maxSide = 8;
  try {
    CheckNeed(limits.memoryLimit + 1, limits, "in.exr", "filtering it");
    FAIL() << "accepted one byte more than the limit";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("memory limit (--memory-limit)"), std::string::npos)
        << e.what();
  }
  EXPECT_NO_THROW(CheckSides(8, 1, limits, "in.exr", "a frame"));
  try {
    CheckSides(9, 1, limits, "in.exr", "a frame");
    FAIL() << "accepted a side of 9";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "in.exr: a frame of 9 x 1 pixels is not supported (1 to 8 per side, limits.side)");
  }
}

TEST(MemoryBudget, RunsAsManyPassesAtOnceAsTheLimitHolds) {
  RenderNeed need;
  need.fileBytes = 1000;
  need.pixels = 100;
  need.channels = 4;
  const uint64_t one = need.Bytes();
  const uint64_t pass = 100 * CONCURRENT_PASS_BYTES_PER_PIXEL;
  EXPECT_EQ(need.ConcurrentPasses(one + 3 * pass, 8), 4u);
  EXPECT_EQ(need.ConcurrentPasses(one + 3 * pass - 1, 8), 3u);
  EXPECT_EQ(need.ConcurrentPasses(one + 3 * pass, 2), 2u);
  // Too little for even one pass more, or for the render itself: one at a
  // time, which the budget check refuses or allows as before.
  EXPECT_EQ(need.ConcurrentPasses(one + pass - 1, 8), 1u);
  EXPECT_EQ(need.ConcurrentPasses(one / 2, 8), 1u);
  EXPECT_EQ(need.ConcurrentPasses(uint64_t{1} << 40, 0), 1u);
}

TEST(MemoryBudget, DefaultIsAShareOfMemoryBelowTheProcessLimits) {
  const uint64_t whole = DefaultMemoryLimit(1);
  EXPECT_GT(whole, 0u);
  EXPECT_EQ(DefaultMemoryLimit(4), whole / 4);
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

}  // namespace
}  // namespace kestrion
