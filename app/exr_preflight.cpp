#include "app/exr_preflight.h"

#include <openexr.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/errors.h"

namespace kestrion {

namespace {

// The core library's allocator and error handler take no data of their
// own; a check runs on one thread, so these are that thread's.
thread_local uint64_t largestBlock = 0;
thread_local std::string firstError;

// Headers and offset tables are parsed from the file, so no single block
// the core library needs can be larger than the file (plus its own
// bookkeeping): anything larger comes from a field that lies.
constexpr uint64_t BOOKKEEPING_BYTES = 1 << 20;

void* CappedAllocate(size_t bytes) {
  if (bytes > largestBlock) return nullptr;
  return std::malloc(bytes);
}

void Release(void* memory) { std::free(memory); }

void RecordError(exr_const_context_t, exr_result_t code, const char* message) {
  if (!firstError.empty()) return;
  firstError = message && *message ? message : exr_get_error_code_as_string(code);
}

// The context of one check; finished on every path.
class CoreFile {
 public:
  CoreFile(const std::string& path, uint64_t fileBytes) {
    largestBlock = fileBytes + BOOKKEEPING_BYTES;
    firstError.clear();
    exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
    init.alloc_fn = CappedAllocate;
    init.free_fn = Release;
    init.error_handler_fn = RecordError;
    // A damaged chunk is an error here, not something to search around.
    init.flags = EXR_CONTEXT_FLAG_DISABLE_CHUNK_RECONSTRUCTION;
    init.max_tile_width = static_cast<int>(EXR_TILE_SIDE_MAX);
    init.max_tile_height = static_cast<int>(EXR_TILE_SIDE_MAX);
    if (exr_start_read(&context, path.c_str(), &init) != EXR_ERR_SUCCESS) {
      context = nullptr;
      throw FileError(path, "not a readable OpenEXR file (" + Message() + ")");
    }
  }
  ~CoreFile() {
    if (context) exr_finish(&context);
  }
  CoreFile(const CoreFile&) = delete;
  CoreFile& operator=(const CoreFile&) = delete;

  exr_const_context_t Get() const { return context; }

  static std::string Message() {
    std::string message = firstError.empty() ? "unknown error" : firstError;
    std::replace(message.begin(), message.end(), '\n', ' ');
    return message;
  }

