#include "host/filter_pipeline.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/support/sanitizers.h"

namespace {

// The directory of this test program, where the build puts the libraries.
std::string BinaryDir() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<size_t>(n));
  return path.substr(0, path.find_last_of('/'));
}

TEST(FilterModuleLoad, MissingFileFailsWithItsName) {
  std::string error;
  EXPECT_EQ(FilterModule::Load("/nonexistent/KESTRION.FLT", error), nullptr);
  EXPECT_NE(error.find("/nonexistent/KESTRION.FLT"), std::string::npos) << error;
}

TEST(FilterModuleLoad, LibraryWithoutRegistrationFunctionsIsRefusedByName) {
  std::string error;
  const std::string path = BinaryDir() + "/libkestrion_platform.so";
  EXPECT_EQ(FilterModule::Load(path, error), nullptr);
  EXPECT_NE(error.find("LibDescription"), std::string::npos) << error;
  EXPECT_NE(error.find(path), std::string::npos) << error;
}

// Minor page faults of this process so far.
long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// A block of two 3840 x 2160 frame copies, written page by page and freed,
// as a filter does with its working copies each frame.
void UseFrameBlock() {
  constexpr size_t BYTES = 2 * 3840 * 2160 * 8;
  auto* block = static_cast<volatile char*>(std::malloc(BYTES));
  ASSERT_NE(block, nullptr);
  for (size_t i = 0; i < BYTES; i += 4096) block[i] = 1;
  std::free(const_cast<char*>(block));
}

// The next frame's block reuses the pages of the last one: without the
// setting, each such block is mapped afresh and faults 32 400 times.
TEST(KeepFrameMemory, TheNextFramesBlockCostsNoPageFaults) {
#if !defined(__GLIBC__)
  GTEST_SKIP() << "the allocator here has no such settings";
#endif
  if (kestrion_test::ADDRESS_SANITIZER)
    GTEST_SKIP() << "the sanitizer's allocator has no such settings";
  KeepFrameMemory();
  UseFrameBlock();
  const long before = MinorFaults();
  UseFrameBlock();
  EXPECT_LT(MinorFaults() - before, 100);
}

// Loading a module leaves the process's allocator as it was: keeping frame
// memory is the host program's own choice. Checked in a fresh process, so
// that no earlier test's call counts.
TEST(KeepFrameMemory, LoadingAModuleDoesNotChooseItForTheProgram) {
#if !defined(__GLIBC__)
  GTEST_SKIP() << "the allocator here has no such settings";
#endif
  if (kestrion_test::ADDRESS_SANITIZER)
    GTEST_SKIP() << "the sanitizer's allocator has no such settings";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::string error;
        FilterModule::Load(BinaryDir() + "/libkestrion_platform.so", error);
        UseFrameBlock();
        const long before = MinorFaults();
        UseFrameBlock();
        std::exit(MinorFaults() - before > 10000 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
