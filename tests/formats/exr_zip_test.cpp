#include "formats/exr_zip.h"

#include <ImfFrameBuffer.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfStringAttribute.h>
#include <ImfTiledInputPart.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "base/errors.h"
#include "formats/exr_decode.h"
#include "formats/exr_document.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using namespace test_files;

std::vector<uint8_t> Noise(size_t bytes, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> values(bytes);
  for (uint8_t& v : values) v = static_cast<uint8_t>(random());
  return values;
}

// Bytes as a frame's rows give them: slowly changing values, so that the
// predictor leaves small differences.
std::vector<uint8_t> Smooth(size_t bytes) {
  std::vector<uint8_t> values(bytes);
  for (size_t i = 0; i < bytes; ++i) values[i] = static_cast<uint8_t>((i / 7) % 251 + (i % 2) * 3);
  return values;
}

TEST(ZipCodec, CodesAndDecodesEveryLength) {
  ZipCodec coder, decoder;
  for (size_t bytes : {1u, 2u, 3u, 17u, 1000u, 1001u, 65536u, 300001u}) {
    SCOPED_TRACE(bytes);
    for (const std::vector<uint8_t>& raw : {Smooth(bytes), Noise(bytes, 7)}) {
      std::vector<uint8_t> packed(bytes);
      const size_t packedBytes = coder.Compress(raw.data(), bytes, packed.data());
      ASSERT_GT(packedBytes, 0u);
      ASSERT_LE(packedBytes, bytes);
      std::vector<uint8_t> back(bytes, 0xAB);
      ASSERT_TRUE(decoder.Decompress(packed.data(), packedBytes, back.data(), bytes));
      EXPECT_EQ(back, raw);
    }
  }
}

TEST(ZipCodec, StoresRawWhatDoesNotGetSmaller) {
  ZipCodec codec;
  const std::vector<uint8_t> raw = Noise(4096, 3);
  std::vector<uint8_t> packed(raw.size());
  ASSERT_GE(codec.StreamBytes(raw.data(), raw.size()), raw.size());
  EXPECT_EQ(codec.Compress(raw.data(), raw.size(), packed.data()), raw.size());
  EXPECT_EQ(packed, raw);
  // Smooth bytes do get smaller.
  const std::vector<uint8_t> smooth = Smooth(4096);
  EXPECT_LT(codec.Compress(smooth.data(), smooth.size(), packed.data()), smooth.size() / 4);
}

TEST(ZipCodec, RefusesDamagedStreams) {
  ZipCodec codec;
  const std::vector<uint8_t> raw = Smooth(20000);
  std::vector<uint8_t> packed(raw.size());
  const size_t packedBytes = codec.Compress(raw.data(), raw.size(), packed.data());
  ASSERT_LT(packedBytes, raw.size());
  packed.resize(packedBytes);
  std::vector<uint8_t> back(raw.size());
  // Cut short, one byte too long for its chunk, or one byte too short.
  EXPECT_FALSE(codec.Decompress(packed.data(), packedBytes / 2, back.data(), raw.size()));
  EXPECT_FALSE(codec.Decompress(packed.data(), packedBytes, back.data(), raw.size() - 1));
  std::vector<uint8_t> longer(raw.size() + 1);
  EXPECT_FALSE(codec.Decompress(packed.data(), packedBytes, longer.data(), longer.size()));
  // A flipped byte in the header, the blocks or the checksum is refused
  // (the checksum catches what still decodes to the chunk's size). The
  // blocks' last byte is left alone: its unused high bits may be anything.
  for (size_t at = 0; at < packedBytes; at += 3) {
    if (at == packedBytes - 5) continue;
    std::vector<uint8_t> damaged = packed;
    damaged[at] ^= 0x5A;
    EXPECT_FALSE(codec.Decompress(damaged.data(), damaged.size(), back.data(), raw.size())) << at;
  }
  // Noise posing as a stream.
  const std::vector<uint8_t> junk = Noise(500, 11);
  EXPECT_FALSE(codec.Decompress(junk.data(), junk.size(), back.data(), raw.size()));
}

