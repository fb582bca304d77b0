#include "formats/exr_preflight.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "base/errors.h"

namespace kestrion {

namespace {

uint64_t Side(int32_t min, int32_t max) {
  return static_cast<uint64_t>(static_cast<int64_t>(max) - min + 1);
}

// A DWAA or DWAB chunk starts with eleven 64-bit sizes of its blocks.
constexpr uint64_t DWA_HEADER_BYTES = 11 * 8;

// A chunk's data must lie inside the file, hold something, be no larger
// than what it unpacks to, and be exactly that when uncompressed. A chunk
// that compression would not have made smaller is stored as it is; a DWA
// chunk that is compressed holds at least its header.
bool ChunkFits(const exr_chunk_info_t& chunk, exr_compression_t compression, uint64_t fileBytes) {
  const bool compressed = compression != EXR_COMPRESSION_NONE;
  const bool dwa = compression == EXR_COMPRESSION_DWAA || compression == EXR_COMPRESSION_DWAB;
  if (chunk.packed_size == 0 || chunk.unpacked_size == 0) return false;
  if (dwa && chunk.packed_size < chunk.unpacked_size && chunk.packed_size < DWA_HEADER_BYTES) {
    return false;
  }
  if (chunk.data_offset > fileBytes || chunk.packed_size > fileBytes - chunk.data_offset) {
    return false;
  }
  return compressed ? chunk.packed_size <= chunk.unpacked_size
                    : chunk.packed_size == chunk.unpacked_size;
}

void CheckChunks(const CoreExrFile& core, int part) {
  exr_compression_t compression{};
  exr_get_compression(core.Get(), part, &compression);
  const PartChunks chunks(core, part);
  for (int64_t i = 0; i < chunks.Count(); ++i) {
    exr_chunk_info_t chunk{};
    if (chunks.Read(i, chunk) != EXR_ERR_SUCCESS ||
        !ChunkFits(chunk, compression, core.FileBytes())) {
      throw FileError(core.Path(), chunks.Damaged(i));
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
    throw FileError(path, label + " has no readable type (" + CoreExrFile::LastMessage() + ")");
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
    throw FileError(path, label + " has no readable windows (" + CoreExrFile::LastMessage() + ")");
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
    throw FileError(path,
                    label + " has no readable channel list (" + CoreExrFile::LastMessage() + ")");
  }
  for (int c = 0; c < channels->num_channels; ++c) {
    const exr_attr_chlist_entry_t& channel = channels->entries[c];
    const std::string name =
        ShownName(std::string_view(channel.name.str, static_cast<size_t>(channel.name.length)));
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
  CoreExrFile core(path, fileBytes);
  return PreflightExr(core, limits);
}

ExrShape PreflightExr(const CoreExrFile& core, const ResourceLimits& limits) {
  const std::string& path = core.Path();
  const uint64_t fileBytes = core.FileBytes();
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
      throw FileError(
          path, PartLabel(file, part) + " has no chunks (" + CoreExrFile::LastMessage() + ")");
    }
    chunks += static_cast<uint64_t>(count);
  }
  // Every chunk has an 8-byte offset in the tables before the data.
  if (chunks > fileBytes / 8) {
    throw FileError(path, "its offset tables list " + std::to_string(chunks) +
                              " chunks, more than the file can hold (the file is truncated or "
                              "corrupt)");
  }
  for (int part = 0; part < parts; ++part) CheckChunks(core, part);
  return shape;
}

}  // namespace kestrion
