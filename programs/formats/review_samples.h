// review_samples.h: the parts of review_io.h's files: an image's samples
// as PNG and TIFF hold them, made from float planes under a display look
// and back (review_look.cpp), and read and written as PNG (review_png.cpp)
// or TIFF (review_tiff.cpp). Used by formats/ alone.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/abort_check.h"
#include "formats/frame_planes.h"
#include "formats/review_io.h"

namespace kestrion::review_files {

// An image's samples as files hold them: interleaved, `channels` a pixel
// (grey, grey-alpha, RGB or RGBA), each 0..Max().
struct Samples {
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 0;
  int32_t bits = 16;
  std::vector<uint16_t> data;

  uint32_t Max() const { return bits == 8 ? 255u : 65535u; }
  bool HasAlpha() const { return channels == 2 || channels == 4; }
};

// The frame's samples under `look`, `bits` (8 or 16) a sample: colour
// unpremultiplied (or cleared under alpha 0) and sRGB-encoded. Throws a
// FileError naming `path` for a frame without colour.
Samples Encode(const FramePlanes& frame, int32_t bits, const std::string& path,
               const ReviewLook& look, const AbortCheck& abort);
// Samples as planes: colour decoded to linear light, straight alpha.
FramePlanes Decode(const Samples& samples, const AbortCheck& abort);

// Whether the file starts as a PNG; it is rewound.
bool IsPng(std::FILE* file);
void WritePngSamples(const Samples& samples, const std::string& path, const AbortCheck& abort);
// A PNG as grey, grey-alpha, RGB or RGBA samples at its own bit depth
// (palettes expanded, depths below 8 widened to 8).
Samples ReadPngSamples(std::FILE* file, const std::string& path, const AbortCheck& abort);
ImageSize ReadPngSize(std::FILE* file, const std::string& path);

void WriteTiffSamples(const Samples& samples, const std::string& path, const AbortCheck& abort);
// An 8- or 16-bit grey or RGB TIFF, with or without one alpha sample,
// stored interleaved; associated alpha is divided out.
Samples ReadTiffSamples(const std::string& path, const AbortCheck& abort);
ImageSize ReadTiffSize(const std::string& path);

}  // namespace kestrion::review_files
