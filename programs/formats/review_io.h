// review_io.h: review images (PNG and TIFF) from float planes and back, and
// depth maps kept in their own grey PNG file.
//
// Review images hold display colour: sRGB-encoded (and saying so: a PNG
// sRGB chunk, a note in a TIFF's description), or a colour configuration's
// display values under a look's view (display_view.h), with straight alpha. Written
// colour is unpremultiplied when the planes are premultiplied, and is 0
// wherever alpha is 0. Reading decodes sRGB to linear light and yields
// straight alpha (a TIFF's associated alpha is divided out first).
//
// Reading and writing ask `abort` every row and every ABORT_STRIDE samples.
//
// The demo's 16-bit PNGs of host bitmaps are written by png_io.h.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/abort_check.h"
#include "formats/display_view.h"
#include "formats/frame_planes.h"

namespace kestrion {

enum class ReviewFormat { Png, Tiff };

// How a review image shows the frame's light, for a person looking at HDR
// renders on a display. The plain look writes colour as it is, clipped to
// 1 after unpremultiplying.
struct ReviewLook {
  // Colour (never alpha) times 2^exposure.
  float exposure = 0.0f;
  // Composited over this linear colour (premultiplied colour plus the
  // colour times 1 - alpha), and written without alpha.
  std::optional<std::array<float, 3>> flatten;
  // A soft display clamp instead of clipping: linear values above 0.8
  // roll off toward 1, and where premultiplied light is brighter than its
  // alpha, the alpha is raised to it, so that light over transparency
  // (a bloom over an empty sky) looks as it does over black.
  bool soft = false;
  // Display values to the power 1 / gamma, after the encode or the view.
  float gamma = 1.0f;
  // The colour configuration's display and view as named; the programs
  // open it into `view`.
  ViewChoice choice;
  // Straight linear colour through this view instead of the sRGB encode;
  // null for the built-in encode.
  std::shared_ptr<const DisplayView> view;

  bool Plain() const { return exposure == 0.0f && !flatten && !soft && gamma == 1.0f && !view; }
};

// .png, or .tif / .tiff (any case); throws a UsageError for anything else.
ReviewFormat ReviewFormatOfName(const std::string& path);

// Writes colour[0..2] (one plane: grey written as RGB) and, unless absent,
// alpha as `format` with `bitDepth` bits a sample: 8 or 16 for PNG, 16 for
// TIFF (a UsageError otherwise). Colour and alpha are clamped to 0..1 after
// unpremultiplying. With AlphaMode::Ignore alpha is written as it is and
// colour is not divided. Throws a FileError naming `path`.
void WriteReviewImage(const FramePlanes& frame, const std::string& path, ReviewFormat format,
                      int32_t bitDepth, const AbortCheck& abort = NeverAbort());
// The same under `look`. With AlphaMode::Ignore alpha is no coverage: it is
// not composited with, and kept unless flattened.
void WriteReviewImage(const FramePlanes& frame, const std::string& path, ReviewFormat format,
                      int32_t bitDepth, const ReviewLook& look,
                      const AbortCheck& abort = NeverAbort());

// The samples an 8-bit review image of `frame` under `look` holds, as
// WriteReviewImage writes them, four bytes a pixel (R, G, B, A; A 255 when
// the image has no alpha), top row first: what a display shows of the
// file, pixel for pixel. Throws a FileError naming `name` for a frame
// without colour.
std::vector<uint8_t> ReviewPixels8(const FramePlanes& frame, const std::string& name,
                                   const ReviewLook& look, const AbortCheck& abort = NeverAbort());
// The same for `rows` rows from `firstRow` on, into `rgba` (4 x width x
// rows bytes), so that parts of a frame can be encoded side by side.
void ReviewPixels8(const FramePlanes& frame, const std::string& name, const ReviewLook& look,
                   int32_t firstRow, int32_t rows, uint8_t* rgba,
                   const AbortCheck& abort = NeverAbort());

// Reads an 8- or 16-bit PNG or TIFF (told apart by content): grey or RGB,
// with or without alpha. Colour planes R, G, B in linear light; alpha in
// 0..1 with AlphaMode::Straight, absent when the file has none. Throws a
// FileError naming `path`.
FramePlanes ReadReviewImage(const std::string& path, const AbortCheck& abort = NeverAbort());

// The width and height a PNG or TIFF declares, from its header alone (a
// PNG's header chunk, a TIFF's tags): nothing of its pixels is read. Throws
// a FileError naming `path` when it is neither.
struct ImageSize {
  int64_t width = 0;
  int64_t height = 0;
};
ImageSize ReadReviewImageSize(const std::string& path);

// A depth map kept beside the colour: a grey PNG (8 or 16 bits), read as a
// normalised map, value / 65535 (or / 255). Throws a FileError naming
// `path` for anything else, or for a size other than width x height.
Plane ReadDepthMap(const std::string& path, int32_t width, int32_t height,
                   const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
