// review_io.cpp: review images by name and kind: the display look's
// samples (review_look.cpp) written and read as PNG (review_png.cpp) or
// TIFF (review_tiff.cpp), and depth maps.
#include "formats/review_io.h"

#include <vector>

#include "base/abort_check.h"
#include "base/errors.h"
#include "base/file_names.h"
#include "base/stdio_file.h"
#include "formats/review_samples.h"

namespace kestrion {

using namespace review_files;

ReviewFormat ReviewFormatOfName(const std::string& path) {
  const std::string extension = LowercaseExtension(path);
  if (extension == ".png") return ReviewFormat::Png;
  if (extension == ".tif" || extension == ".tiff") return ReviewFormat::Tiff;
  throw UsageError(ShownName(path) + ": not a review image name (use .png, .tif or .tiff)");
}

void WriteReviewImage(const FramePlanes& frame, const std::string& path, ReviewFormat format,
                      int32_t bitDepth, const AbortCheck& abort) {
  WriteReviewImage(frame, path, format, bitDepth, ReviewLook{}, abort);
}

void WriteReviewImage(const FramePlanes& frame, const std::string& path, ReviewFormat format,
                      int32_t bitDepth, const ReviewLook& look, const AbortCheck& abort) {
  if (format == ReviewFormat::Tiff && bitDepth != 16) {
    throw UsageError(ShownName(path) + ": TIFF review images are written with 16 bits a sample");
  }
  if (bitDepth != 8 && bitDepth != 16) {
    throw UsageError(ShownName(path) + ": a PNG is written with 8 or 16 bits a sample, not " +
                     std::to_string(bitDepth));
  }
  const Samples samples = Encode(frame, bitDepth, path, look, abort);
  if (format == ReviewFormat::Png) {
    WritePngSamples(samples, path, abort);
  } else {
    WriteTiffSamples(samples, path, abort);
  }
}

ImageSize ReadReviewImageSize(const std::string& path) {
  FilePtr file = OpenFile(path, "rb");
  if (IsPng(file.get())) return ReadPngSize(file.get(), path);
  file.reset();
  return ReadTiffSize(path);
}

FramePlanes ReadReviewImage(const std::string& path, const AbortCheck& abort) {
  FilePtr file = OpenFile(path, "rb");
  if (IsPng(file.get())) return Decode(ReadPngSamples(file.get(), path, abort), abort);
  file.reset();
  return Decode(ReadTiffSamples(path, abort), abort);
}

Plane ReadDepthMap(const std::string& path, int32_t width, int32_t height,
                   const AbortCheck& abort) {
  FilePtr file = OpenFile(path, "rb");
  if (!IsPng(file.get())) throw FileError(path, "a depth map must be a grey PNG");
  const Samples samples = ReadPngSamples(file.get(), path, abort);
  if (samples.channels != 1) {
    throw FileError(path, "a depth map must be a grey PNG without alpha (this one has " +
                              std::to_string(samples.channels) + " channels)");
  }
  if (samples.width != width || samples.height != height) {
    throw FileError(path, "the depth map is " + std::to_string(samples.width) + " x " +
                              std::to_string(samples.height) + ", the image " +
                              std::to_string(width) + " x " + std::to_string(height));
  }
  Plane depth(samples.data.size());
  const float max = static_cast<float>(samples.Max());
  for (size_t i = 0; i < depth.size(); ++i) {
    abort.Poll(i);
    depth[i] = static_cast<float>(samples.data[i]) / max;
  }
  return depth;
}

}  // namespace kestrion
