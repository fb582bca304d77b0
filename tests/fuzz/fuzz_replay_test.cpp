// The fuzz targets' bodies on their checked-in seeds and on the inputs that
// once found faults, in every build (not only the Clang fuzzing build): a
// body aborts the test program when a check of the code under test fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/errors.h"
#include "formats/exr_document.h"
#include "frame/settings_file.h"
#include "fuzz/fuzz_targets.h"
#include "fuzz/memory_file.h"

namespace {

namespace fs = std::filesystem;
using Body = int (*)(const uint8_t*, size_t);

std::vector<uint8_t> Bytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The files of a folder, sorted, so that runs are repeatable.
std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  if (fs::is_directory(folder)) {
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

const fs::path SOURCE = KESTRION_SOURCE_DIR;

std::vector<fs::path> Seeds(const std::string& kind) {
  return FilesIn(SOURCE / "fuzz" / "corpus" / kind);
}

void Replay(const std::vector<fs::path>& files, Body body) {
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    const std::vector<uint8_t> bytes = Bytes(file);
    EXPECT_EQ(body(bytes.data(), bytes.size()), 0);
  }
}

std::string Read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(FuzzReplay, SeedsAndFoundInputsPassEveryCheck) {
  const struct {
    const char* kind;
    Body body;
  } targets[] = {{"record", kestrion_fuzz::FilterRecordInput},
                 {"settings", kestrion_fuzz::SettingsInput},
                 {"exr", kestrion_fuzz::ExrInput}};
  for (const auto& target : targets) {
    const std::vector<fs::path> seeds = Seeds(target.kind);
    EXPECT_GE(seeds.size(), 3u) << target.kind;
    Replay(seeds, target.body);
    Replay(FilesIn(SOURCE / "tests" / "fuzz" / "inputs" / target.kind), target.body);
  }
  // Empty and one-byte inputs are inputs too.
  const uint8_t one = 0x7b;
  for (const auto& target : targets) {
    EXPECT_EQ(target.body(nullptr, 0), 0);
    EXPECT_EQ(target.body(&one, 1), 0);
  }
}

// Seeds are only worth their place while they are valid: a format change
// that makes them unreadable would leave the fuzzers starting from nothing.
TEST(FuzzSeeds, EveryOpenExrSeedIsReadWhole) {
  for (const fs::path& seed : Seeds("exr")) {
    SCOPED_TRACE(seed.string());
    const kestrion::ExrDocument document = kestrion::ReadExrDocument(seed.string());
    ASSERT_FALSE(document.parts.empty());
    EXPECT_FALSE(document.parts[0].channels.empty());
  }
}

TEST(FuzzSeeds, EveryJsonSeedIsValidSettings) {
  size_t json = 0;
  for (const fs::path& seed : Seeds("settings")) {
    if (seed.extension() != ".json") continue;
    ++json;
    SCOPED_TRACE(seed.string());
    EXPECT_NO_THROW(kestrion::ReadSettingsFile(seed.string()));
  }
  EXPECT_GE(json, 3u);
}

// A 616-byte file whose header declares an attribute of almost 2 GiB, which
// OpenEXR allocated before finding the file too short: refused as a file
// kestrion cannot read, in one message that names it.
TEST(FuzzFound, AnAttributeLargerThanItsFileIsRefusedNamingTheFile) {
  const fs::path input = SOURCE / "tests" / "fuzz" / "inputs" / "exr" / "huge-opaque-attribute.exr";
  ASSERT_LT(fs::file_size(input), 1024u);
  try {
    kestrion::ReadExrDocument(input.string());
    FAIL() << "read";
  } catch (const kestrion::Error& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind(input.string() + ": ", 0), 0u) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  }
}

TEST(MemoryFile, HoldsExactlyTheLastBytesUnderEitherPath) {
  kestrion_fuzz::MemoryFile file("replay");
  const std::string longer = "a longer first content";
  const std::string shorter = "short";
  file.Replace(reinterpret_cast<const uint8_t*>(longer.data()), longer.size());
  file.Replace(reinterpret_cast<const uint8_t*>(shorter.data()), shorter.size());
  EXPECT_EQ(Read(file.Path()), shorter);
  const std::string named = file.PathWithExtension(".exr");
  EXPECT_EQ(fs::path(named).extension(), ".exr");
  EXPECT_EQ(Read(named), shorter);
  file.Replace(nullptr, 0);
  EXPECT_EQ(Read(named), "");
  EXPECT_EQ(file.PathWithExtension(".exr"), named);
}

TEST(MemoryFile, LeavesNothingBehind) {
  fs::path folder;
  {
    kestrion_fuzz::MemoryFile file("replay");
    folder = fs::path(file.PathWithExtension(".json")).parent_path();
    ASSERT_TRUE(fs::is_directory(folder));
  }
  EXPECT_FALSE(fs::exists(folder));
}

}  // namespace
