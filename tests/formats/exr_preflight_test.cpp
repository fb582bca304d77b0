// OpenEXR files checked before the C++ reader allocates anything: hostile
// headers and damaged chunks refused with one line naming the file and the
// first fault, valid files measured from their headers.
#include "formats/exr_preflight.h"

#include <ImfOutputFile.h>
#include <ImfStringAttribute.h>
#include <gtest/gtest.h>

#include <functional>

#include "base/errors.h"
#include "formats/exr_document.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using test_files::ExrPartLayout;
using test_files::ScratchDirectory;

const Imath::Box2i FOUR{{0, 0}, {3, 3}};

ExrPartLayout RgbZ(Imf::Compression compression, Imath::Box2i window = FOUR) {
  ExrPartLayout layout =
      test_files::Part("", window, window,
                       {{"R", Imf::HALF}, {"G", Imf::HALF}, {"B", Imf::HALF}, {"Z", Imf::FLOAT}});
  layout.compression = compression;
  return layout;
}

// A header and an offset table without one chunk of pixels, as a writer
// that died at once leaves it.
void WriteHeaderOnly(const std::string& path, Imath::Box2i data, Imath::Box2i display) {
  ExrPartLayout layout = RgbZ(Imf::NO_COMPRESSION, data);
  layout.displayWindow = display;
  Imf::OutputFile file(path.c_str(), test_files::HeaderOf(layout));
}

double Zeros(const std::string&, int, int, int) { return 0.0; }

struct HostileFile {
  const char* what;
  std::function<void(const std::string& path)> make;
  const char* error;  // the words after "<path>: "
};

const HostileFile HOSTILE[] = {
    {"a large data window without pixels",
     [](const std::string& path) {
       WriteHeaderOnly(path, {{0, 0}, {19999, 19999}}, {{0, 0}, {15, 15}});
     },
     "scanlines 0-0 of part 0 are missing or damaged (the file is truncated or corrupt)"},
    {"an attribute declaring 2 GiB",
     [](const std::string& path) {
       ExrPartLayout layout = RgbZ(Imf::ZIP_COMPRESSION);
       layout.attributes = [](Imf::Header& header) {
         header.insert("bomb", Imf::StringAttribute("abcd"));
       };
       test_files::WriteExrFile(path, {layout});
       test_files::PatchInt32(
           path, test_files::OffsetAfter(path, std::string("bomb\0string\0", 12)), 2147483647);
     },
     "not a readable OpenEXR file"},
    {"an uncompressed chunk shorter than its scanline",
     [](const std::string& path) {
       test_files::WriteExrFile(path, {RgbZ(Imf::NO_COMPRESSION)});
       test_files::SetChunkSize(path, 0, 0, 8);
     },
     "scanlines 0-0 of part 0 are missing or damaged"},
    {"an uncompressed chunk longer than its scanline",
     [](const std::string& path) {
       test_files::WriteExrFile(path, {RgbZ(Imf::NO_COMPRESSION)});
       test_files::SetChunkSize(path, 0, 1, 41);
     },
     "scanlines 1-1 of part 0 are missing or damaged"},
    {"a compressed chunk larger than it unpacks to",
     [](const std::string& path) {
       test_files::WriteExrFile(path, {RgbZ(Imf::ZIP_COMPRESSION)});
       test_files::SetChunkSize(path, 0, 0, 161);
     },
     "scanlines 0-3 of part 0 are missing or damaged"},
    {"an empty compressed chunk",
     [](const std::string& path) {
       test_files::WriteExrFile(path, {RgbZ(Imf::ZIPS_COMPRESSION)});
       test_files::SetChunkSize(path, 0, 2, 0);
     },
     "scanlines 2-2 of part 0 are missing or damaged"},
    {"an RLE chunk that unpacks to fewer bytes than its scanline",
     [](const std::string& path) {
       test_files::WriteExrFile(path, {RgbZ(Imf::RLE_COMPRESSION)}, Zeros);
       const uint64_t packed = test_files::ChunkInfo(path, 0, 1).packed_size;
       test_files::SetChunkSize(path, 0, 1, static_cast<int32_t>(packed) - 1);
     },
     "scanlines 1-1 of part 0 are missing or damaged"},
    {"a ZIP chunk whose stream is cut short",
     [](const std::string& path) {
       test_files::WriteExrFile(path, {RgbZ(Imf::ZIPS_COMPRESSION)}, Zeros);
       const uint64_t packed = test_files::ChunkInfo(path, 0, 3).packed_size;
       test_files::SetChunkSize(path, 0, 3, static_cast<int32_t>(packed) - 2);
     },
     "scanlines 3-3 of part 0 are missing or damaged"},
    {"the last chunk cut short",
     [](const std::string& path) {
       test_files::WriteExrFile(path, {RgbZ(Imf::NO_COMPRESSION)});
       test_files::CutLastBytes(path, 10);
     },
     "scanlines 3-3 of part 0 are missing or damaged"},
    {"offset tables longer than the file",
     [](const std::string& path) {
       WriteHeaderOnly(path, {{0, 0}, {0, 59999}}, {{0, 0}, {0, 59999}});
       std::filesystem::resize_file(path, 2000);
     },
     "its offset tables list 60000 chunks, more than the file can hold"},
    {"a tile cut short",
     [](const std::string& path) {
       ExrPartLayout layout = RgbZ(Imf::NO_COMPRESSION, {{0, 0}, {6, 4}});
       layout.tiled = true;
       test_files::WriteExrFile(path, {layout});
       test_files::CutLastBytes(path, 1);
     },
     "tile (1, 1) of part 0 is missing or damaged"},
    {"a damaged chunk in the second part",
     [](const std::string& path) {
       ExrPartLayout beauty = RgbZ(Imf::NO_COMPRESSION);
       beauty.name = "beauty";
       ExrPartLayout depth = test_files::Part("depth", FOUR, FOUR, {{"Z", Imf::FLOAT}});
       depth.compression = Imf::NO_COMPRESSION;
       test_files::WriteExrFile(path, {beauty, depth});
       test_files::SetChunkSize(path, 1, 3, 4);
     },
     "scanlines 3-3 of part 1 \"depth\" are missing or damaged"},
};

