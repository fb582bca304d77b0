// kestrion run on damaged, truncated, oversized and malformed files and
// arguments. Each run must fail with its exit code and one line naming what
// is wrong, leave the directory as it was (no output, no temporary file, an
// existing target untouched) and stay within a small memory bound however
// large the sizes the file declares.
#include <ImfDeepFrameBuffer.h>
#include <ImfDeepScanLineOutputFile.h>
#include <ImfOutputFile.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "tests/support/exr_test_files.h"
#include "tests/support/run_kestrion.h"
#include "tests/support/sanitizers.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::ReadText;
using test_files::ScratchDirectory;
using test_files::WriteText;

// Peak resident memory a failing run may reach. The address sanitizer's own
// shadow and quarantine take more, so its builds get a wider bound.
constexpr long PEAK_KIB = kestrion_test::ADDRESS_SANITIZER ? 400 * 1024 : 100 * 1024;
// Address space the child gets outside the address sanitizer (which reserves
// terabytes of it): a declared size that reaches an allocation fails here
// instead of taking the machine's memory.
constexpr rlim_t ADDRESS_SPACE = rlim_t{2} << 30;

struct MeasuredRun {
  int exitCode = -1;
  std::string err;
  long peakKiB = 0;
};

// Runs kestrion in `dir` with a capped address space and measures its peak
// resident memory.
MeasuredRun RunMeasured(const std::vector<std::string>& args, const std::string& dir) {
  ScratchDirectory logs;
  test_files::KestrionCommand command(args);
  const std::string errPath = logs / "err";
  const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int null = open("/dev/null", O_WRONLY);
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    if (chdir(dir.c_str()) != 0) _exit(125);
    dup2(null, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    if (!kestrion_test::ADDRESS_SANITIZER) {
      const struct rlimit cap = {ADDRESS_SPACE, ADDRESS_SPACE};
      setrlimit(RLIMIT_AS, &cap);
    }
    execve(command.Argv()[0], command.Argv(), command.Env());
    _exit(127);
  }
  close(err);
  close(null);
  MeasuredRun run;
  if (pid < 0) return run;
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.err = ReadText(errPath);
  run.peakKiB = usage.ru_maxrss;
  return run;
}

// --- OpenEXR files and their bytes ----------------------------------------

std::string ReadBytes(const std::string& path) { return ReadText(path); }

// A small valid frame: 8 x 4 pixels, uncompressed scanlines (one per chunk),
// RGBA half and Z float, written by OpenEXR itself.
std::string ValidExrBytes(const test_files::SampleFunction& sample = test_files::SampleAt) {
  ScratchDirectory dir;
  test_files::ExrPartLayout layout;
  layout.dataWindow = layout.displayWindow = {{0, 0}, {7, 3}};
  layout.compression = Imf::NO_COMPRESSION;
  layout.channels = {{"A"}, {"B"}, {"G"}, {"R"}, {"Z", Imf::FLOAT}};
  test_files::WriteExrFile(dir / "valid.exr", {layout}, sample);
  return ReadBytes(dir / "valid.exr");
}

