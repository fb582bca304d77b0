// Names that hold a line break, a terminal escape and bytes that are not
// UTF-8, in a file's parts, layers and channels, in file names and on the
// command line, through the built kestrion: every message, progress line,
// report and listing shows them escaped, messages keep their lines, and the
// JSON report stays valid.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/support/blender_renders.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/run_kestrion.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::Lines;
using test_files::RunKestrion;
using test_files::RunResult;
using test_files::ScratchDirectory;

// A line break, a colour escape and a byte that is not UTF-8, and how
// kestrion shows them.
const std::string EVIL = "a\nb\x1b[31mc\xff";
const std::string SHOWN = "a\\nb\\x1b[31mc\\xff";

// Two parts: colour, depth and a further layer, all named with EVIL.
void WriteHostileFile(const std::string& path) {
  const Imath::Box2i window{{0, 0}, {6, 4}};
  test_files::WriteExrFile(
      path, {test_files::Part("beauty" + EVIL, window, window,
                              {{"R", Imf::HALF},
                               {"G", Imf::HALF},
                               {"B", Imf::HALF},
                               {"Z", Imf::FLOAT},
                               {"specular" + EVIL + ".R", Imf::HALF}}),
             test_files::Part("extra" + EVIL, window, window, {{"mask" + EVIL, Imf::HALF}})});
}

// Whether `text` is what a terminal can show as it is: well-formed UTF-8
// without control characters other than line ends.
::testing::AssertionResult Printable(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n' || (byte >= 0x20 && byte < 0x7f)) {
      ++i;
      continue;
    }
    const size_t length = byte >= 0xc2 && byte <= 0xdf   ? 2
                          : byte >= 0xe0 && byte <= 0xef ? 3
                          : byte >= 0xf0 && byte <= 0xf4 ? 4
                                                         : 0;
    bool wellFormed = length > 0 && i + length <= text.size();
    for (size_t k = 1; wellFormed && k < length; ++k) {
      wellFormed = (static_cast<unsigned char>(text[i + k]) & 0xc0) == 0x80;
    }
    if (!wellFormed) {
      return ::testing::AssertionFailure() << "byte " << int(byte) << " at " << i << " of\n"
                                           << text;
    }
    i += length;
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

class HostileNames : public ::testing::Test {
 protected:
  void SetUp() override { WriteHostileFile(dir / "hostile.exr"); }
  ScratchDirectory dir;
};

TEST_F(HostileNames, InspectListsEveryNameEscaped) {
  // Under a hostile name itself, so that the suggested command must quote it.
  std::filesystem::copy_file(dir / "hostile.exr", dir / (EVIL + ".exr"));
  const RunResult run = RunKestrion({"inspect", EVIL + ".exr"}, dir / "");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(Printable(run.out));
  for (const std::string& shown :
       {"part 0 \"beauty" + SHOWN + "\"", "part 1 \"extra" + SHOWN + "\"", "specular" + SHOWN,
        "mask" + SHOWN, SHOWN + ".exr: 2 parts"}) {
    EXPECT_NE(run.out.find(shown), std::string::npos) << shown << " in\n" << run.out;
  }
  // The shell's own escapes: pasted, the command names the file.
  EXPECT_NE(run.out.find("kestrion render $'a\\nb\\x1b[31mc\\xff.exr'"), std::string::npos)
      << run.out;
}