 private:
  exr_context_t context = nullptr;
};

uint64_t Side(int32_t min, int32_t max) {
  return static_cast<uint64_t>(static_cast<int64_t>(max) - min + 1);
}

std::string PartLabel(exr_const_context_t file, int part) {
  std::string label = "part " + std::to_string(part);
  const char* name = nullptr;
  if (exr_get_name(file, part, &name) == EXR_ERR_SUCCESS && name) {
    label += " \"" + std::string(name) + "\"";
  }
  return label;
}

std::string Damaged(const std::string& what) {
  return what + " missing or damaged (the file is truncated or corrupt)";
}

// A chunk's data must lie inside the file, hold something, be no larger
// than what it unpacks to, and be exactly that when uncompressed.
bool ChunkFits(const exr_chunk_info_t& chunk, bool compressed, uint64_t fileBytes) {
  if (chunk.packed_size == 0 || chunk.unpacked_size == 0) return false;
  if (chunk.data_offset > fileBytes || chunk.packed_size > fileBytes - chunk.data_offset) {
    return false;
  }
  return compressed ? chunk.packed_size <= chunk.unpacked_size
                    : chunk.packed_size == chunk.unpacked_size;
}

void CheckScanlineChunks(exr_const_context_t file, int part, const exr_attr_box2i_t& window,
                         bool compressed, uint64_t fileBytes, const std::string& path) {
  int32_t rows = 0;
  if (exr_get_scanlines_per_chunk(file, part, &rows) != EXR_ERR_SUCCESS || rows < 1) {
    throw FileError(path, "part " + std::to_string(part) + " has no scanline chunks (" +
                              CoreFile::Message() + ")");
  }
  for (int64_t y = window.min.y; y <= window.max.y; y += rows) {
    exr_chunk_info_t chunk{};
    const bool read =
        exr_read_scanline_chunk_info(file, part, static_cast<int>(y), &chunk) == EXR_ERR_SUCCESS;
    if (!read || !ChunkFits(chunk, compressed, fileBytes)) {
      const int64_t last = std::min<int64_t>(window.max.y, y + rows - 1);
      throw FileError(path, Damaged("scanlines " + std::to_string(y) + "-" + std::to_string(last) +
                                    " of " + PartLabel(file, part) + " are"));
    }
  }
}

void CheckTileChunks(exr_const_context_t file, int part, bool compressed, uint64_t fileBytes,
                     const std::string& path) {
  uint32_t tileWidth = 0, tileHeight = 0;
  exr_tile_level_mode_t mode{};
  exr_tile_round_mode_t round{};
  int32_t width = 0, height = 0;
  if (exr_get_tile_descriptor(file, part, &tileWidth, &tileHeight, &mode, &round) !=
          EXR_ERR_SUCCESS ||
      exr_get_level_sizes(file, part, 0, 0, &width, &height) != EXR_ERR_SUCCESS || tileWidth < 1 ||
      tileHeight < 1) {
    throw FileError(path, PartLabel(file, part) + " has no usable tile description (" +
                              CoreFile::Message() + ")");
  }
  const int64_t across = (static_cast<int64_t>(width) + tileWidth - 1) / tileWidth;
  const int64_t down = (static_cast<int64_t>(height) + tileHeight - 1) / tileHeight;
  for (int64_t ty = 0; ty < down; ++ty) {
    for (int64_t tx = 0; tx < across; ++tx) {
      exr_chunk_info_t chunk{};
      const bool read =
          exr_read_tile_chunk_info(file, part, static_cast<int>(tx), static_cast<int>(ty), 0, 0,
                                   &chunk) == EXR_ERR_SUCCESS;
      if (!read || !ChunkFits(chunk, compressed, fileBytes)) {
        throw FileError(path, Damaged("tile (" + std::to_string(tx) + ", " + std::to_string(ty) +
                                      ") of " + PartLabel(file, part) + " is"));
      }
    }
  }
}

size_t BytesPerSample(exr_pixel_type_t type) { return type == EXR_PIXEL_HALF ? 2 : 4; }

// The part's headers: what kestrion reads, and what it takes to hold.
void CheckPart(exr_const_context_t file, int part, const ResourceLimits& limits,
               const std::string& path, ExrShape& shape) {
  const std::string label = PartLabel(file, part);
  exr_storage_t storage{};
  if (exr_get_storage(file, part, &storage) != EXR_ERR_SUCCESS) {
    throw FileError(path, label + " has no readable type (" + CoreFile::Message() + ")");
  }
  if (storage == EXR_STORAGE_DEEP_SCANLINE || storage == EXR_STORAGE_DEEP_TILED) {
    throw FileError(path, label + " holds deep data, which kestrion does not read");
  }
  if (storage == EXR_STORAGE_TILED) {
    uint32_t tileWidth = 0, tileHeight = 0;
    exr_tile_level_mode_t mode{};
    exr_tile_round_mode_t round{};
    if (exr_get_tile_descriptor(file, part, &tileWidth, &tileHeight, &mode, &round) ==
            EXR_ERR_SUCCESS &&
        mode != EXR_TILE_ONE_LEVEL) {
      throw FileError(path, label +
                                " is tiled with mipmap or ripmap levels; kestrion reads "
                                "single-level tiled and scanline parts");
    }
  }
  exr_attr_box2i_t data{}, display{};
  if (exr_get_data_window(file, part, &data) != EXR_ERR_SUCCESS ||
      exr_get_display_window(file, part, &display) != EXR_ERR_SUCCESS) {
    throw FileError(path, label + " has no readable windows (" + CoreFile::Message() + ")");
  }
  CheckSides(static_cast<int64_t>(Side(display.min.x, display.max.x)),
             static_cast<int64_t>(Side(display.min.y, display.max.y)), limits, path,
             label + ": a display window");
  CheckSides(static_cast<int64_t>(Side(data.min.x, data.max.x)),
             static_cast<int64_t>(Side(data.min.y, data.max.y)), limits, path,
             label + ": a data window");
  const uint64_t pixels = Side(data.min.x, data.max.x) * Side(data.min.y, data.max.y);
  const exr_attr_chlist_t* channels = nullptr;
  if (exr_get_channels(file, part, &channels) != EXR_ERR_SUCCESS || !channels) {
    throw FileError(path, label + " has no readable channel list (" + CoreFile::Message() + ")");
  }
  for (int c = 0; c < channels->num_channels; ++c) {
    const exr_attr_chlist_entry_t& channel = channels->entries[c];
    const std::string name(channel.name.str, static_cast<size_t>(channel.name.length));
    if (channel.x_sampling != 1 || channel.y_sampling != 1) {
      throw FileError(path,
                      label + ": channel " + name + " is subsampled, which kestrion does not read");
    }
    if (channel.pixel_type != EXR_PIXEL_UINT && channel.pixel_type != EXR_PIXEL_HALF &&
        channel.pixel_type != EXR_PIXEL_FLOAT) {
      throw FileError(path, label + ": channel " + name + " has an unknown pixel type");
    }
    shape.sampleBytes += pixels * BytesPerSample(channel.pixel_type);
  }
  shape.channels += static_cast<uint64_t>(channels->num_channels);
  shape.largestPixels = std::max(shape.largestPixels, pixels);
}

}  // namespace

ExrShape PreflightExr(const std::string& path, const ResourceLimits& limits) {
  std::error_code error;
  const uint64_t fileBytes = std::filesystem::file_size(path, error);
  if (error) throw FileError(path, "cannot read it (" + error.message() + ")");
  CoreFile core(path, fileBytes);
  exr_const_context_t file = core.Get();
  int parts = 0;
  if (exr_get_count(file, &parts) != EXR_ERR_SUCCESS || parts < 1) {
    throw FileError(path, "holds no parts");
  }
  ExrShape shape;
  uint64_t chunks = 0;
  for (int part = 0; part < parts; ++part) {
    CheckPart(file, part, limits, path, shape);
    int32_t count = 0;
    if (exr_get_chunk_count(file, part, &count) != EXR_ERR_SUCCESS || count < 1) {
      throw FileError(path, PartLabel(file, part) + " has no chunks (" + CoreFile::Message() + ")");
    }
    chunks += static_cast<uint64_t>(count);
  }
  // Every chunk has an 8-byte offset in the tables before the data.
  if (chunks > fileBytes / 8) {
    throw FileError(path, "its offset tables list " + std::to_string(chunks) +
                              " chunks, more than the file can hold (the file is truncated or "
                              "corrupt)");
  }
  for (int part = 0; part < parts; ++part) {
    exr_storage_t storage{};
    exr_compression_t compression{};
    exr_attr_box2i_t window{};
    exr_get_storage(file, part, &storage);
    exr_get_compression(file, part, &compression);
    exr_get_data_window(file, part, &window);
    const bool compressed = compression != EXR_COMPRESSION_NONE;
    if (storage == EXR_STORAGE_TILED) {
      CheckTileChunks(file, part, compressed, fileBytes, path);
    } else {
      CheckScanlineChunks(file, part, window, compressed, fileBytes, path);
    }
  }
  return shape;
}

}  // namespace kestrion