int32_t Int32At(const std::string& bytes, size_t at) {
  int32_t value = 0;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

void PutInt32(std::string& bytes, size_t at, int32_t value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
}

uint64_t Uint64At(const std::string& bytes, size_t at) {
  uint64_t value = 0;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

// Where things are in a single-part scanline file's bytes: after the magic
// number and version, attributes as name, type, size and value, ended by an
// empty name; then the chunk offsets, then the chunks.
struct ExrBytesLayout {
  std::map<std::string, size_t> valueAt;  // attribute name -> its value's offset
  size_t headerEnd = 0;                   // offset after the closing null byte
  size_t FirstChunk(const std::string& bytes) const {
    return static_cast<size_t>(Uint64At(bytes, headerEnd));
  }
};

ExrBytesLayout LayoutOf(const std::string& bytes) {
  ExrBytesLayout layout;
  size_t at = 8;
  while (bytes.at(at) != '\0') {
    const std::string name(bytes.c_str() + at);
    at += name.size() + 1;
    at += std::strlen(bytes.c_str() + at) + 1;
    const int32_t size = Int32At(bytes, at);
    at += 4;
    layout.valueAt[name] = at;
    at += static_cast<size_t>(size);
  }
  layout.headerEnd = at + 1;
  return layout;
}

std::string WithWindow(std::string bytes, const char* attribute, Imath::Box2i window) {
  const size_t at = LayoutOf(bytes).valueAt.at(attribute);
  PutInt32(bytes, at, window.min.x);
  PutInt32(bytes, at + 4, window.min.y);
  PutInt32(bytes, at + 8, window.max.x);
  PutInt32(bytes, at + 12, window.max.y);
  return bytes;
}

// An attribute of a type OpenEXR does not know, declaring `size` bytes of
// value, added at the end of the header (with only a few bytes following).
std::string WithDeclaredAttribute(std::string bytes, int32_t size) {
  std::string attribute("bomb\0opaqueType\0", 16);
  attribute.append(4, '\0');
  PutInt32(attribute, 16, size);
  attribute += "abc";
  bytes.insert(LayoutOf(bytes).headerEnd - 1, attribute);
  return bytes;
}

// The first chunk's declared data size replaced (an uncompressed 8-pixel
// line of RGBA half and Z float holds 96 bytes).
std::string WithFirstChunkSize(std::string bytes, int32_t size) {
  const size_t chunk = LayoutOf(bytes).FirstChunk(bytes);
  PutInt32(bytes, chunk + 4, size);
  return bytes;
}

std::string Truncated(std::string bytes, size_t size) { return bytes.substr(0, size); }

// A header that declares a large data window and then ends: the offset table
// is there (all zeros) but no chunk is.
std::string HeaderOnly(int side) {
  std::string bytes = WithWindow(ValidExrBytes(), "dataWindow", {{0, 0}, {side - 1, side - 1}});
  bytes = WithWindow(bytes, "displayWindow", {{0, 0}, {15, 15}});
  bytes.resize(LayoutOf(bytes).headerEnd);
  bytes.append(static_cast<size_t>(side) * 8, '\0');
  return bytes;
}

void WriteDeepFile(const std::string& path) {
  Imf::Header header(4, 2);
  header.channels().insert("Z", Imf::Channel(Imf::FLOAT));
  header.setType(Imf::DEEPSCANLINE);
  header.compression() = Imf::ZIPS_COMPRESSION;
  Imf::DeepScanLineOutputFile file(path.c_str(), header);
  std::vector<uint32_t> counts(8, 1);
  std::vector<float> depth(8, 3.0f);
  std::vector<float*> pointers(8);
  for (size_t i = 0; i < 8; ++i) pointers[i] = &depth[i];
  Imf::DeepFrameBuffer frame;
  frame.insertSampleCountSlice(Imf::Slice(Imf::UINT, reinterpret_cast<char*>(counts.data()),
                                          sizeof(uint32_t), 4 * sizeof(uint32_t)));
  frame.insert("Z", Imf::DeepSlice(Imf::FLOAT, reinterpret_cast<char*>(pointers.data()),
                                   sizeof(float*), 4 * sizeof(float*), sizeof(float)));
  file.setFrameBuffer(frame);
  file.writePixels(2);
}

// Colour subsampled 2 x 2, depth whole.
void WriteSubsampledFile(const std::string& path) {
  Imf::Header header(4, 2);
  for (const char* name : {"R", "G", "B"}) {
    header.channels().insert(name, Imf::Channel(Imf::HALF, 2, 2));
  }
  header.channels().insert("Z", Imf::Channel(Imf::FLOAT));
  Imf::OutputFile file(path.c_str(), header);
  std::vector<half> colour(2, half(0.5f));
  std::vector<float> depth(8, 3.0f);
  Imf::FrameBuffer frame;
  for (const char* name : {"R", "G", "B"}) {
    frame.insert(name, Imf::Slice(Imf::HALF, reinterpret_cast<char*>(colour.data()), sizeof(half),
                                  2 * sizeof(half), 2, 2));
  }
  frame.insert("Z", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(depth.data()), sizeof(float),
                               4 * sizeof(float)));
  file.setFrameBuffer(frame);
  file.writePixels(2);
}

// --- The table -------------------------------------------------------------

// The file names every case may use.
constexpr const char* INPUT = "in.exr";
constexpr const char* TARGET = "out.exr";
constexpr const char* SETTINGS = "settings.json";
constexpr const char* KEPT = "an existing output, to be kept";

struct HostileCase {
  const char* name;
  // Writes what the case needs into the directory and returns the arguments
  // after `render in.exr -o out.exr -q`.
  std::function<std::vector<std::string>(ScratchDirectory&)> prepare;
  int exitCode;
  // Words the one line must hold, besides the name it must give.
  const char* says;
  // What the line names: the input, the settings file or an option.
  const char* names = INPUT;
};

std::function<std::vector<std::string>(ScratchDirectory&)> Input(
    std::function<std::string()> bytes) {
  return [bytes](ScratchDirectory& dir) {
    WriteText(dir / INPUT, bytes());
    return std::vector<std::string>{"--focus-depth", "3"};
  };
}

std::function<std::vector<std::string>(ScratchDirectory&)> InputFile(
    std::function<void(const std::string&)> write) {
  return [write](ScratchDirectory& dir) {
    write(dir / INPUT);
    return std::vector<std::string>{"--focus-depth", "3"};
  };
}

std::function<std::vector<std::string>(ScratchDirectory&)> Settings(std::string text) {
  return [text](ScratchDirectory& dir) {
    WriteText(dir / INPUT, ValidExrBytes());
    WriteText(dir / SETTINGS, text);
    return std::vector<std::string>{"--settings", SETTINGS};
  };
}

std::function<std::vector<std::string>(ScratchDirectory&)> Arguments(
    std::vector<std::string> args) {
  return [args](ScratchDirectory& dir) {
    WriteText(dir / INPUT, ValidExrBytes());
    return args;
  };
}

std::vector<HostileCase> HostileCases() {
  const auto valid = [] { return ValidExrBytes(); };
  const auto headerEnd = [] { return LayoutOf(ValidExrBytes()).headerEnd; };
  const auto firstChunk = [] {
    const std::string bytes = ValidExrBytes();
    return LayoutOf(bytes).FirstChunk(bytes);
  };
  std::vector<HostileCase> cases = {
      {"an empty file", Input([] { return std::string(); }), 1, "not a readable OpenEXR file"},
      {"text named .exr", Input([] { return std::string("not an image\n"); }), 1,
       "not a readable OpenEXR file"},
      {"a PNG signature named .exr",
       Input([] { return std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16); }), 1,
       "not a readable OpenEXR file"},
      {"cut inside the magic number", Input([=] { return Truncated(valid(), 3); }), 1,
       "not a readable OpenEXR file"},
      {"cut inside the header", Input([=] { return Truncated(valid(), 40); }), 1,
       "not a readable OpenEXR file"},
      {"cut before the header's end", Input([=] { return Truncated(valid(), headerEnd() - 1); }), 1,
       "not a readable OpenEXR file"},
      {"cut inside the chunk offsets", Input([=] { return Truncated(valid(), headerEnd() + 13); }),
       1, "missing or damaged"},
      {"cut inside the first chunk", Input([=] { return Truncated(valid(), firstChunk() + 20); }),
       1, "missing or damaged"},
      {"cut one byte short", Input([=] { return Truncated(valid(), valid().size() - 1); }), 1,
       "missing or damaged"},
      {"a header alone declaring 20000 x 20000 pixels", Input([] { return HeaderOnly(20000); }), 1,
       "missing or damaged"},
      {"a data window wider than any frame", Input([=] {
         return WithWindow(valid(), "dataWindow", {{0, 0}, {99999, 3}});
       }),
       1, "--max-side"},
      {"an inverted data window", Input([=] {
         return WithWindow(valid(), "dataWindow", {{7, 3}, {0, 0}});
       }),
       1, "Invalid data window"},
      {"a data window spanning every coordinate", Input([=] {
         return WithWindow(valid(), "dataWindow", {{INT_MIN + 1, INT_MIN + 1}, {INT_MAX - 1, 3}});
       }),
       1, "Invalid data window"},
      {"an inverted display window", Input([=] {
         return WithWindow(valid(), "displayWindow", {{7, 3}, {0, 0}});
       }),
       1, "Invalid display window"},
      {"an attribute declaring 2^31 - 1 bytes",
       Input([=] { return WithDeclaredAttribute(valid(), INT32_MAX); }), 1, "Invalid size"},
      {"an attribute declaring a negative size",
       Input([=] { return WithDeclaredAttribute(valid(), -5); }), 1, "Invalid negative size"},
      {"a chunk shorter than its scanline", Input([=] { return WithFirstChunkSize(valid(), 8); }),
       1, "missing or damaged"},
      {"a chunk in the middle shorter than its scanline", InputFile([](const std::string& path) {
         WriteText(path, ValidExrBytes());
         test_files::SetChunkSize(path, 0, 2, 8);
       }),
       1, "scanlines 2-2 of part 0 are missing or damaged (the file is truncated or corrupt)"},
      {"a chunk declaring 2^31 - 1 bytes",
       Input([=] { return WithFirstChunkSize(valid(), INT32_MAX); }), 1, "missing or damaged"},
      {"chunk offsets past the end of the file", Input([=] {
         std::string bytes = valid();
         const size_t table = LayoutOf(bytes).headerEnd;
         for (size_t i = 0; i < 4; ++i) PutInt32(bytes, table + 8 * i, 1 << 30);
         return bytes;
       }),
       1, "missing or damaged"},
      {"deep data", InputFile(WriteDeepFile), 1, "deep"},
      {"subsampled channels", InputFile(WriteSubsampledFile), 1, "subsampled"},
      {"settings from /dev/zero",
       [](ScratchDirectory& dir) {
         WriteText(dir / INPUT, ValidExrBytes());
         return std::vector<std::string>{"--settings", "/dev/zero"};
       },
       2, "not a regular file", "/dev/zero"},
      {"settings that are a directory",
       [](ScratchDirectory& dir) {
         WriteText(dir / INPUT, ValidExrBytes());
         return std::vector<std::string>{"--settings", "."};
       },
       2, "not a regular file", "."},
      {"settings of 2 MiB", Settings("{\"focusDepth\": 3" + std::string(2 << 20, ' ') + "}"), 2,
       "larger than 1 MiB", SETTINGS},
      {"settings that are not JSON", Settings("{\"range\": 5,\n \"size\": }\n"), 2,
       "line 2, column 10: unexpected '}'", SETTINGS},
      {"a settings number out of range", Settings("{\"range\": 1e400}"), 2, "out of range",
       SETTINGS},
      {"a settings value of the wrong type", Settings("{\"size\": \"large\"}"), 2,
       "must be a number", SETTINGS},
      {"an empty focus depth", Arguments({"--focus-depth", ""}), 2, "is empty", "--focus-depth"},
      {"a hexadecimal focus depth", Arguments({"--focus-depth", "0x10"}), 2, "hexadecimal",
       "--focus-depth"},
      {"a focus depth with a leading space", Arguments({"--focus-depth", " 10"}), 2,
       "holds a space", "--focus-depth"},
      {"a 100 kB size", Arguments({"--focus-depth", "3", "--size", std::string(100000, '7')}), 2,
       "...' is out of range", "--size"},
  };
  return cases;
}

