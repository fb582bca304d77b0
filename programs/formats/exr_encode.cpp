// exr_encode.cpp: OpenEXR files whose parts are all ZIP or ZIPS, written by
// the core library: chunks coded side by side on the lanes, written in order.
#include "formats/exr_encode.h"

#include <ImfChannelList.h>
#include <ImfHeader.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfPartType.h>
#include <openexr.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>

#include "base/concurrent_lanes.h"
#include "base/errors.h"
#include "formats/exr_core.h"
#include "formats/exr_header_source.h"
#include "formats/exr_zip.h"

namespace kestrion {

namespace {

// The file the core writer writes to, by offset, with every failure kept.
struct FileSink {
  std::ofstream file;
  uint64_t position = 0;
  bool failed = false;
};

int64_t WriteToSink(exr_const_context_t, void* user, const void* buffer, uint64_t size,
                    uint64_t offset, exr_stream_error_func_ptr_t) {
  FileSink& sink = *static_cast<FileSink*>(user);
  if (offset != sink.position) {
    sink.file.seekp(static_cast<std::streamoff>(offset));
    sink.position = offset;
  }
  sink.file.write(static_cast<const char*>(buffer), static_cast<std::streamsize>(size));
  if (!sink.file) {
    sink.failed = true;
    return -1;
  }
  sink.position += size;
  return static_cast<int64_t>(size);
}

// One chunk of the file, in the order the chunks are written.
struct ChunkJob {
  int part = 0;
  int32_t x = 0;  // tile column, or 0
  int32_t y = 0;  // tile row, or the chunk's first scanline
};

struct PartLayout {
  bool tiled = false;
  exr_attr_box2i_t window{};
  int32_t chunkRows = 1;     // scanlines a chunk, or the tile height
  int32_t chunkColumns = 1;  // the tile width, or the window's
  exr_compression_t compression = EXR_COMPRESSION_ZIP;
  int32_t bytesPerPixel = 0;  // all channels' samples of a pixel
};

// The chunks of every part, part after part, each part's from the top
// down (the core writer takes them in that order whatever the line order).
std::vector<ChunkJob> ChunkOrder(const std::vector<PartLayout>& layouts) {
  std::vector<ChunkJob> jobs;
  for (size_t p = 0; p < layouts.size(); ++p) {
    const auto part = static_cast<int>(p);
    const PartLayout& layout = layouts[p];
    const int64_t height = static_cast<int64_t>(layout.window.max.y) - layout.window.min.y + 1;
    const auto rows = static_cast<int32_t>((height + layout.chunkRows - 1) / layout.chunkRows);
    const int64_t width = static_cast<int64_t>(layout.window.max.x) - layout.window.min.x + 1;
    const auto across =
        static_cast<int32_t>((width + layout.chunkColumns - 1) / layout.chunkColumns);
    for (int32_t row = 0; row < rows; ++row) {
      for (int32_t column = 0; column < across; ++column) {
        if (layout.tiled) {
          jobs.push_back({part, column, row});
        } else {
          jobs.push_back({part, 0, layout.window.min.y + row * layout.chunkRows});
        }
      }
    }
  }
  return jobs;
}

std::string ChunkName(exr_const_context_t file, const PartLayout& layout, const ChunkJob& job) {
  const std::string part = PartLabel(file, job.part);
  if (layout.tiled) {
    return "tile (" + std::to_string(job.x) + ", " + std::to_string(job.y) + ") of " + part;
  }
  const int64_t last =
      std::min<int64_t>(layout.window.max.y, int64_t{job.y} + layout.chunkRows - 1);
  return "scanlines " + std::to_string(job.y) + "-" + std::to_string(last) + " of " + part;
}

// What the encode pipeline needs to know of a chunk. The library's own
// exr_write_*_chunk_info() takes only the chunk that is written next, so
// chunks coded ahead of the writing describe themselves.
exr_chunk_info_t ChunkInfo(const ChunkJob& job, const PartLayout& layout) {
  exr_chunk_info_t info{};
  const exr_attr_box2i_t& window = layout.window;
  const int64_t width = static_cast<int64_t>(window.max.x) - window.min.x + 1;
  const auto across = static_cast<int32_t>((width + layout.chunkColumns - 1) / layout.chunkColumns);
  const int32_t row = layout.tiled ? job.y : (job.y - window.min.y) / layout.chunkRows;
  const int32_t x = window.min.x + job.x * layout.chunkColumns;
  const int32_t y = window.min.y + row * layout.chunkRows;
  info.idx = row * across + job.x;
  // A tile's place is its column and row of tiles, a scanline chunk's its
  // first pixel.
  info.start_x = layout.tiled ? job.x : x;
  info.start_y = layout.tiled ? job.y : y;
  info.width = std::min(layout.chunkColumns, window.max.x - x + 1);
  info.height = std::min(layout.chunkRows, window.max.y - y + 1);
  info.type = static_cast<uint8_t>(layout.tiled ? EXR_STORAGE_TILED : EXR_STORAGE_SCANLINE);
  info.compression = static_cast<uint8_t>(layout.compression);
  info.unpacked_size = static_cast<uint64_t>(info.width) * static_cast<uint64_t>(info.height) *
                       static_cast<uint64_t>(layout.bytesPerPixel);
  return info;
}

// A thread's encoder: one pipeline for the part it is on, and its codec.
class Encoder {
 public:
  explicit Encoder(exr_context_t file) : file(file) {}
  ~Encoder() { Reset(); }
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // Packs and compresses the chunk; its bytes are then Packed(). Returns
  // the library's result.
  exr_result_t Code(const ChunkJob& job, const PartLayout& layout, const EncodePart& source) {
    const exr_chunk_info_t info = ChunkInfo(job, layout);
    exr_result_t result = EXR_ERR_SUCCESS;
    if (started && part != job.part) Reset();
    result = started ? exr_encoding_update(file, job.part, &info, &pipeline)
                     : exr_encoding_initialize(file, job.part, &info, &pipeline);
    if (result != EXR_ERR_SUCCESS) return result;
    started = true;
    part = job.part;
    UsePlainAllocator(pipeline);
    pipeline.encoding_user_data = &codec;
    const int64_t width = static_cast<int64_t>(layout.window.max.x) - layout.window.min.x + 1;
    const int64_t column = int64_t{job.x} * layout.chunkColumns;
    const int64_t row = layout.tiled ? int64_t{job.y} * layout.chunkRows
                                     : static_cast<int64_t>(job.y) - layout.window.min.y;
    for (int16_t c = 0; c < pipeline.channel_count; ++c) {
      exr_coding_channel_info_t& channel = pipeline.channels[c];
      const auto found = std::find_if(
          source.sources.begin(), source.sources.end(),
          [&channel](const EncodeSource& s) { return s.name == channel.channel_name; });
      if (found == source.sources.end() || found->bytesPerSample != channel.bytes_per_element) {
        return EXR_ERR_INVALID_ARGUMENT;
      }
      const auto bytes = static_cast<size_t>(found->bytesPerSample);
      const size_t offset =
          (static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(column)) *
          bytes;
      channel.encode_from_ptr = static_cast<const uint8_t*>(found->data) + offset;
      channel.user_pixel_stride = static_cast<int32_t>(bytes);
      channel.user_line_stride = static_cast<int32_t>(static_cast<size_t>(width) * bytes);
      channel.user_bytes_per_element = channel.bytes_per_element;
      channel.user_data_type = channel.data_type;
    }
    result = exr_encoding_choose_default_routines(file, job.part, &pipeline);
    if (result != EXR_ERR_SUCCESS) return result;
    pipeline.compress_fn = CompressZipChunk;
    // The chunk is written later, in the file's order, from Packed() (the
    // library would write it at once, and ask to wait for its turn first).
    pipeline.write_fn = [](exr_encode_pipeline_t*) -> exr_result_t { return EXR_ERR_SUCCESS; };
    pipeline.yield_until_ready_fn = [](exr_encode_pipeline_t*) -> exr_result_t {
      return EXR_ERR_SUCCESS;
    };
    return exr_encoding_run(file, job.part, &pipeline);
  }

