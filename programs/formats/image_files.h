// image_files.h: choosing a file format by name and writing a frame into a
// user's file safely.
#pragma once

#include <string>

#include "base/abort_check.h"
#include "formats/image.h"
#include "formats/output_file.h"

namespace kestrion {

enum class ImageFormat { Png, Exr };

// The format a file name asks for by its extension (.png or .exr, any
// case); throws a UsageError for anything else.
ImageFormat FormatOfName(const std::string& path);

// Writes the frame, in the format its target's name asks for, into the
// output's temporary file. Errors name the target. The caller commits the
// output once the whole command has succeeded.
void WriteImage(const Image& image, OutputFile& output, const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
