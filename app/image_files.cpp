#include "app/image_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "app/errors.h"
#include "app/exr_io.h"
#include "app/file_names.h"
#include "app/png_io.h"

namespace kestrion {

ImageFormat FormatOfName(const std::string& path) {
  const std::string extension = LowercaseExtension(path);
  if (extension == ".png") return ImageFormat::Png;
  if (extension == ".exr") return ImageFormat::Exr;
  throw UsageError(path + ": unknown image format (use a .png or .exr file name)");
}

void WriteImage(const Image& image, OutputFile& output) {
  const bool png = FormatOfName(output.Target()) == ImageFormat::Png;
  output.Write([&](const std::string& path) {
    if (png) {
      WritePng(image, path);
    } else {
      WriteExr(image, path);
    }
  });
}

}  // namespace kestrion
