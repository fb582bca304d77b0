#include "app/image_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "app/errors.h"
#include "app/exr_io.h"
#include "app/png_io.h"

namespace kestrion {

ImageFormat FormatOfName(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".png") return ImageFormat::Png;
  if (extension == ".exr") return ImageFormat::Exr;
  throw UsageError(path + ": unknown image format (use a .png or .exr file name)");
}

void WriteImage(const Image& image, OutputFile& output) {
  const std::string& temporary = output.TemporaryPath();
  try {
    if (FormatOfName(output.Target()) == ImageFormat::Png) {
      WritePng(image, temporary);
    } else {
      WriteExr(image, temporary);
    }
  } catch (const CommandError& e) {
    // The temporary file is an implementation detail: name the user's file.
    std::string message = e.what();
    for (size_t at = message.find(temporary); at != std::string::npos;
         at = message.find(temporary, at + output.Target().size())) {
      message.replace(at, temporary.size(), output.Target());
    }
    throw CommandError(e.ExitCode(), message);
  }
}

}  // namespace kestrion
