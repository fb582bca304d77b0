#include "formats/exr_document.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfStandardAttributes.h>
#include <ImfThreading.h>
#include <ImfTiledInputPart.h>
#include <ImfTiledOutputPart.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <filesystem>
#include <limits>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>

#include "base/abort_check.h"
#include "base/allocation_record.h"
#include "base/errors.h"
#include "formats/exr_decode.h"
#include "formats/exr_encode.h"
#include "formats/exr_output_stream.h"
#include "formats/exr_preflight.h"

namespace kestrion {

namespace {

std::atomic<bool> threadCountChosen{false};
std::atomic<unsigned> threadCount{0};

unsigned HardwareThreads() { return std::max(1u, std::thread::hardware_concurrency()); }

// OpenEXR's global pool, sized once: by SetExrThreadCount, else one thread
// per hardware thread.
int PoolThreads() {
  if (!threadCountChosen.exchange(true)) {
    threadCount = HardwareThreads();
    Imf::setGlobalThreadCount(static_cast<int>(threadCount.load()));
  }
  return Imf::globalThreadCount();
}

int64_t Side(int min, int max) { return static_cast<int64_t>(max) - min + 1; }

size_t BytesPerSample(Imf::PixelType type) { return type == Imf::HALF ? 2 : 4; }

bool IsTiled(const Imf::Header& header) {
  if (header.hasType()) return Imf::isTiled(header.type());
  return header.hasTileDescription();
}

void* SampleData(ExrChannel::Samples& samples) {
  return std::visit([](auto& values) -> void* { return values.data(); }, samples);
}

ExrChannel::Samples MakeSamples(Imf::PixelType type, size_t count, const AbortCheck& abort) {
  ExrChannel::Samples samples;
  if (type == Imf::UINT) {
    samples = std::vector<uint32_t>();
  } else if (type == Imf::HALF) {
    samples = std::vector<half>();
  } else {
    samples = std::vector<float>();
  }
  std::visit([&](auto& values) { ResizeInterruptibly(values, count, abort); }, samples);
  return samples;
}

// A part's channels, zero-filled, in the header's order.
ExrPart EmptyPart(const Imf::Header& header, const AbortCheck& abort) {
  ExrPart part{header, {}};
  const size_t count = static_cast<size_t>(part.Width()) * static_cast<size_t>(part.Height());
  const Imf::ChannelList& channels = part.header.channels();
  for (auto it = channels.begin(); it != channels.end(); ++it) {
    part.channels.push_back({it.name(), MakeSamples(it.channel().type, count, abort)});
  }
  return part;
}

// This OpenEXR's core library does not decompress DWAA and DWAB (3.1
// says "not yet implemented in C"); their parts are decoded by the C++
// reader (ReadPartThroughCxx), whose DWA decoder checks its block sizes
// itself.
bool CoreDecodes(const Imf::Header& header) {
  return header.compression() != Imf::DWAA_COMPRESSION &&
         header.compression() != Imf::DWAB_COMPRESSION;
}

// Rows read or written between two questions to the abort check: a
// multiple of every compression's block height, so no block is decoded
// twice.
constexpr int READ_BLOCK_ROWS = 64;
// Pixels of a part written between two questions: a tenth of a second or
// so of compression.
constexpr int64_t WRITE_STEP_PIXELS = int64_t{1} << 21;

// Calls `step(x0, x1, y)` for runs of tiles of one row, each about as many
// pixels as READ_BLOCK_ROWS rows of the part, asking the abort check before
// each; the tile rows top down, or bottom up as a file whose line
// order is decreasing stores them.
template <typename Step>
void ForEachTileRun(int tilesX, int tilesY, const Imf::TileDescription& tile, int32_t width,
                    bool bottomUp, const AbortCheck& abort, Step step) {
  const uint64_t tilePixels = static_cast<uint64_t>(tile.xSize) * tile.ySize;
  const uint64_t budget = static_cast<uint64_t>(READ_BLOCK_ROWS) * static_cast<uint64_t>(width);
  const int run = static_cast<int>(std::clamp<uint64_t>(budget / std::max<uint64_t>(tilePixels, 1),
                                                        1, static_cast<uint64_t>(tilesX)));
  for (int row = 0; row < tilesY; ++row) {
    const int y = bottomUp ? tilesY - 1 - row : row;
    for (int x = 0; x < tilesX; x += run) {
      abort.ThrowIfRequested();
      step(x, std::min(tilesX, x + run) - 1, y);
    }
  }
}

// The part's channels, zero-filled, with the samples the file holds for
// them decoded by OpenEXR's C++ reader. The reader decodes a chunk into
// buffers of its own and copies them into the part's: while it works, every
// buffer it allocates starts zero-filled, so that what a damaged chunk
// leaves undecoded is zero, never memory the process used before.
ExrPart ReadPartThroughCxx(Imf::MultiPartInputFile& file, int index, const AbortCheck& abort) {
  ExrPart part = EmptyPart(file.header(index), abort);
  const ZeroFilledAllocations zeroFilled;
  const Imath::Box2i& window = part.DataWindow();
  Imf::FrameBuffer frame;
  for (ExrChannel& channel : part.channels) {
    frame.insert(channel.name,
                 Imf::Slice::Make(channel.Type(), SampleData(channel.samples), window));
  }
  if (IsTiled(part.header)) {
    Imf::TiledInputPart input(file, index);
    input.setFrameBuffer(frame);
    // A run of tiles, or a block of scanlines, at a time: a signal ends a
    // long read between them instead of after the whole file.
    ForEachTileRun(input.numXTiles(), input.numYTiles(), part.header.tileDescription(),
                   part.Width(), false, abort,
                   [&input](int x0, int x1, int y) { input.readTiles(x0, x1, y, y); });
  } else {
    Imf::InputPart input(file, index);
    input.setFrameBuffer(frame);
    for (int y = window.min.y; y <= window.max.y; y += READ_BLOCK_ROWS) {
      abort.ThrowIfRequested();
      input.readPixels(y, std::min(window.max.y, y + READ_BLOCK_ROWS - 1));
    }
  }
  return part;
}

// The part's channels, zero-filled, with the samples the file holds for
// them decoded by the core library.
ExrPart ReadPart(Imf::MultiPartInputFile& file, CoreExrFile& core, int index,
                 const AbortCheck& abort) {
  if (!CoreDecodes(file.header(index))) return ReadPartThroughCxx(file, index, abort);
  ExrPart part = EmptyPart(file.header(index), abort);
  std::vector<DecodeTarget> targets;
  for (ExrChannel& channel : part.channels) {
    targets.push_back({channel.name, SampleData(channel.samples),
                       static_cast<int32_t>(BytesPerSample(channel.Type()))});
  }
  DecodeExrPart(core, index, targets, static_cast<unsigned>(PoolThreads()), abort);
  return part;
}

void WritePart(Imf::MultiPartOutputFile& file, int index, const ExrPart& part,
               const AbortCheck& abort) {
  Imf::FrameBuffer frame;
  for (const ExrChannel& channel : part.channels) {
    frame.insert(channel.name,
                 Imf::Slice::Make(channel.Type(), channel.Bytes(), part.DataWindow()));
  }
  // In steps as the reading goes, so that a signal ends a long write too.
  if (IsTiled(part.header)) {
    Imf::TiledOutputPart output(file, index);
    output.setFrameBuffer(frame);
    ForEachTileRun(output.numXTiles(), output.numYTiles(), part.header.tileDescription(),
                   part.Width(), part.header.lineOrder() == Imf::DECREASING_Y, abort,
                   [&output](int x0, int x1, int y) { output.writeTiles(x0, x1, y, y); });
  } else {
    Imf::OutputPart output(file, index);
    output.setFrameBuffer(frame);
    // OpenEXR compresses the blocks of one call on its threads while it
    // writes the finished ones, and waits for the last at the call's end:
    // short calls leave its threads idle at every end. So the steps are
    // about WRITE_STEP_PIXELS, a whole 1920 x 1080 part in one call.
    const int32_t step = static_cast<int32_t>(std::clamp<int64_t>(
        WRITE_STEP_PIXELS / std::max<int64_t>(part.Width(), 1) / READ_BLOCK_ROWS * READ_BLOCK_ROWS,
        READ_BLOCK_ROWS, std::max(part.Height(), READ_BLOCK_ROWS)));
    for (int32_t rows = 0; rows < part.Height(); rows += step) {
      abort.ThrowIfRequested();
      output.writePixels(std::min(step, part.Height() - rows));
    }
  }
}

}  // namespace

size_t ExrChannel::Size() const {
  return std::visit([](const auto& values) { return values.size(); }, samples);
}

float ExrChannel::Value(size_t i) const {
  return std::visit([i](const auto& values) { return static_cast<float>(values[i]); }, samples);
}

double ExrChannel::ExactValue(size_t i) const {
  return std::visit(
      [i](const auto& values) {
        using T = typename std::decay_t<decltype(values)>::value_type;
        if constexpr (std::is_same_v<T, half>) {
          return static_cast<double>(static_cast<float>(values[i]));
        } else {
          return static_cast<double>(values[i]);
        }
      },
      samples);
}

void ExrChannel::SetValue(size_t i, float value) {
  std::visit(
      [i, value](auto& values) {
        using T = typename std::decay_t<decltype(values)>::value_type;
        values[i] = SampleFromFloat<T>(value);
      },
      samples);
}

const char* ExrChannel::Bytes() const {
  return std::visit([](const auto& values) { return reinterpret_cast<const char*>(values.data()); },
                    samples);
}

size_t ExrChannel::ByteSize() const { return Size() * BytesPerSample(Type()); }

int32_t ExrPart::Width() const {
  return static_cast<int32_t>(Side(DataWindow().min.x, DataWindow().max.x));
}

int32_t ExrPart::Height() const {
  return static_cast<int32_t>(Side(DataWindow().min.y, DataWindow().max.y));
}

std::string ExrPart::Name() const { return header.hasName() ? header.name() : std::string(); }

bool ExrPart::Tiled() const { return IsTiled(header); }

const ExrChannel* ExrPart::Find(const std::string& name) const {
  for (const ExrChannel& channel : channels) {
    if (channel.name == name) return &channel;
  }
  return nullptr;
}

ExrChannel* ExrPart::Find(const std::string& name) {
  return const_cast<ExrChannel*>(std::as_const(*this).Find(name));
}

std::optional<size_t> ExrPart::IndexOf(int x, int y) const {
  const Imath::Box2i& window = DataWindow();
  if (x < window.min.x || x > window.max.x || y < window.min.y || y > window.max.y) {
    return std::nullopt;
  }
  return static_cast<size_t>(y - window.min.y) * static_cast<size_t>(Width()) +
         static_cast<size_t>(x - window.min.x);
}

void SetExrThreadCount(unsigned count) {
  threadCountChosen = true;
  threadCount = count == 0 ? HardwareThreads() : count;
  Imf::setGlobalThreadCount(static_cast<int>(threadCount.load()));
}

unsigned ExrThreadCount() {
  PoolThreads();
  return threadCount;
}

ExrDocument ReadExrDocument(const std::string& path, const ResourceLimits& limits,
                            const AbortCheck& abort) {
  std::error_code error;
  const uint64_t fileBytes = std::filesystem::file_size(path, error);
  if (error) throw FileError(path, "cannot read it (" + error.message() + ")");
  CoreExrFile core(path, fileBytes);
  const ExrShape shape = PreflightExr(core, limits);
  CheckNeed(shape.sampleBytes, limits, path, "reading it");
  // OpenEXR itself refuses headers that declare larger images or tiles, as
  // a second line of defence behind the checks above.
  Imf::Header::setMaxImageSize(static_cast<int>(limits.maxSide), static_cast<int>(limits.maxSide));
  Imf::Header::setMaxTileSize(EXR_TILE_SIDE_MAX, EXR_TILE_SIDE_MAX);
  try {
    // The headers, whole, as OpenEXR's C++ library holds them for writing
    // back; the pixels from the core library.
    Imf::MultiPartInputFile file(path.c_str(), PoolThreads());
    ExrDocument document{path, {}};
    for (int i = 0; i < file.parts(); ++i) {
      document.parts.push_back(ReadPart(file, core, i, abort));
    }
    return document;
  } catch (const std::bad_alloc&) {
    throw FileError(path, "not enough memory to read it");
  } catch (const Error&) {
    throw;
  } catch (const std::exception& e) {
    throw FileError(path, OneLine(e.what()));
  }
}

void WriteExrDocument(const ExrDocument& document, const std::string& path,
                      std::optional<Imf::Compression> compression, const AbortCheck& abort) {
  WithExrWriteErrors(path, [&] {
    std::vector<Imf::Header> headers;
    for (const ExrPart& part : document.parts) {
      headers.push_back(part.header);
      if (compression) headers.back().compression() = *compression;
    }
    if (CoreEncodes(headers)) {
      std::vector<EncodePart> parts;
      for (size_t i = 0; i < headers.size(); ++i) {
        parts.push_back({headers[i], {}});
        for (const ExrChannel& channel : document.parts[i].channels) {
          parts.back().sources.push_back({channel.name, channel.Bytes(),
                                          static_cast<int32_t>(BytesPerSample(channel.Type()))});
        }
      }
      EncodeExrFile(path, parts, static_cast<unsigned>(PoolThreads()), abort);
      return;
    }
    ExrOutputStream output(path);
    {
      Imf::MultiPartOutputFile file(output.Stream(), headers.data(),
                                    static_cast<int>(headers.size()), false, PoolThreads());
      for (size_t i = 0; i < document.parts.size(); ++i) {
        WritePart(file, static_cast<int>(i), document.parts[i], abort);
      }
    }
    output.Close();
  });
}

const char* PixelTypeName(Imf::PixelType type) {
  switch (type) {
    case Imf::UINT:
      return "uint";
    case Imf::HALF:
      return "half";
    case Imf::FLOAT:
      return "float";
    default:
      return "unknown";
  }
}

std::string CompressionName(Imf::Compression compression) {
  switch (compression) {
    case Imf::NO_COMPRESSION:
      return "none";
    case Imf::RLE_COMPRESSION:
      return "rle";
    case Imf::ZIPS_COMPRESSION:
      return "zips";
    case Imf::ZIP_COMPRESSION:
      return "zip";
    case Imf::PIZ_COMPRESSION:
      return "piz";
    case Imf::PXR24_COMPRESSION:
      return "pxr24";
    case Imf::B44_COMPRESSION:
      return "b44";
    case Imf::B44A_COMPRESSION:
      return "b44a";
    case Imf::DWAA_COMPRESSION:
      return "dwaa";
    case Imf::DWAB_COMPRESSION:
      return "dwab";
    default:
      return "compression " + std::to_string(static_cast<int>(compression));
  }
}

std::string WindowText(const Imath::Box2i& window) {
  return std::to_string(Side(window.min.x, window.max.x)) + " x " +
         std::to_string(Side(window.min.y, window.max.y)) + " at (" + std::to_string(window.min.x) +
         ", " + std::to_string(window.min.y) + ")";
}

}  // namespace kestrion