// The directory's names with each file's bytes.
std::map<std::string, std::string> Snapshot(const ScratchDirectory& dir) {
  std::map<std::string, std::string> files;
  for (const std::string& name : dir.Entries()) files[name] = ReadText(dir / name);
  return files;
}

TEST(HostileInput, FailsWithOneLineWritesNothingAndStaysSmall) {
  {
    // The frame every case damages renders as it is.
    ScratchDirectory dir;
    WriteText(dir / INPUT, ValidExrBytes());
    const MeasuredRun run =
        RunMeasured({"render", INPUT, "-o", TARGET, "-q", "--focus-depth", "3"}, dir / "");
    ASSERT_EQ(run.exitCode, 0) << run.err;
  }
  for (const HostileCase& c : HostileCases()) {
    SCOPED_TRACE(c.name);
    ScratchDirectory dir;
    std::vector<std::string> args = {"render", INPUT, "-o", TARGET, "-q"};
    const std::vector<std::string> more = c.prepare(dir);
    args.insert(args.end(), more.begin(), more.end());
    WriteText(dir / TARGET, KEPT);
    const auto before = Snapshot(dir);

    const MeasuredRun run = RunMeasured(args, dir / "");

    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_EQ(test_files::Lines(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find(std::string(c.names) + ":"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_LE(run.err.size(), 300u) << run.err.substr(0, 300);
    EXPECT_TRUE(Snapshot(dir) == before) << "the directory changed";
    EXPECT_LT(run.peakKiB, PEAK_KIB);
  }
}

// Non-finite samples are data, not damage: the frame is filtered, the same
// way every time.
TEST(HostileInput, NonFiniteSamplesEverywhereStillGiveOneDeterministicResult) {
  const auto nonFinite = [](const std::string& name, int k, int x, int y) {
    const double values[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(), 2.0};
    (void)name;
    return values[(x + y + k) % 4];
  };
  ScratchDirectory dir;
  WriteText(dir / INPUT, ValidExrBytes(nonFinite));
  std::string first;
  for (int round = 0; round < 2; ++round) {
    const MeasuredRun run =
        RunMeasured({"render", INPUT, "-o", TARGET, "-q", "--focus-depth", "2"}, dir / "");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(dir.Entries().size(), 2u) << "only the input and the output";
    const std::string output = ReadText(dir / TARGET);
    if (round == 0) first = output;
    EXPECT_EQ(output, first);
  }
}

}  // namespace
}  // namespace kestrion
