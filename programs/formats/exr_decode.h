// exr_decode.h: the pixels of a checked OpenEXR part decoded with OpenEXR's
// core library into kestrion's own zero-filled samples.
//
// The core library's decompressors check that every chunk unpacks to
// exactly the bytes its scanlines or tile need, so a damaged chunk is an
// error naming it, never samples left over from an earlier chunk or from
// uninitialised buffers. Chunks are decoded on several threads, each with
// its own decoder; an abort (abort_check.h) stops them at the next chunk.
// ZIP and ZIPS chunks are inflated with libdeflate (exr_zip.h), one
// decompressor a thread, reused for all of its chunks.
#pragma once

#include <string>
#include <vector>

#include "base/abort_check.h"
#include "formats/exr_core.h"

namespace kestrion {

// Where one channel's samples go: `data` holds the part's data window,
// row-major, `bytesPerSample` (2 for HALF, 4 for UINT and FLOAT) each, in
// the type the file stores.
struct DecodeTarget {
  std::string name;
  void* data = nullptr;
  int32_t bytesPerSample = 4;
};

// Who inflates ZIP and ZIPS chunks: kestrion's codec, or OpenEXR's own
// (zlib), which the tests hold kestrion's files against.
enum class ZipInflater { Libdeflate, OpenExr };

// Decodes every chunk of `part` (checked by PreflightExr) into `targets`,
// one per channel of the part, on up to `threads` threads; only the calling
// thread asks `abort`. Throws a FileError naming the file and the first
// chunk that does not decode, or Aborted().
void DecodeExrPart(CoreExrFile& file, int part, const std::vector<DecodeTarget>& targets,
                   unsigned threads, const AbortCheck& abort,
                   ZipInflater inflater = ZipInflater::Libdeflate);

}  // namespace kestrion