TEST(ZipCodec, TakesAChunkAsLargeAsItsRawBytesAsRaw) {
  ZipCodec codec;
  const std::vector<uint8_t> raw = Noise(333, 5);
  std::vector<uint8_t> back(raw.size());
  ASSERT_TRUE(codec.Decompress(raw.data(), raw.size(), back.data(), raw.size()));
  EXPECT_EQ(back, raw);
}

// Every part's samples as OpenEXR's C++ reader decodes them.
ExrDocument ReadAllThroughCxx(const std::string& path) {
  Imf::MultiPartInputFile file(path.c_str());
  ExrDocument document{path, {}};
  for (int p = 0; p < file.parts(); ++p) {
    ExrPart part{file.header(p), {}};
    const size_t count = static_cast<size_t>(part.Width()) * static_cast<size_t>(part.Height());
    for (auto it = part.header.channels().begin(); it != part.header.channels().end(); ++it) {
      ExrChannel channel{it.name(), std::vector<float>(count)};
      if (it.channel().type == Imf::HALF) channel.samples = std::vector<half>(count);
      if (it.channel().type == Imf::UINT) channel.samples = std::vector<uint32_t>(count);
      part.channels.push_back(std::move(channel));
    }
    Imf::FrameBuffer frame;
    for (ExrChannel& channel : part.channels) {
      frame.insert(channel.name,
                   Imf::Slice::Make(channel.Type(), channel.Bytes(), part.DataWindow()));
    }
    if (part.Tiled()) {
      Imf::TiledInputPart input(file, p);
      input.setFrameBuffer(frame);
      input.readTiles(0, input.numXTiles() - 1, 0, input.numYTiles() - 1);
    } else {
      Imf::InputPart input(file, p);
      input.setFrameBuffer(frame);
      input.readPixels(part.DataWindow().min.y, part.DataWindow().max.y);
    }
    document.parts.push_back(std::move(part));
  }
  return document;
}

// Every part's samples as OpenEXR's core library decodes them with its own
// inflater (zlib).
ExrDocument ReadAllThroughCore(const std::string& path) {
  ExrDocument document = ReadAllThroughCxx(path);
  CoreExrFile core(path, std::filesystem::file_size(path));
  for (size_t p = 0; p < document.parts.size(); ++p) {
    std::vector<DecodeTarget> targets;
    for (ExrChannel& channel : document.parts[p].channels) {
      const size_t bytes = channel.ByteSize();
      std::memset(const_cast<char*>(channel.Bytes()), 0, bytes);
      targets.push_back(
          {channel.name, const_cast<char*>(channel.Bytes()), channel.Type() == Imf::HALF ? 2 : 4});
    }
    DecodeExrPart(core, static_cast<int>(p), targets, 1, NeverAbort(), ZipInflater::OpenExr);
  }
  return document;
}

void ExpectSameSamples(const ExrDocument& expected, const ExrDocument& actual) {
  ASSERT_EQ(expected.parts.size(), actual.parts.size());
  for (size_t p = 0; p < expected.parts.size(); ++p) {
    const ExrPart& a = expected.parts[p];
    const ExrPart& b = actual.parts[p];
    EXPECT_EQ(a.DataWindow(), b.DataWindow());
    ASSERT_EQ(a.channels.size(), b.channels.size());
    for (size_t c = 0; c < a.channels.size(); ++c) {
      SCOPED_TRACE("part " + std::to_string(p) + " channel " + a.channels[c].name);
      EXPECT_EQ(a.channels[c].name, b.channels[c].name);
      EXPECT_EQ(a.channels[c].Type(), b.channels[c].Type());
      ASSERT_EQ(a.channels[c].ByteSize(), b.channels[c].ByteSize());
      EXPECT_EQ(std::memcmp(a.channels[c].Bytes(), b.channels[c].Bytes(), a.channels[c].ByteSize()),
                0);
    }
  }
}

// Smooth samples with highlights, or noise in every bit of every sample.
double SmoothSample(const std::string& name, int k, int x, int y) {
  const double v = SampleAt(name, k, x, y);
  return (x * 7 + y * 3) % 97 == 0 ? v * 40.0 : v;
}