  const uint8_t* Packed() const { return static_cast<const uint8_t*>(pipeline.compressed_buffer); }
  size_t PackedBytes() const { return pipeline.compressed_bytes; }

 private:
  void Reset() {
    if (started) exr_encoding_destroy(file, &pipeline);
    pipeline = {};
    started = false;
  }

  exr_context_t file;
  exr_encode_pipeline_t pipeline{};
  bool started = false;
  int part = -1;
  ZipCodec codec;
};

// Coded chunks waiting for their turn to be written: a ring of slots, one
// for each chunk taken but not yet written.
class ChunkRing {
 public:
  ChunkRing(exr_context_t file, const std::vector<ChunkJob>& jobs,
            const std::vector<PartLayout>& layouts, size_t slots)
      : file(file), jobs(jobs), layouts(layouts), slots(slots) {}

  // The next chunk to code, once the ring has room for it; false when none
  // is left or the write has failed.
  bool Take(size_t& index, const AbortCheck& check) {
    std::unique_lock<std::mutex> lock(mutex);
    while (!failed && taken < jobs.size() && taken >= written + slots.size()) {
      lock.unlock();
      check.ThrowIfRequested();
      lock.lock();
      changed.wait_for(lock, std::chrono::milliseconds(20));
    }
    if (failed || taken >= jobs.size()) return false;
    index = taken++;
    return true;
  }

