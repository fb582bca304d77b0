// exr_core.h: an OpenEXR file opened with OpenEXR's core library, which
// kestrion uses to check files (exr_preflight.h) and to decode their pixels
// (exr_decode.h): its header parser checks sizes against the file, and its
// decompressors check that every chunk unpacks to exactly its size.
#pragma once

#include <openexr.h>

#include <cstdint>
#include <string>

namespace kestrion {

// The largest tile side kestrion reads.
inline constexpr int64_t EXR_TILE_SIDE_MAX = 8192;

class CoreExrFile {
 public:
  // Opens `path`, whose size is `fileBytes`, with an allocator that refuses
  // any single block larger than the file could justify until
  // AllowChunkBuffers() (headers and offset tables are parsed from the file,
  // so nothing larger can be honest). Throws a FileError naming `path`.
  CoreExrFile(const std::string& path, uint64_t fileBytes);
  ~CoreExrFile();
  CoreExrFile(const CoreExrFile&) = delete;
  CoreExrFile& operator=(const CoreExrFile&) = delete;

  exr_const_context_t Get() const { return context; }
  const std::string& Path() const { return path; }
  uint64_t FileBytes() const { return fileBytes; }

  // Decoding needs buffers the size of a chunk's unpacked data, which the
  // checked headers bound: from here on blocks of any size are allowed.
  void AllowChunkBuffers();

  // The first error the library reported on this thread, on one line.
  static std::string LastMessage();

 private:
  std::string path;
  uint64_t fileBytes;
  exr_context_t context = nullptr;
};

// The error handler of every core context kestrion opens: keeps the first
// message reported on the calling thread for CoreExrFile::LastMessage().
void RecordCoreError(exr_const_context_t context, exr_result_t code, const char* message);
// Forgets this thread's message, before a new context.
void ClearCoreError();
// This thread's message, or the text of `code` when there is none.
std::string CoreMessage(exr_result_t code);

// "part 1 "depth"" (the name when the part has one).
std::string PartLabel(exr_const_context_t file, int part);

// The chunks of one part's data window, in file order of their places:
// scanline chunks from the top, or the tiles of level 0 row by row.
class PartChunks {
 public:
  // Throws a FileError naming the file when the part has no usable chunk
  // layout.
  PartChunks(const CoreExrFile& file, int part);

  int64_t Count() const { return count; }
  bool Tiled() const { return tiled; }
  // Where chunk `index` starts in the data window, from its top-left.
  int64_t Column(int64_t index) const;
  int64_t Row(int64_t index) const;
  // Its leader, through the offset table.
  exr_result_t Read(int64_t index, exr_chunk_info_t& info) const;
  // "scanlines 16-31 of part 0 are missing or damaged (the file is
  // truncated or corrupt)", or "tile (2, 3) of part 0 is ...".
  std::string Damaged(int64_t index) const;

 private:
  const CoreExrFile& file;
  int part;
  bool tiled = false;
  exr_attr_box2i_t window{};
  int64_t chunkWidth = 0;   // tile width; the window's for scanlines
  int64_t chunkHeight = 0;  // tile height, or scanlines a chunk
  int64_t across = 1;
  int64_t count = 0;
};

}  // namespace kestrion