TEST_F(HostileNames, ReportsAndProgressShowThemEscapedAndTheJsonStaysValid) {
  std::filesystem::copy_file(dir / "hostile.exr", dir / (EVIL + ".exr"));
  const RunResult run = RunKestrion(
      {"render", EVIL + ".exr", "-o", EVIL + ".out.exr", "--focus-depth", "3", "--report", "json"},
      dir / "");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(Printable(run.out));
  EXPECT_TRUE(Printable(run.err));
  EXPECT_NE(run.err.find("writing " + SHOWN + ".out.exr"), std::string::npos) << run.err;
  ASSERT_EQ(Lines(run.out), 1u) << run.out;
  const nlohmann::json report = nlohmann::json::parse(run.out);
  EXPECT_EQ(report["input"], SHOWN + ".exr");
  EXPECT_EQ(report["output"], SHOWN + ".out.exr");
  EXPECT_TRUE(std::filesystem::exists(dir / (EVIL + ".out.exr"))) << "written under its own name";

  // A shot over such names: its own lines and its frames' alike.
  std::filesystem::copy_file(dir / "hostile.exr", dir / (EVIL + ".0001.exr"));
  const RunResult shot = RunKestrion({"render", EVIL + ".####.exr", "-o", "out.####.exr",
                                      "--frames", "1-2", "--focus-depth", "3", "--report", "json"},
                                     dir / "");
  EXPECT_EQ(shot.exitCode, 1) << shot.err;
  EXPECT_TRUE(Printable(shot.out));
  EXPECT_TRUE(Printable(shot.err));
  EXPECT_NE(shot.err.find(SHOWN + ".####.exr: missing input frame 2"), std::string::npos)
      << shot.err;
  const std::vector<std::string> lines = LinesOf(shot.out);
  ASSERT_EQ(lines.size(), 2u) << shot.out;
  EXPECT_EQ(nlohmann::json::parse(lines[0])["input"], SHOWN + ".0001.exr");
  EXPECT_EQ(nlohmann::json::parse(lines[1])["input"], SHOWN + ".0002.exr");
  EXPECT_EQ(nlohmann::json::parse(lines[1])["error"], SHOWN + ".0002.exr: missing");
}

TEST_F(HostileNames, MessagesKeepOneLineForWhatIsWrongAndOneForEachPart) {
  // A channel named on the command line that is not there: the message
  // quotes it, then lists the file's parts, one line each.
  const RunResult run = RunKestrion({"render", "hostile.exr", "-o", "out.exr", "--focus-depth", "3",
                                     "--depth-channel", "mask" + EVIL + "x", "--report", "json"},
                                    dir / "");
  EXPECT_EQ(run.exitCode, 2) << run.err;
  EXPECT_TRUE(Printable(run.err));
  const std::vector<std::string> lines = LinesOf(run.err);
  ASSERT_EQ(lines.size(), 3u) << run.err;
  EXPECT_EQ(lines[0],
            "kestrion: hostile.exr: no channel mask" + SHOWN + "x in any part (--depth-channel)");
  EXPECT_EQ(lines[1].rfind("  part 0 \"beauty" + SHOWN + "\" scanline", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2].rfind("  part 1 \"extra" + SHOWN + "\" scanline", 0), 0u) << lines[2];
  EXPECT_NE(lines[1].find("specular" + SHOWN + ".R half"), std::string::npos) << lines[1];
  const nlohmann::json report = nlohmann::json::parse(run.out);
  EXPECT_EQ(report["status"], "failed");
  EXPECT_EQ(report["error"].get<std::string>().rfind(lines[0].substr(10), 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(dir / "out.exr"));
}

TEST_F(HostileNames, CryptomatteNamesAreShownEscapedToo) {
  // Object names come from the Cryptomatte's manifest: inspect lists them
  // and a name that is not there is answered with the names that are.
  // (A manifest is JSON, so the name is well-formed UTF-8.)
  const std::string name = "Monkey\n\x1b[31m", shown = "Monkey\\n\\x1b[31m";
  test_files::BlenderRender render;
  render.layers.front().objects = {{name, 2, 2, 8, 8, 0.0f, 4.0f}};
  test_files::WriteBlenderRender(dir / "crypto.exr", render);

  const RunResult inspect = RunKestrion({"inspect", "crypto.exr"}, dir / "");
  ASSERT_EQ(inspect.exitCode, 0) << inspect.err;
  EXPECT_TRUE(Printable(inspect.out));
  EXPECT_NE(inspect.out.find(" " + shown + " (36 px)"), std::string::npos) << inspect.out;

  const RunResult run = RunKestrion(
      {"render", "crypto.exr", "-o", "out.exr", "--focus-object", "Cube", "-q"}, dir / "");
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_TRUE(Printable(run.err));
  ASSERT_EQ(LinesOf(run.err).size(), 1u) << run.err;
  EXPECT_NE(run.err.find("(it lists " + shown + ")"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace kestrion