  // Keeps chunk `index`'s bytes and writes every chunk whose turn has come.
  // Throws when a write fails.
  void Put(size_t index, const uint8_t* bytes, size_t size) {
    Slot& slot = slots[index % slots.size()];
    slot.bytes.assign(bytes, bytes + size);
    std::lock_guard<std::mutex> lock(mutex);
    slot.ready = true;
    while (!failed && written < jobs.size() && slots[written % slots.size()].ready) {
      Slot& next = slots[written % slots.size()];
      const ChunkJob& job = jobs[written];
      const exr_result_t result =
          layouts[static_cast<size_t>(job.part)].tiled
              ? exr_write_tile_chunk(file, job.part, job.x, job.y, 0, 0, next.bytes.data(),
                                     next.bytes.size())
              : exr_write_scanline_chunk(file, job.part, job.y, next.bytes.data(),
                                         next.bytes.size());
      if (result != EXR_ERR_SUCCESS) {
        failed = true;
        changed.notify_all();
        throw std::runtime_error(ChunkName(file, layouts[static_cast<size_t>(job.part)], job) +
                                 " not written (" + CoreMessage(result) + ")");
      }
      next.ready = false;
      ++written;
    }
    changed.notify_all();
  }

  // After a lane failed: the others stop taking chunks.
  void Fail() {
    std::lock_guard<std::mutex> lock(mutex);
    failed = true;
    changed.notify_all();
  }

  bool Complete() const { return written == jobs.size(); }

 private:
  struct Slot {
    std::vector<uint8_t> bytes;
    bool ready = false;
  };

