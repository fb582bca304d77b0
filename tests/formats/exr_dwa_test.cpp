// DWAA and DWAB parts, which OpenEXR's C++ reader decodes (the core library
// of this OpenEXR does not), with chunks damaged the ways a cut copy, a bad
// disk or a hostile file damage them: each is refused in one line naming
// the file, or decoded into samples that all come from the file or from
// zero-filled memory. Every sample of a decoded part is read, so that
// Valgrind (CI runs these tests under it) sees any that came from
// uninitialised memory; the heap is also filled with a pattern first, which
// such samples would show without it.
#include <ImfThreading.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "formats/exr_document.h"
#include "tests/support/exr_test_files.h"
#include "tests/support/test_files.h"

namespace kestrion {
namespace {

using namespace test_files;

constexpr unsigned char POISON = 0xAB;

// Blocks of the sizes a decoder's buffers take here, filled with POISON
// and given back, so that the next ones handed out hold it. (Larger blocks
// are mapped afresh, zero-filled by the system.)
void PoisonTheHeap() {
  for (size_t size = 256; size <= (size_t{128} << 10); size *= 2) {
    std::vector<std::unique_ptr<char[]>> blocks;
    for (int i = 0; i < 6; ++i) {
      blocks.emplace_back(new char[size]);
      std::memset(blocks.back().get(), POISON, size);
    }
  }
}

// Whether any sample holds the pattern in every byte.
bool HoldsPoison(const ExrDocument& document) {
  for (const ExrPart& part : document.parts) {
    for (const ExrChannel& channel : part.channels) {
      const size_t bytes = channel.ByteSize() / channel.Size();
      for (size_t i = 0; i < channel.Size(); ++i) {
        const auto* sample = reinterpret_cast<const unsigned char*>(channel.Bytes()) + i * bytes;
        bool all = true;
        for (size_t b = 0; b < bytes; ++b) all = all && sample[b] == POISON;
        if (all) return true;
      }
    }
  }
  return false;
}

// Every sample looked at: a branch on each, which Valgrind checks.
size_t NonZeroSamples(const ExrDocument& document) {
  size_t count = 0;
  for (const ExrPart& part : document.parts) {
    for (const ExrChannel& channel : part.channels) {
      for (size_t i = 0; i < channel.Size(); ++i) count += channel.ExactValue(i) != 0.0 ? 1 : 0;
    }
  }
  return count;
}

void PatchInt64(std::string& bytes, uint64_t offset, int64_t value) {
  for (int b = 0; b < 8; ++b) bytes[offset + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
}

int64_t Int64At(const std::string& bytes, uint64_t offset) {
  uint64_t value = 0;
  for (int b = 7; b >= 0; --b) value = value << 8 | static_cast<unsigned char>(bytes[offset + b]);
  return static_cast<int64_t>(value);
}

struct Damage {
  std::string name;
  bool refused;  // must be refused (else either way, but never undefined)
  std::function<void(std::string& file, const exr_chunk_info_t& chunk)> apply;
};

std::vector<Damage> Damages() {
  std::vector<Damage> damages = {
      {"its data cut to half", true,
       [](std::string& file, const exr_chunk_info_t& chunk) {
         const auto size = static_cast<int32_t>(chunk.packed_size / 2);
         std::memcpy(&file[chunk.data_offset - 4], &size, 4);
       }},
      {"shorter than its header", true,
       [](std::string& file, const exr_chunk_info_t& chunk) {
         const int32_t size = 40;
         std::memcpy(&file[chunk.data_offset - 4], &size, 4);
       }},
      {"its second half zeroed", false,
       [](std::string& file, const exr_chunk_info_t& chunk) {
         for (uint64_t i = chunk.packed_size / 2; i < chunk.packed_size; ++i) {
           file[chunk.data_offset + i] = 0;
         }
       }},
  };
  // Each of the eleven sizes its header declares: halved, zero, huge.
  for (int field = 0; field < 11; ++field) {
    for (const int how : {0, 1, 2}) {
      damages.push_back(
          {"header size " + std::to_string(field) + " changed " + std::to_string(how), false,
           [field, how](std::string& file, const exr_chunk_info_t& chunk) {
             const uint64_t at = chunk.data_offset + 8 * field;
             const int64_t value = Int64At(file, at);
             PatchInt64(file, at, how == 0 ? value / 2 : how == 1 ? 0 : INT64_C(1) << 40);
           }});
    }
  }
  // Single bytes changed through the chunk's blocks.
  for (int eighth = 1; eighth < 8; ++eighth) {
    damages.push_back({"a byte changed at " + std::to_string(eighth) + "/8", false,
                       [eighth](std::string& file, const exr_chunk_info_t& chunk) {
                         file[chunk.data_offset + chunk.packed_size * eighth / 8] ^= 0x5A;
                       }});
  }
  return damages;
}

TEST(ExrDwa, DamagedChunksAreRefusedOrDecodedFromTheFileAndZeroFilledMemoryOnly) {
  // Decoded on this thread, whose heap is the one poisoned.
  SetExrThreadCount(1);
  Imf::setGlobalThreadCount(0);
  for (const Imf::Compression compression : {Imf::DWAA_COMPRESSION, Imf::DWAB_COMPRESSION}) {
    SCOPED_TRACE(CompressionName(compression));
    ScratchDirectory dir;
    // 40 x 70 pixels: three chunks of 32 scanlines for DWAA, one of 256
    // for DWAB. Colour and alpha go through the lossy and run-length
    // blocks, the rest through the deflated one.
    ExrPartLayout layout = Part("", {{0, 0}, {39, 69}}, {{0, 0}, {39, 69}},
                                {{"R", Imf::HALF},
                                 {"G", Imf::HALF},
                                 {"B", Imf::HALF},
                                 {"A", Imf::HALF},
                                 {"Z", Imf::FLOAT},
                                 {"objectId", Imf::UINT},
                                 {"mask", Imf::HALF}});
    layout.compression = compression;
    const std::string clean = dir / "clean.exr";
    WriteExrFile(clean, {layout});
    const ExrDocument whole = ReadExrDocument(clean);
    EXPECT_EQ(std::get<std::vector<float>>(whole.parts[0].Find("Z")->samples)[41],
              static_cast<float>(SampleAt("Z", 4, 1, 1)))
        << "lossless channels come back as written";
    EXPECT_FALSE(HoldsPoison(whole));

    const std::string bytes = ReadText(clean);
    const int chunks = compression == Imf::DWAA_COMPRESSION ? 3 : 1;
    int refused = 0;
    int decoded = 0;
    for (int index = 0; index < chunks; ++index) {
      const exr_chunk_info_t chunk = ChunkInfo(clean, 0, index);
      ASSERT_GT(chunk.packed_size, 88u);
      for (const Damage& damage : Damages()) {
        SCOPED_TRACE("chunk " + std::to_string(index) + ", " + damage.name);
        std::string damaged = bytes;
        damage.apply(damaged, chunk);
        const std::string path = dir / "damaged.exr";
        WriteText(path, damaged);
        PoisonTheHeap();
        try {
          const ExrDocument document = ReadExrDocument(path);
          EXPECT_FALSE(damage.refused) << "read as if whole";
          EXPECT_FALSE(HoldsPoison(document)) << "samples from memory the file never filled";
          EXPECT_GT(NonZeroSamples(document), 0u);
          ++decoded;
        } catch (const Error& e) {
          const std::string message = e.what();
          EXPECT_EQ(e.Kind(), ErrorKind::Input);
          EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
          EXPECT_EQ(message.find('\n'), std::string::npos) << message;
          ++refused;
        }
      }
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(refused + decoded, 20);
  }
  SetExrThreadCount(0);
}

}  // namespace
}  // namespace kestrion