// Random bits in every sample: all 32 of a UINT, a random finite float for
// R and Z, a random finite half for A, B and G (the layouts' half channels).
double NoiseSample(const std::string& name, int k, int x, int y) {
  // A mix of the pixel's place (splitmix64's finaliser).
  uint64_t h = static_cast<uint64_t>((x + 1000) * 7919 + (y + 1000) * 104729 + k * 31);
  h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9u;
  h = (h ^ (h >> 27)) * 0x94d049bb133111ebu;
  const auto bits = static_cast<uint32_t>(h ^ (h >> 31));
  if (name.find("Id") != std::string::npos) return bits;
  if (name == "A" || name == "B" || name == "G") {
    const double mantissa = 1.0 + (bits & 1023) / 1024.0;
    return ((bits >> 15) & 1 ? -1.0 : 1.0) *
           std::ldexp(mantissa, static_cast<int>((bits >> 10) % 30) - 14);
  }
  float value = 0.0f;
  const uint32_t finite = bits & 0xFF7FFFFFu;  // an exponent below all ones
  std::memcpy(&value, &finite, sizeof value);
  return value;
}

// Layouts of every kind the codec meets: ZIP (16-line chunks) and ZIPS (1
// line), odd widths and heights with a short last chunk, half, float and
// uint channels, tiles, several parts, decreasing line order.
std::vector<std::pair<std::string, std::vector<ExrPartLayout>>> ZipLayouts() {
  const std::vector<ExrChannelLayout> mixed = {{"A", Imf::HALF},  {"B", Imf::HALF},
                                               {"G", Imf::HALF},  {"R", Imf::FLOAT},
                                               {"Z", Imf::FLOAT}, {"objectId", Imf::UINT}};
  ExrPartLayout zip = Part("", {{-3, 2}, {33, 40}}, {{0, 0}, {31, 31}}, mixed);
  ExrPartLayout zips = zip;
  zips.compression = Imf::ZIPS_COMPRESSION;
  ExrPartLayout tiled = Part("", {{0, 0}, {18, 10}}, {{0, 0}, {31, 31}}, mixed);
  tiled.tiled = true;
  ExrPartLayout decreasing = zip;
  decreasing.attributes = [](Imf::Header& header) { header.lineOrder() = Imf::DECREASING_Y; };
  ExrPartLayout exact = Part("", {{0, 0}, {15, 15}}, {{0, 0}, {15, 15}}, {{"Y", Imf::FLOAT}});
  ExrPartLayout wide = Part("", {{0, 0}, {1920, 20}}, {{0, 0}, {1920, 20}}, mixed);
  // Names past 31 characters, as a renderer's view layers and statistics
  // give them: the file must say it uses long names.
  ExrPartLayout named =
      Part("", {{0, 0}, {20, 17}}, {{0, 0}, {20, 17}},
           {{"ViewLayer.Denoising Albedo Pass.R", Imf::FLOAT}, {"Z", Imf::FLOAT}});
  named.attributes = [](Imf::Header& header) {
    header.insert("cycles.ViewLayer.synchronization_time", Imf::StringAttribute("00:00.01"));
  };
  std::vector<ExrPartLayout> parts = {zip, zips, tiled};
  parts[0].name = "beauty";
  parts[1].name = "lines";
  parts[2].name = "tiles";
  return {{"zip", {zip}},          {"zips", {zips}},
          {"tiled", {tiled}},      {"decreasing", {decreasing}},
          {"one chunk", {exact}},  {"wide", {wide}},
          {"long names", {named}}, {"several parts", parts}};
}

TEST(ZipFiles, KestrionsFilesDecodeInOpenExrExactly) {
  ScratchDirectory dir;
  for (const auto& [name, layout] : ZipLayouts()) {
    for (const SampleFunction& sample :
         {SampleFunction(SmoothSample), SampleFunction(NoiseSample)}) {
      SCOPED_TRACE(name);
      WriteExrFile(dir / "stock.exr", layout, sample);
      const ExrDocument document = ReadExrDocument(dir / "stock.exr");
      WriteExrDocument(document, dir / "kestrion.exr");
      ExpectSameSamples(document, ReadAllThroughCxx(dir / "kestrion.exr"));
      ExpectSameSamples(document, ReadAllThroughCore(dir / "kestrion.exr"));
      // The headers come through whole.
      const Imf::MultiPartInputFile written((dir / "kestrion.exr").c_str());
      ASSERT_EQ(written.parts(), static_cast<int>(document.parts.size()));
      for (int p = 0; p < written.parts(); ++p) {
        std::map<std::string, std::string> expected = AttributeBytes(document.parts[p].header);
        std::map<std::string, std::string> actual = AttributeBytes(written.header(p));
        // Stock writers differ over a single part's type attribute and
        // count its chunks only in multi-part files.
        for (auto* map : {&expected, &actual}) {
          if (written.parts() == 1) map->erase("type");
          map->erase("chunkCount");
        }
        EXPECT_EQ(expected, actual) << "part " << p;
      }
    }
  }
}

