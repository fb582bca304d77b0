// exr_preflight.h: an OpenEXR file checked before any pixel memory is
// allocated for it and before OpenEXR's C++ library opens it.
//
// OpenEXR's C++ reader sizes its buffers from header fields and fills
// whatever a chunk does not deliver from its own, uninitialised buffers: a
// file that declares a large data window without its pixels, an attribute
// of two gigabytes, or an uncompressed chunk shorter than its scanlines
// would cost seconds and gigabytes before an error, or decode into values
// no file held. So every OpenEXR file kestrion reads is first opened with
// OpenEXR's core library, whose header parser checks every size against the
// file's size, with an allocator that refuses any single block larger than
// the file could justify, and:
//   - every part is a scanline or single-level tiled image of flat samples,
//     its channels not subsampled and of a known type, its data and display
//     windows within the largest side kestrion accepts;
//   - the offset tables fit in the file;
//   - every chunk the data window needs is listed, its leader names that
//     chunk, its data lies inside the file, is not empty, and is no larger
//     than its unpacked size; uncompressed, it is exactly that size.
// The first fault is refused with one line naming the file and the chunk.
// This reads the headers, the offset tables and one chunk leader a chunk,
// not the pixel data.
#pragma once

#include <cstdint>
#include <string>

#include "base/memory_budget.h"
#include "formats/exr_core.h"

namespace kestrion {

// What the headers say the file will take to hold.
struct ExrShape {
  uint64_t sampleBytes = 0;    // every part's samples in their own types
  uint64_t largestPixels = 0;  // the largest data window of a part
  uint64_t channels = 0;       // channels of all parts
};

// Throws a FileError naming `path` for the first fault above.
ExrShape PreflightExr(const std::string& path, const ResourceLimits& limits);
// The same, of a file already open.
ExrShape PreflightExr(const CoreExrFile& file, const ResourceLimits& limits);

}  // namespace kestrion
