#include "formats/exr_document.h"

#include <ImfFrameBuffer.h>
#include <ImfInputPart.h>
#include <ImfIntAttribute.h>
#include <ImfMatrixAttribute.h>
#include <ImfMultiPartInputFile.h>
#include <ImfStringAttribute.h>
#include <ImfTiledInputPart.h>
#include <ImfVersion.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "base/errors.h"
#include "tests/support/exr_layouts.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using namespace test_files;

const Imath::Box2i SMALL{{0, 0}, {6, 4}};

// Part 0 of the file as OpenEXR's C++ reader decodes it: the oracle for
// the document's own decoding.
ExrDocument ReadThroughCxx(Imf::MultiPartInputFile& file) {
  ExrPart part{file.header(0), {}};
  const Imath::Box2i& window = part.DataWindow();
  const size_t count = static_cast<size_t>(part.Width()) * static_cast<size_t>(part.Height());
  Imf::FrameBuffer frame;
  for (auto it = part.header.channels().begin(); it != part.header.channels().end(); ++it) {
    ExrChannel channel{it.name(), std::vector<float>()};
    if (it.channel().type == Imf::HALF) channel.samples = std::vector<half>(count);
    if (it.channel().type == Imf::FLOAT) channel.samples = std::vector<float>(count);
    if (it.channel().type == Imf::UINT) channel.samples = std::vector<uint32_t>(count);
    part.channels.push_back(std::move(channel));
  }
  for (ExrChannel& channel : part.channels) {
    frame.insert(channel.name, Imf::Slice::Make(channel.Type(), channel.Bytes(), window));
  }
  if (part.Tiled()) {
    Imf::TiledInputPart input(file, 0);
    input.setFrameBuffer(frame);
    input.readTiles(0, input.numXTiles() - 1, 0, input.numYTiles() - 1);
  } else {
    Imf::InputPart input(file, 0);
    input.setFrameBuffer(frame);
    input.readPixels(window.min.y, window.max.y);
  }
  ExrDocument document;
  document.parts.push_back(std::move(part));
  return document;
}

TEST(ExrDocument, WritesEveryPartBackUnchanged) {
  ScratchDirectory dir;
  for (const FileCase& c : FileCases()) {
    SCOPED_TRACE(c.name);
    test_files::WriteExrFile(dir / "in.exr", c.parts);
    const ExrDocument read = ReadExrDocument(dir / "in.exr");
    ASSERT_EQ(read.parts.size(), c.parts.size());
    // The samples are the generated ones, at the right pixels.
    const ExrPart& part = read.parts.back();
    const ExrChannel& last = part.channels.back();
    const Imath::Box2i& w = part.DataWindow();
    const double expected = test_files::SampleAt(
        last.name, static_cast<int>(c.parts.back().channels.size()) - 1, w.max.x, w.max.y - 1);
    EXPECT_NEAR(last.ExactValue(*part.IndexOf(w.max.x, w.max.y - 1)), expected, 1e-3);
    EXPECT_EQ(part.Tiled(), c.parts.back().tiled);

    WriteExrDocument(read, dir / "out.exr");
    ExpectSameDocument(read, ReadExrDocument(dir / "out.exr"));
    EXPECT_EQ(Imf::isMultiPart(Imf::MultiPartInputFile((dir / "out.exr").c_str()).version()),
              c.parts.size() > 1);

    WriteExrDocument(read, dir / "zip.exr", Imf::ZIPS_COMPRESSION);
    const ExrDocument recompressed = ReadExrDocument(dir / "zip.exr");
    EXPECT_EQ(recompressed.parts.front().header.compression(), Imf::ZIPS_COMPRESSION);
    ExrDocument expected2 = read;
    // The chunk count follows the compression. (It is copied over rather
    // than erased: this OpenEXR's Header::erase leaks the attribute.)
    for (size_t i = 0; i < expected2.parts.size(); ++i) {
      Imf::Header& header = expected2.parts[i].header;
      header.compression() = Imf::ZIPS_COMPRESSION;
      const auto* count =
          recompressed.parts[i].header.findTypedAttribute<Imf::IntAttribute>("chunkCount");
      if (auto* mine = header.findTypedAttribute<Imf::IntAttribute>("chunkCount"); mine && count) {
        mine->value() = count->value();
      }
    }
    ExpectSameDocument(expected2, recompressed);
  }
}

// Every compression OpenEXR writes, scanline and tiled, with a data window
// off the origin and every pixel type: the document holds exactly the
// samples OpenEXR's C++ reader decodes from the file, lossy ones included.
TEST(ExrDocument, DecodesEveryCompressionAsOpenExrsReaderDoes) {
  ScratchDirectory dir;
  const Imath::Box2i window{{-3, 2}, {40, 37}};
  for (const Imf::Compression compression :
       {Imf::NO_COMPRESSION, Imf::RLE_COMPRESSION, Imf::ZIPS_COMPRESSION, Imf::ZIP_COMPRESSION,
        Imf::PIZ_COMPRESSION, Imf::PXR24_COMPRESSION, Imf::B44_COMPRESSION, Imf::B44A_COMPRESSION,
        Imf::DWAA_COMPRESSION, Imf::DWAB_COMPRESSION}) {
    for (const bool tiled : {false, true}) {
      SCOPED_TRACE(CompressionName(compression) + (tiled ? " tiled" : " scanline"));
      ExrPartLayout layout =
          test_files::Part("", window, window,
                           Join(Channels({"R", "G", "B", "A"}, Imf::HALF),
                                Channels({"Z"}, Imf::FLOAT), Channels({"objectId"}, Imf::UINT)));
      layout.compression = compression;
      layout.tiled = tiled;
      test_files::WriteExrFile(
          dir / "in.exr", {layout}, [](const std::string& name, int k, int x, int y) {
            // Irregular values, so that lossy compressions lose something.
            return test_files::SampleAt(name, k, x, y) * (1.0 + 0.37 * std::sin(x * 1.7 + y * 0.9));
          });
      const ExrDocument document = ReadExrDocument(dir / "in.exr");
      Imf::MultiPartInputFile file((dir / "in.exr").c_str());
      const ExrDocument expected = ReadThroughCxx(file);
      ASSERT_EQ(document.parts.size(), 1u);
      for (const ExrChannel& channel : expected.parts[0].channels) {
        const ExrChannel* read = document.parts[0].Find(channel.name);
        ASSERT_NE(read, nullptr) << channel.name;
        ASSERT_EQ(read->ByteSize(), channel.ByteSize());
        EXPECT_EQ(std::memcmp(read->Bytes(), channel.Bytes(), channel.ByteSize()), 0)
            << channel.name;
      }
    }
  }
}

TEST(ExrDocument, RefusesWhatItCannotHoldInOneLine) {
  ScratchDirectory dir;
  test_files::WriteExrFile(dir / "in.exr", {RootRgbaZ()});
  try {
    ResourceLimits limits;
    limits.memoryLimit = 100;
    ReadExrDocument(dir / "in.exr", limits);
    FAIL() << "read past the memory limit";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("reading it needs about 420 bytes, more than the 100 "
                                         "bytes memory limit (memory_limit)"),
              std::string::npos)
        << e.what();
  }
  test_files::WriteText(dir / "bad.exr", "not an image");
  EXPECT_THROW(ReadExrDocument(dir / "bad.exr"), Error);
  EXPECT_THROW(ReadExrDocument(dir / "missing.exr"), Error);
}

}  // namespace
}  // namespace kestrion