TEST(ZipFiles, OpenExrsFilesDecodeInKestrionExactly) {
  ScratchDirectory dir;
  for (const auto& [name, layout] : ZipLayouts()) {
    for (const SampleFunction& sample :
         {SampleFunction(SmoothSample), SampleFunction(NoiseSample)}) {
      SCOPED_TRACE(name);
      WriteExrFile(dir / "stock.exr", layout, sample);
      ExpectSameSamples(ReadAllThroughCxx(dir / "stock.exr"), ReadExrDocument(dir / "stock.exr"));
    }
  }
}

TEST(ZipFiles, StoresNoiseRawAndSmoothFramesSmaller) {
  ScratchDirectory dir;
  const std::vector<ExrPartLayout> layout = ZipLayouts()[0].second;
  WriteExrFile(dir / "noise.exr", layout, NoiseSample);
  WriteExrDocument(ReadExrDocument(dir / "noise.exr"), dir / "noise-out.exr");
  WriteExrFile(dir / "smooth.exr", layout, SmoothSample);
  WriteExrDocument(ReadExrDocument(dir / "smooth.exr"), dir / "smooth-out.exr");
  for (int chunk = 0; chunk < 3; ++chunk) {
    const exr_chunk_info_t noise = ChunkInfo(dir / "noise-out.exr", 0, chunk);
    EXPECT_EQ(noise.packed_size, noise.unpacked_size) << chunk;
    const exr_chunk_info_t smooth = ChunkInfo(dir / "smooth-out.exr", 0, chunk);
    EXPECT_LT(smooth.packed_size, smooth.unpacked_size / 2) << chunk;
  }
}

// A one-line UINT chunk whose stream is exactly as long as its raw bytes:
// a run of zeros before noise, the run's length searched for.
TEST(ZipFiles, StoresRawAChunkWhoseStreamIsAsLongAsItsBytes) {
  constexpr int WIDTH = 600;
  const std::vector<uint8_t> noise = Noise(WIDTH * 4, 9);
  ZipCodec codec;
  int zeros = -1;
  for (int run = 0; run < WIDTH * 4 && zeros < 0; ++run) {
    std::vector<uint8_t> raw = noise;
    std::fill(raw.begin(), raw.begin() + run, 0);
    if (codec.StreamBytes(raw.data(), raw.size()) == raw.size()) zeros = run;
  }
  ASSERT_GE(zeros, 0) << "no run gives a stream of the raw size";
  std::vector<uint32_t> samples(WIDTH);
  std::memcpy(samples.data(), noise.data(), noise.size());
  std::memset(samples.data(), 0, static_cast<size_t>(zeros));

  ExrPartLayout layout =
      Part("", {{0, 0}, {WIDTH - 1, 0}}, {{0, 0}, {WIDTH - 1, 0}}, {{"objectId", Imf::UINT}});
  layout.compression = Imf::ZIPS_COMPRESSION;
  ScratchDirectory dir;
  WriteExrFile(dir / "stock.exr", {layout}, [&samples](const std::string&, int, int x, int) {
    return static_cast<double>(samples[static_cast<size_t>(x)]);
  });
  const ExrDocument document = ReadExrDocument(dir / "stock.exr");
  ASSERT_EQ(std::memcmp(document.parts[0].channels[0].Bytes(), samples.data(), noise.size()), 0);
  WriteExrDocument(document, dir / "kestrion.exr");
  const exr_chunk_info_t info = ChunkInfo(dir / "kestrion.exr", 0, 0);
  EXPECT_EQ(info.packed_size, info.unpacked_size);
  ExpectSameSamples(document, ReadAllThroughCxx(dir / "kestrion.exr"));
  ExpectSameSamples(document, ReadAllThroughCore(dir / "kestrion.exr"));
}