TEST(ExrPreflight, RefusesHostileFilesWithOneLineNamingTheFault) {
  for (const HostileFile& hostile : HOSTILE) {
    SCOPED_TRACE(hostile.what);
    ScratchDirectory dir;
    const std::string path = dir / "hostile.exr";
    hostile.make(path);
    try {
      ReadExrDocument(path);
      ADD_FAILURE() << "read";
    } catch (const Error& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind(path + ": " + hostile.error, 0), 0u) << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
      EXPECT_EQ(e.Kind(), ErrorKind::Input);
    }
  }
}

TEST(ExrPreflight, RefusesWindowsBeyondTheLargestSide) {
  ScratchDirectory dir;
  test_files::WriteExrFile(dir / "in.exr", {RgbZ(Imf::ZIP_COMPRESSION, {{0, 0}, {6, 4}})});
  ResourceLimits limits;
  limits.maxSide = 6;
  try {
    PreflightExr(dir / "in.exr", limits);
    FAIL() << "accepted a side of 7";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("part 0: a display window of 7 x 5 pixels is not "
                                         "supported (1 to 6 per side, max_side)"),
              std::string::npos)
        << e.what();
  }
  limits.maxSide = 7;
  EXPECT_NO_THROW(PreflightExr(dir / "in.exr", limits));
}

TEST(ExrPreflight, MeasuresValidFilesFromTheirHeaders) {
  ScratchDirectory dir;
  // Every compression, scanline and tiled: all pass and read.
  const Imf::Compression compressions[] = {
      Imf::NO_COMPRESSION,  Imf::RLE_COMPRESSION,   Imf::ZIPS_COMPRESSION, Imf::ZIP_COMPRESSION,
      Imf::PIZ_COMPRESSION, Imf::PXR24_COMPRESSION, Imf::B44_COMPRESSION,  Imf::DWAA_COMPRESSION};
  for (const Imf::Compression compression : compressions) {
    for (const bool tiled : {false, true}) {
      SCOPED_TRACE(CompressionName(compression) + (tiled ? " tiled" : ""));
      ExrPartLayout layout = RgbZ(compression, {{-2, 1}, {36, 20}});
      layout.tiled = tiled;
      test_files::WriteExrFile(dir / "in.exr", {layout});
      const ExrShape shape = PreflightExr(dir / "in.exr", ResourceLimits{});
      EXPECT_EQ(shape.largestPixels, 39u * 20u);
      EXPECT_EQ(shape.channels, 4u);
      EXPECT_EQ(shape.sampleBytes, 39u * 20u * (3 * 2 + 4));
      EXPECT_NO_THROW(ReadExrDocument(dir / "in.exr"));
    }
  }
  // Several parts: samples and channels add up, the largest window counts.
  ExrPartLayout depth = test_files::Part("depth", {{0, 0}, {99, 9}}, FOUR, {{"Z", Imf::FLOAT}});
  ExrPartLayout beauty = RgbZ(Imf::ZIP_COMPRESSION);
  beauty.name = "beauty";
  test_files::WriteExrFile(dir / "parts.exr", {beauty, depth});
  const ExrShape shape = PreflightExr(dir / "parts.exr", ResourceLimits{});
  EXPECT_EQ(shape.largestPixels, 1000u);
  EXPECT_EQ(shape.channels, 5u);
  EXPECT_EQ(shape.sampleBytes, 16u * 10u + 1000u * 4u);
}

}  // namespace
}  // namespace kestrion
