#include "formats/image_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "base/errors.h"
#include "base/file_names.h"
#include "formats/exr_io.h"
#include "formats/png_io.h"

namespace kestrion {

ImageFormat FormatOfName(const std::string& path) {
  const std::string extension = LowercaseExtension(path);
  if (extension == ".png") return ImageFormat::Png;
  if (extension == ".exr") return ImageFormat::Exr;
  throw UsageError(ShownName(path) + ": unknown image format (use a .png or .exr file name)");
}

void WriteImage(const Image& image, OutputFile& output, const AbortCheck& abort) {
  const bool png = FormatOfName(output.Target()) == ImageFormat::Png;
  output.Write([&](const std::string& path) {
    if (png) {
      WritePng(image, path, abort);
    } else {
      WriteExr(image, path);
    }
  });
}

}  // namespace kestrion
