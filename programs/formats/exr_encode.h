// exr_encode.h: OpenEXR files whose parts are all ZIP or ZIPS compressed,
// written with OpenEXR's core library: it writes the headers, packs each
// chunk's scanlines or tile and writes the chunks and their offsets, while
// the deflate step is kestrion's (exr_zip.h). Chunks are coded side by side
// on several threads, each with its own pipeline and codec, and written in
// the file's order, so every thread count writes the same bytes.
#pragma once

#include <ImfHeader.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/abort_check.h"

namespace kestrion {

// Where one channel's samples come from: the part's data window,
// row-major, `bytesPerSample` (2 for HALF, 4 for UINT and FLOAT) each, in
// the type the header gives the channel.
struct EncodeSource {
  std::string name;
  const void* data = nullptr;
  int32_t bytesPerSample = 4;
};

struct EncodePart {
  Imf::Header header;
  std::vector<EncodeSource> sources;  // one per channel of the header
};

// Whether EncodeExrFile writes these parts: every one a scanline part or a
// single-level tiled part, ZIP or ZIPS compressed, with no subsampled
// channel and a line order other than decreasing.
bool CoreEncodes(const std::vector<Imf::Header>& headers);

// Writes `parts` to `path`, single-part when there is one, on up to
// `threads` threads; only the calling thread asks `abort`. Throws a
// FileError naming the file (and the part and chunk that could not be
// coded), or Aborted().
void EncodeExrFile(const std::string& path, const std::vector<EncodePart>& parts, unsigned threads,
                   const AbortCheck& abort);

// Runs `write`, which writes the OpenEXR file `path`, and throws what it
// throws as one error naming the file: a library error as it is, running
// out of memory and any other failure as a FileError.
void WithExrWriteErrors(const std::string& path, const std::function<void()>& write);

}  // namespace kestrion