TEST(ZipFiles, WritesTheSameBytesWithEveryThreadCount) {
  ScratchDirectory dir;
  const std::vector<ExrPartLayout> parts = ZipLayouts().back().second;
  WriteExrFile(dir / "stock.exr", parts, SmoothSample);
  const ExrDocument document = ReadExrDocument(dir / "stock.exr");
  std::string first;
  for (unsigned threads : {1u, 2u, 5u}) {
    SetExrThreadCount(threads);
    WriteExrDocument(document, dir / "out.exr");
    const std::string bytes = ReadText(dir / "out.exr");
    if (first.empty()) first = bytes;
    EXPECT_EQ(bytes, first) << threads << " threads";
    ExpectSameSamples(document, ReadExrDocument(dir / "out.exr"));
  }
  SetExrThreadCount(0);
}

TEST(ZipFiles, NamesThePartAndChunkOfADamagedStream) {
  ScratchDirectory dir;
  const std::vector<ExrPartLayout> parts = ZipLayouts().back().second;
  WriteExrFile(dir / "stock.exr", parts, SmoothSample);
  WriteExrDocument(ReadExrDocument(dir / "stock.exr"), dir / "out.exr");
  // Chunk 1 of part 0 (scanlines 18-33 of a window from row 2).
  const exr_chunk_info_t info = ChunkInfo(dir / "out.exr", 0, 1);
  ASSERT_LT(info.packed_size, info.unpacked_size);
  std::string bytes = ReadText(dir / "out.exr");
  for (uint64_t i = 10; i < info.packed_size; i += 10) bytes[info.data_offset + i] ^= 0x33;
  WriteText(dir / "damaged.exr", bytes);
  try {
    ReadExrDocument(dir / "damaged.exr");
    FAIL() << "a damaged chunk was read";
  } catch (const Error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("scanlines 18-33 of part 0 \"beauty\""), std::string::npos) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  }
}

// A document made in memory (the demo's frames, PNG input written as
// OpenEXR) has headers without a part type.
TEST(ZipFiles, WritesHeadersMadeInMemory) {
  ScratchDirectory dir;
  ExrPart part{Imf::Header(9, 5), {}};
  part.header.compression() = Imf::ZIP_COMPRESSION;
  part.header.channels().insert("Y", Imf::Channel(Imf::FLOAT));
  std::vector<float> samples(45);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = 0.25f * static_cast<float>(i);
  part.channels.push_back({"Y", samples});
  ASSERT_FALSE(part.header.hasType());
  ExrDocument document{"", {}};
  document.parts.push_back(std::move(part));
  WriteExrDocument(document, dir / "made.exr");
  ExpectSameSamples(document, ReadAllThroughCxx(dir / "made.exr"));
}

TEST(ZipFiles, LeavesOtherCompressionsToOpenExr) {
  ScratchDirectory dir;
  ExrPartLayout piz = ZipLayouts()[0].second[0];
  piz.compression = Imf::PIZ_COMPRESSION;
  WriteExrFile(dir / "stock.exr", {piz}, SmoothSample);
  const ExrDocument document = ReadExrDocument(dir / "stock.exr");
  WriteExrDocument(document, dir / "piz.exr");
  EXPECT_EQ(Imf::MultiPartInputFile((dir / "piz.exr").c_str()).header(0).compression(),
            Imf::PIZ_COMPRESSION);
  ExpectSameSamples(document, ReadAllThroughCxx(dir / "piz.exr"));
  // Asked for ZIP, the same document goes through kestrion's writer.
  WriteExrDocument(document, dir / "zip.exr", Imf::ZIP_COMPRESSION);
  EXPECT_EQ(Imf::MultiPartInputFile((dir / "zip.exr").c_str()).header(0).compression(),
            Imf::ZIP_COMPRESSION);
  ExpectSameSamples(document, ReadAllThroughCore(dir / "zip.exr"));
}

}  // namespace
}  // namespace kestrion