  exr_context_t file;
  const std::vector<ChunkJob>& jobs;
  const std::vector<PartLayout>& layouts;
  std::vector<Slot> slots;
  std::mutex mutex;
  std::condition_variable changed;
  size_t taken = 0;
  size_t written = 0;
  bool failed = false;
};

PartLayout LayoutOf(exr_context_t file, int part) {
  PartLayout layout;
  exr_storage_t storage{};
  exr_get_storage(file, part, &storage);
  exr_get_data_window(file, part, &layout.window);
  layout.tiled = storage == EXR_STORAGE_TILED;
  exr_get_compression(file, part, &layout.compression);
  const exr_attr_chlist_t* channels = nullptr;
  if (exr_get_channels(file, part, &channels) == EXR_ERR_SUCCESS && channels) {
    for (int c = 0; c < channels->num_channels; ++c) {
      layout.bytesPerPixel += channels->entries[c].pixel_type == EXR_PIXEL_HALF ? 2 : 4;
    }
  }
  if (layout.tiled) {
    uint32_t tileWidth = 0, tileHeight = 0;
    exr_tile_level_mode_t mode{};
    exr_tile_round_mode_t round{};
    exr_get_tile_descriptor(file, part, &tileWidth, &tileHeight, &mode, &round);
    layout.chunkRows = static_cast<int32_t>(std::max<uint32_t>(tileHeight, 1));
    layout.chunkColumns = static_cast<int32_t>(std::max<uint32_t>(tileWidth, 1));
  } else {
    layout.chunkColumns = std::max(layout.window.max.x - layout.window.min.x + 1, 1);
    exr_get_scanlines_per_chunk(file, part, &layout.chunkRows);
    layout.chunkRows = std::max(layout.chunkRows, 1);
  }
  return layout;
}

// Whether a header has an attribute, attribute type or channel name longer
// than the 31 characters a file without the long-names flag allows.
bool UsesLongNames(const Imf::Header& header) {
  constexpr size_t SHORT_NAME = 31;
  for (auto it = header.begin(); it != header.end(); ++it) {
    if (std::strlen(it.name()) > SHORT_NAME ||
        std::strlen(it.attribute().typeName()) > SHORT_NAME) {
      return true;
    }
  }
  for (auto it = header.channels().begin(); it != header.channels().end(); ++it) {
    if (std::strlen(it.name()) > SHORT_NAME) return true;
  }
  return false;
}

// The core writer of `path`, whose parts carry the headers' attributes.
class CoreWriter {
 public:
  CoreWriter(const std::string& path, const std::vector<Imf::Header>& headers) {
    sink.file.open(path, std::ios::binary | std::ios::trunc);
    if (!sink.file) throw std::runtime_error("cannot open it");
    const HeaderSource source(headers);
    exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
    init.user_data = &sink;
    init.write_fn = WriteToSink;
    init.error_handler_fn = RecordCoreError;
    ClearCoreError();
    if (exr_start_write(&context, path.c_str(), EXR_WRITE_FILE_DIRECTLY, &init) !=
        EXR_ERR_SUCCESS) {
      context = nullptr;
      throw std::runtime_error(CoreExrFile::LastMessage());
    }
    // Names of more than 31 characters (a renderer's statistics, passes of
    // long view layer names) need the file's long-names flag, which
    // OpenEXR's own writer sets only where a header needs it.
    const bool longNames = std::any_of(headers.begin(), headers.end(), UsesLongNames);
    if (longNames && exr_set_longname_support(context, 1) != EXR_ERR_SUCCESS) {
      throw std::runtime_error("long names not taken (" + CoreExrFile::LastMessage() + ")");
    }
    for (size_t i = 0; i < headers.size(); ++i) {
      const auto from = static_cast<int>(i);
      exr_storage_t storage{};
      exr_get_storage(source.Get(), from, &storage);
      int index = 0;
      const char* name = headers[i].hasName() ? headers[i].name().c_str() : nullptr;
      if (exr_add_part(context, name, storage, &index) != EXR_ERR_SUCCESS ||
          exr_copy_unset_attributes(context, index, source.Get(), from) != EXR_ERR_SUCCESS) {
        throw std::runtime_error("header of part " + std::to_string(i) + " not taken (" +
                                 CoreExrFile::LastMessage() + ")");
      }
    }
    if (exr_write_header(context) != EXR_ERR_SUCCESS) {
      throw std::runtime_error("headers not written (" + CoreExrFile::LastMessage() + ")");
    }
  }
  ~CoreWriter() {
    if (context) exr_finish(&context);
  }
  CoreWriter(const CoreWriter&) = delete;
  CoreWriter& operator=(const CoreWriter&) = delete;

