// The memory limit as `kestrion render` applies it: a file whose need
// exceeds --memory-limit, or whose side exceeds --max-side, is refused from
// its headers before anything is read or written.
#include <gtest/gtest.h>

#include "base/memory_budget.h"
#include "frame/render_input.h"
#include "shot/exit_codes.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/run_kestrion.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::ScratchDirectory;

TEST(MemoryBudget, RenderRefusesInputPastTheLimitBeforeReadingIt) {
  ScratchDirectory dir;
  test_files::WriteRender(dir / "in.exr", 96, 54);
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

}  // namespace
}  // namespace kestrion
