#include "formats/exr_core.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "base/errors.h"

namespace kestrion {

namespace {

// The core library's allocator and error handler take no data of their
// own. kestrion opens one file at a time, so the largest block is the open
// file's; the first error is kept by the thread that met it.
std::atomic<uint64_t> largestBlock{0};
thread_local std::string firstError;

// What the library needs for itself beyond the file's bytes.
constexpr uint64_t BOOKKEEPING_BYTES = 1 << 20;

void* CappedAllocate(size_t bytes) {
  if (bytes > largestBlock.load(std::memory_order_relaxed)) return nullptr;
  return std::malloc(bytes);
}

void Release(void* memory) { std::free(memory); }

}  // namespace

void RecordCoreError(exr_const_context_t, exr_result_t code, const char* message) {
  if (!firstError.empty()) return;
  firstError = message && *message ? message : exr_get_error_code_as_string(code);
}

void ClearCoreError() { firstError.clear(); }

std::string CoreMessage(exr_result_t code) {
  return OneLine(firstError.empty() ? exr_get_error_code_as_string(code) : firstError);
}

CoreExrFile::CoreExrFile(const std::string& path, uint64_t fileBytes)
    : path(path), fileBytes(fileBytes) {
  largestBlock = fileBytes + BOOKKEEPING_BYTES;
  ClearCoreError();
  exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
  init.alloc_fn = CappedAllocate;
  init.free_fn = Release;
  init.error_handler_fn = RecordCoreError;
  // A damaged chunk is an error here, not something to search around.
  init.flags = EXR_CONTEXT_FLAG_DISABLE_CHUNK_RECONSTRUCTION;
  init.max_tile_width = static_cast<int>(EXR_TILE_SIDE_MAX);
  init.max_tile_height = static_cast<int>(EXR_TILE_SIDE_MAX);
  // The library may report a damaged header (an attribute larger than the
  // file, say) through the handler and still return success: either way the
  // file is refused.
  const exr_result_t started = exr_start_read(&context, path.c_str(), &init);
  if (started != EXR_ERR_SUCCESS || !firstError.empty()) {
    if (started == EXR_ERR_SUCCESS) exr_finish(&context);
    context = nullptr;
    throw FileError(path, "not a readable OpenEXR file (" + CoreExrFile::LastMessage() + ")");
  }
}

CoreExrFile::~CoreExrFile() {
  if (context) exr_finish(&context);
}

void CoreExrFile::AllowChunkBuffers() { largestBlock = UINT64_MAX; }

std::string CoreExrFile::LastMessage() {
  return OneLine(firstError.empty() ? "unknown error" : firstError);
}

std::string PartLabel(exr_const_context_t file, int part) {
  std::string label = "part " + std::to_string(part);
  const char* name = nullptr;
  if (exr_get_name(file, part, &name) == EXR_ERR_SUCCESS && name) {
    label += " \"" + ShownName(name) + "\"";
  }
  return label;
}

PartChunks::PartChunks(const CoreExrFile& file, int part) : file(file), part(part) {
  exr_const_context_t context = file.Get();
  exr_storage_t storage{};
  exr_get_storage(context, part, &storage);
  exr_get_data_window(context, part, &window);
  tiled = storage == EXR_STORAGE_TILED;
  const int64_t width = static_cast<int64_t>(window.max.x) - window.min.x + 1;
  const int64_t height = static_cast<int64_t>(window.max.y) - window.min.y + 1;
  if (tiled) {
    uint32_t tileWidth = 0, tileHeight = 0;
    exr_tile_level_mode_t mode{};
    exr_tile_round_mode_t round{};
    if (exr_get_tile_descriptor(context, part, &tileWidth, &tileHeight, &mode, &round) !=
            EXR_ERR_SUCCESS ||
        tileWidth < 1 || tileHeight < 1) {
      throw FileError(file.Path(), PartLabel(context, part) + " has no usable tile description (" +
                                       CoreExrFile::LastMessage() + ")");
    }
    chunkWidth = tileWidth;
    chunkHeight = tileHeight;
  } else {
    int32_t rows = 0;
    if (exr_get_scanlines_per_chunk(context, part, &rows) != EXR_ERR_SUCCESS || rows < 1) {
      throw FileError(file.Path(), PartLabel(context, part) + " has no scanline chunks (" +
                                       CoreExrFile::LastMessage() + ")");
    }
    chunkWidth = width;
    chunkHeight = rows;
  }
  across = (width + chunkWidth - 1) / chunkWidth;
  count = across * ((height + chunkHeight - 1) / chunkHeight);
}

int64_t PartChunks::Column(int64_t index) const { return index % across * chunkWidth; }
int64_t PartChunks::Row(int64_t index) const { return index / across * chunkHeight; }

exr_result_t PartChunks::Read(int64_t index, exr_chunk_info_t& info) const {
  if (tiled) {
    return exr_read_tile_chunk_info(file.Get(), part, static_cast<int>(index % across),
                                    static_cast<int>(index / across), 0, 0, &info);
  }
  return exr_read_scanline_chunk_info(file.Get(), part, static_cast<int>(window.min.y + Row(index)),
                                      &info);
}

std::string PartChunks::Damaged(int64_t index) const {
  std::string what;
  if (tiled) {
    what = "tile (" + std::to_string(index % across) + ", " + std::to_string(index / across) +
           ") of " + PartLabel(file.Get(), part) + " is";
  } else {
    const int64_t first = window.min.y + Row(index);
    const int64_t last = std::min<int64_t>(window.max.y, first + chunkHeight - 1);
    what = "scanlines " + std::to_string(first) + "-" + std::to_string(last) + " of " +
           PartLabel(file.Get(), part) + " are";
  }
  return what + " missing or damaged (the file is truncated or corrupt)";
}

}  // namespace kestrion
