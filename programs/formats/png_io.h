// png_io.h: PNG files. kestrion writes 16-bit RGBA PNGs holding the
// display-encoded (sRGB) colour of a frame, so that the filter's 16-bit
// result reaches the file without loss; linear frames are encoded to sRGB on
// the way out. Reading accepts 8- and 16-bit grey, grey-alpha, RGB, RGBA and
// palette images and yields a display-encoded frame (8-bit values v become
// v * 257). PNGs carry no renderer channels.
#pragma once

#include <string>

#include "base/abort_check.h"
#include "formats/image.h"

namespace kestrion {

// Writes `image` to `path` (creating or truncating it); throws a FileError.
// Both ask `abort` every row.
// A non-empty `description` is written as the file's "Description" text.
void WritePng(const Image& image, const std::string& path, const AbortCheck& abort = NeverAbort(),
              const std::string& description = "");
// Reads the PNG at `path`; throws a FileError naming it.
Image ReadPng(const std::string& path, const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