  exr_context_t Get() const { return context; }

  // Writes the offset tables and closes the file.
  void Finish() {
    const exr_result_t finished = exr_finish(&context);
    context = nullptr;
    sink.file.close();
    if (finished != EXR_ERR_SUCCESS || sink.failed || sink.file.fail()) {
      throw std::runtime_error("a write failed");
    }
  }

 private:
  FileSink sink;
  exr_context_t context = nullptr;
};

}  // namespace

bool CoreEncodes(const std::vector<Imf::Header>& headers) {
  for (const Imf::Header& header : headers) {
    if (header.compression() != Imf::ZIP_COMPRESSION &&
        header.compression() != Imf::ZIPS_COMPRESSION) {
      return false;
    }
    const bool tiled = header.hasType() ? Imf::isTiled(header.type()) : header.hasTileDescription();
    if (header.hasType() && Imf::isDeepData(header.type())) return false;
    if (tiled && header.tileDescription().mode != Imf::ONE_LEVEL) return false;
    // This core writer stores a decreasing part's chunks where its reader
    // does not find them: such parts stay with the C++ writer.
    if (header.lineOrder() == Imf::DECREASING_Y) return false;
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it) {
      if (it.channel().xSampling != 1 || it.channel().ySampling != 1) return false;
    }
  }
  return !headers.empty();
}

void WithExrWriteErrors(const std::string& path, const std::function<void()>& write) {
  try {
    write();
  } catch (const std::bad_alloc&) {
    throw FileError(path, "not enough memory to write it");
  } catch (const Error&) {
    throw;
  } catch (const std::exception& e) {
    throw FileError(path, "cannot write OpenEXR (" + OneLine(e.what()) + ")");
  }
}

void EncodeExrFile(const std::string& path, const std::vector<EncodePart>& parts, unsigned threads,
                   const AbortCheck& abort) {
  std::vector<Imf::Header> headers;
  for (const EncodePart& part : parts) {
    headers.push_back(part.header);
    // The C++ writer serialises a header only with its part's type.
    Imf::Header& header = headers.back();
    if (!header.hasType()) {
      header.setType(header.hasTileDescription() ? Imf::TILEDIMAGE : Imf::SCANLINEIMAGE);
    }
  }
  WithExrWriteErrors(path, [&] {
    CoreWriter writer(path, headers);
    std::vector<PartLayout> layouts;
    for (size_t i = 0; i < parts.size(); ++i) {
      layouts.push_back(LayoutOf(writer.Get(), static_cast<int>(i)));
    }
    const std::vector<ChunkJob> jobs = ChunkOrder(layouts);
    const size_t lanes = std::clamp<size_t>(jobs.size(), 1, std::max(1u, threads));
    // Two slots a lane: a lane can code its next chunk while the one before
    // waits for a slower chunk ahead of it.
    ChunkRing ring(writer.Get(), jobs, layouts, 2 * lanes);
    RunLanes(lanes, abort, [&](size_t, const AbortCheck& check) {
      Encoder encoder(writer.Get());
      try {
        size_t index = 0;
        while (ring.Take(index, check)) {
          check.ThrowIfRequested();
          const ChunkJob& job = jobs[index];
          const PartLayout& layout = layouts[static_cast<size_t>(job.part)];
          ClearCoreError();
          const exr_result_t result =
              encoder.Code(job, layout, parts[static_cast<size_t>(job.part)]);
          if (result != EXR_ERR_SUCCESS) {
            throw std::runtime_error(ChunkName(writer.Get(), layout, job) + " not coded (" +
                                     CoreMessage(result) + ")");
          }
          ring.Put(index, encoder.Packed(), encoder.PackedBytes());
        }
      } catch (...) {
        ring.Fail();
        throw;
      }
    });
    abort.ThrowIfRequested();
    if (!ring.Complete()) throw std::runtime_error("not every chunk was written");
    writer.Finish();
  });
}

}  // namespace kestrion
