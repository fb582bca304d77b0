#include "formats/review_io.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "base/abort_check.h"
#include "base/errors.h"
#include "base/file_names.h"
#include "base/stdio_file.h"
#include "formats/image.h"
#include "formats/png_errors.h"

namespace kestrion {

namespace {

constexpr const char* TIFF_DESCRIPTION =
    "sRGB-encoded colour, straight (unassociated) alpha; written by kestrion";

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

uint16_t ToSample(float unit, uint32_t max) {
  if (!(unit > 0.0f)) return 0;
  if (unit >= 1.0f) return static_cast<uint16_t>(max);
  return static_cast<uint16_t>(std::lround(unit * static_cast<float>(max)));
}

// Where a soft display clamp starts rolling highlights off: linear values
// up to it are kept, brighter ones approach 1 without reaching it.
constexpr float SHOULDER_START = 0.8f;

float Shoulder(float value) {
  if (!(value > SHOULDER_START)) return value;
  constexpr float span = 1.0f - SHOULDER_START;
  return SHOULDER_START + span * (1.0f - std::exp(-(value - SHOULDER_START) / span));
}

// One pixel's colour (and alpha, unless flattened) under a look that is not
// the plain one: exposure and flattening work on premultiplied light, and
// the soft clamp raises alpha where light over transparency is brighter
// than its coverage, so that a bloom over an empty sky stays as bright as
// it is over black.
void LookPixel(float colour[3], float& a, bool coverage, bool straightInput, const ReviewLook& look,
               float gain) {
  if (coverage) {
    a = std::clamp(a, 0.0f, 1.0f);
    if (straightInput) {
      for (int c = 0; c < 3; ++c) colour[c] *= a;
    }
  }
  for (int c = 0; c < 3; ++c) colour[c] *= gain;
  if (look.flatten) {
    for (int c = 0; c < 3; ++c) colour[c] += (coverage ? 1.0f - a : 0.0f) * (*look.flatten)[c];
    if (look.soft) {
      for (int c = 0; c < 3; ++c) colour[c] = Shoulder(colour[c]);
    }
    return;
  }
  if (look.soft) {
    for (int c = 0; c < 3; ++c) colour[c] = Shoulder(colour[c]);
    if (coverage) a = std::max({a, colour[0], colour[1], colour[2]});
  }
  if (coverage) {
    for (int c = 0; c < 3; ++c) colour[c] = a > 0.0f ? colour[c] / a : 0.0f;
  }
}

// How a frame's pixels become samples under a look: colour unpremultiplied
// (or cleared under alpha 0) and sRGB-encoded, alpha as it is, each 0..max.
class PixelEncoder {
 public:
  PixelEncoder(const FramePlanes& frame, uint32_t max, const std::string& path,
               const ReviewLook& look)
      : red(frame.colour.empty() ? nullptr : &frame.colour[0]),
        green(frame.colour.size() >= 3 ? &frame.colour[1] : red),
        blue(frame.colour.size() >= 3 ? &frame.colour[2] : red),
        alpha(frame.alpha ? &*frame.alpha : nullptr),
        divide(alpha && frame.alphaMode == AlphaMode::Premultiplied),
        clearUnderZero(alpha && frame.alphaMode != AlphaMode::Ignore),
        straightInput(alpha && frame.alphaMode == AlphaMode::Straight),
        look(look),
        plain(look.Plain()),
        gain(std::exp2(look.exposure)),
        max(max) {
    if (!red || frame.width < 1 || frame.height < 1) throw FileError(path, "no colour to write");
  }

  int32_t Channels() const { return alpha && !look.flatten ? 4 : 3; }

  // Pixel i's samples into out[0 .. Channels()).
  template <typename Sample>
  void Encode(size_t i, Sample* out) const {
    float colour[3] = {(*red)[i], (*green)[i], (*blue)[i]};
    float a = alpha ? (*alpha)[i] : 1.0f;
    if (!plain) {
      LookPixel(colour, a, clearUnderZero, straightInput, look, gain);
    } else if (alpha) {
      if (clearUnderZero && !(a > 0.0f)) {
        colour[0] = colour[1] = colour[2] = 0.0f;
      } else if (divide) {
        for (float& c : colour) c /= a;
      }
    }
    if (Channels() == 4) out[3] = static_cast<Sample>(ToSample(a, max));
    if (max == 255) {
      for (int c = 0; c < 3; ++c) out[c] = static_cast<Sample>(SrgbByte(colour[c]));
    } else {
      for (int c = 0; c < 3; ++c)
        out[c] = static_cast<Sample>(ToSample(SrgbEncode(colour[c]), max));
    }
  }

 private:
  const Plane* red;
  const Plane* green;
  const Plane* blue;
  const Plane* alpha;
  bool divide;
  bool clearUnderZero;
  bool straightInput;
  const ReviewLook& look;
  bool plain;
  float gain;
  uint32_t max;
};

Samples Encode(const FramePlanes& frame, int32_t bits, const std::string& path,
               const ReviewLook& look, const AbortCheck& abort) {
  const size_t count = frame.PixelCount();
  Samples samples;
  samples.bits = bits;
  const PixelEncoder encoder(frame, samples.Max(), path, look);
  samples.width = frame.width;
  samples.height = frame.height;
  samples.channels = encoder.Channels();
  ResizeInterruptibly(samples.data, count * samples.channels, abort);
  for (size_t i = 0; i < count; ++i) {
    abort.Poll(i);
    encoder.Encode(i, &samples.data[i * samples.channels]);
  }
  return samples;
}

FramePlanes Decode(const Samples& samples, const AbortCheck& abort) {
  FramePlanes frame;
  frame.width = samples.width;
  frame.height = samples.height;
  const size_t count = frame.PixelCount();
  frame.colour.resize(3);
  for (Plane& plane : frame.colour) ResizeInterruptibly(plane, count, abort);
  frame.colourNames = {"R", "G", "B"};
  frame.alphaMode = AlphaMode::Straight;
  if (samples.HasAlpha()) frame.alpha = FilledInterruptibly<float>(count, abort);
  // Every sample value decoded once.
  std::vector<float> linear(samples.Max() + 1);
  for (size_t v = 0; v < linear.size(); ++v) {
    linear[v] = SrgbDecode(static_cast<float>(v) / static_cast<float>(samples.Max()));
  }
  const bool grey = samples.channels <= 2;
  for (size_t i = 0; i < count; ++i) {
    abort.Poll(i);
    const uint16_t* in = &samples.data[i * samples.channels];
    for (int c = 0; c < 3; ++c) frame.colour[c][i] = linear[in[grey ? 0 : c]];
    if (frame.alpha) {
      (*frame.alpha)[i] = static_cast<float>(in[samples.channels - 1]) / samples.Max();
    }
  }
  return frame;
}

// --- PNG ---

// Runs `body` with libpng's error handling armed; false when libpng failed.
// `body` must not own objects with destructors: an error longjmps out. Nor
// may it throw: it returns early when interrupted, and the caller throws
// once libpng's structures are released.
template <typename Body>
bool GuardedPng(png_structp png, Body&& body) {
  if (setjmp(png_jmpbuf(png))) return false;
  body();
  return true;
}

// PNG rows: 8-bit samples as bytes, 16-bit ones big-endian.
std::vector<png_byte> PngBytes(const Samples& samples, const AbortCheck& abort) {
  const size_t bytes = samples.bits / 8;
  std::vector<png_byte> out = FilledInterruptibly<png_byte>(samples.data.size() * bytes, abort);
  for (size_t i = 0; i < samples.data.size(); ++i) {
    abort.Poll(i);
    const uint16_t value = samples.data[i];
    if (bytes == 1) {
      out[i] = static_cast<png_byte>(value);
    } else {
      out[2 * i] = static_cast<png_byte>(value >> 8);
      out[2 * i + 1] = static_cast<png_byte>(value & 0xFF);
    }
  }
  return out;
}

void WritePngSamples(const Samples& samples, const std::string& path, const AbortCheck& abort) {
  FilePtr file = OpenFile(path, "wb");
  std::vector<png_byte> bytes = PngBytes(samples, abort);
  const size_t rowBytes = bytes.size() / samples.height;
  std::vector<png_bytep> rows(samples.height);
  for (int32_t y = 0; y < samples.height; ++y) rows[y] = &bytes[y * rowBytes];
  PngErrorState state;
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, &OnPngError, &OnPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  const bool ok =
      info && GuardedPng(png, [&] {
        png_init_io(png, file.get());
        png_set_IHDR(png, info, samples.width, samples.height, samples.bits,
                     samples.HasAlpha() ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_sRGB_gAMA_and_cHRM(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
        png_write_info(png, info);
        for (int32_t y = 0; y < samples.height; ++y) {
          if (abort.Requested()) return;
          png_write_row(png, rows[y]);
        }
        png_write_end(png, nullptr);
      });
  png_destroy_write_struct(&png, &info);
  abort.ThrowIfRequested();
  if (!ok) throw FileError(path, std::string("cannot write PNG (") + state.message + ")");
  if (std::fflush(file.get()) != 0 || std::ferror(file.get())) {
    throw FileError(path, std::string("cannot write (") + std::strerror(errno) + ")");
  }
}

// Reads a PNG as grey, grey-alpha, RGB or RGBA samples at its own bit
// depth (palettes expanded, depths below 8 widened to 8).
Samples ReadPngSamples(std::FILE* file, const std::string& path, const AbortCheck& abort) {
  PngErrorState state;
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, &OnPngError, &OnPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  Samples samples;
  std::vector<png_byte> data;
  std::vector<png_bytep> rows;
  const bool ok = info && GuardedPng(png, [&] {
                    png_init_io(png, file);
                    png_read_info(png, info);
                    png_set_expand(png);
                    const int passes = png_set_interlace_handling(png);
                    png_read_update_info(png, info);
                    samples.width = static_cast<int32_t>(png_get_image_width(png, info));
                    samples.height = static_cast<int32_t>(png_get_image_height(png, info));
                    samples.channels = png_get_channels(png, info);
                    samples.bits = png_get_bit_depth(png, info);
                    const size_t rowBytes = png_get_rowbytes(png, info);
                    data.resize(rowBytes * samples.height);
                    rows.resize(samples.height);
                    for (int32_t y = 0; y < samples.height; ++y) rows[y] = &data[y * rowBytes];
                    // A row at a time (each pass of an interlaced file).
                    for (int pass = 0; pass < passes; ++pass) {
                      for (int32_t y = 0; y < samples.height; ++y) {
                        if (abort.Requested()) return;
                        png_read_row(png, rows[y], nullptr);
                      }
                    }
                    png_read_end(png, nullptr);
                  });
  png_destroy_read_struct(&png, &info, nullptr);
  abort.ThrowIfRequested();
  if (!ok) throw FileError(path, std::string("cannot read PNG (") + state.message + ")");
  const size_t values = static_cast<size_t>(samples.width) * samples.height * samples.channels;
  ResizeInterruptibly(samples.data, values, abort);
  for (size_t i = 0; i < values; ++i) {
    abort.Poll(i);
    samples.data[i] =
        samples.bits == 16 ? static_cast<uint16_t>((data[2 * i] << 8) | data[2 * i + 1]) : data[i];
  }
  return samples;
}

ImageSize ReadPngSize(std::FILE* file, const std::string& path) {
  PngErrorState state;
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, &OnPngError, &OnPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  const bool ok =
      info && GuardedPng(png, [&] {
        png_init_io(png, file);
        png_read_info(png, info);
        int bits = 0, colour = 0;
        png_get_IHDR(png, info, &width, &height, &bits, &colour, nullptr, nullptr, nullptr);
      });
  png_destroy_read_struct(&png, &info, nullptr);
  if (!ok) throw FileError(path, std::string("cannot read PNG (") + state.message + ")");
  return {static_cast<int64_t>(width), static_cast<int64_t>(height)};
}

bool IsPng(std::FILE* file) {
  png_byte signature[8] = {};
  const bool png = std::fread(signature, 1, sizeof signature, file) == sizeof signature &&
                   png_sig_cmp(signature, 0, sizeof signature) == 0;
  std::rewind(file);
  return png;
}

// --- TIFF ---

// libtiff reports through process-wide handlers; the last error is kept.
thread_local std::string tiffError;

extern "C" void OnTiffError(const char*, const char* format, va_list args) {
  char text[256];
  std::vsnprintf(text, sizeof text, format, args);
  tiffError = text;
}

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr OpenTiff(const std::string& path, const char* mode) {
  TIFFSetErrorHandler(&OnTiffError);
  TIFFSetWarningHandler(nullptr);
  tiffError.clear();
  TiffPtr tiff(TIFFOpen(path.c_str(), mode));
  if (!tiff) throw FileError(path, "cannot open as TIFF (" + tiffError + ")");
  return tiff;
}

void WriteTiffSamples(const Samples& samples, const std::string& path, const AbortCheck& abort) {
  TiffPtr tiff = OpenTiff(path, "w");
  TIFF* t = tiff.get();
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(samples.width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(samples.height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(samples.bits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(samples.channels));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, TIFF_DESCRIPTION);
  if (samples.HasAlpha()) {
    const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
  }
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  const size_t rowValues = static_cast<size_t>(samples.width) * samples.channels;
  std::vector<uint16_t> row(rowValues);
  for (int32_t y = 0; y < samples.height; ++y) {
    abort.ThrowIfRequested();
    std::copy_n(&samples.data[y * rowValues], rowValues, row.data());
    if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) < 0) {
      throw FileError(path, "cannot write TIFF (" + tiffError + ")");
    }
  }
  if (!TIFFFlush(t)) throw FileError(path, "cannot write TIFF (" + tiffError + ")");
}

// Reads an 8- or 16-bit grey or RGB TIFF, with or without one alpha
// sample, stored interleaved. Associated alpha is divided out.
Samples ReadTiffSamples(const std::string& path, const AbortCheck& abort) {
  TiffPtr tiff = OpenTiff(path, "r");
  TIFF* t = tiff.get();
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bits = 0;
  uint16_t channels = 0;
  uint16_t photometric = 0;
  uint16_t planar = PLANARCONFIG_CONTIG;
  uint16_t format = SAMPLEFORMAT_UINT;
  uint16_t extraCount = 0;
  uint16_t* extra = nullptr;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &channels);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
  const bool greyOk = photometric == PHOTOMETRIC_MINISBLACK && (channels == 1 || channels == 2);
  const bool rgbOk = photometric == PHOTOMETRIC_RGB && (channels == 3 || channels == 4);
  if ((bits != 8 && bits != 16) || format != SAMPLEFORMAT_UINT || planar != PLANARCONFIG_CONTIG ||
      !(greyOk || rgbOk) || width == 0 || height == 0 || width > 65535 || height > 65535) {
    throw FileError(path,
                    "unsupported TIFF (kestrion reads 8- or 16-bit grey or RGB, with or "
                    "without alpha, interleaved)");
  }
  Samples samples;
  samples.width = static_cast<int32_t>(width);
  samples.height = static_cast<int32_t>(height);
  samples.channels = channels;
  samples.bits = bits;
  const size_t rowValues = static_cast<size_t>(width) * channels;
  ResizeInterruptibly(samples.data, rowValues * height, abort);
  std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(t)));
  if (row.size() < rowValues * (bits / 8)) throw FileError(path, "unsupported TIFF layout");
  for (uint32_t y = 0; y < height; ++y) {
    abort.ThrowIfRequested();
    if (TIFFReadScanline(t, row.data(), y, 0) < 0) {
      throw FileError(path, "cannot read TIFF (" + tiffError + ")");
    }
    uint16_t* out = &samples.data[y * rowValues];
    if (bits == 8) {
      std::copy_n(row.data(), rowValues, out);
    } else {
      std::memcpy(out, row.data(), rowValues * sizeof(uint16_t));
    }
  }
  if (samples.HasAlpha() && extraCount > 0 && extra && extra[0] == EXTRASAMPLE_ASSOCALPHA) {
    const uint32_t max = samples.Max();
    for (size_t i = 0; i < samples.data.size(); i += channels) {
      abort.Poll(i / channels);
      const uint32_t a = samples.data[i + channels - 1];
      for (int c = 0; c + 1 < channels; ++c) {
        samples.data[i + c] = a == 0 ? 0
                                     : static_cast<uint16_t>(std::min<uint32_t>(
                                           (samples.data[i + c] * max + a / 2) / a, max));
      }
    }
  }
  return samples;
}

}  // namespace

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

void ReviewPixels8(const FramePlanes& frame, const std::string& name, const ReviewLook& look,
                   int32_t firstRow, int32_t rows, uint8_t* rgba, const AbortCheck& abort) {
  const PixelEncoder encoder(frame, 255u, name, look);
  if (firstRow < 0 || rows < 0 || firstRow > frame.height - rows) {
    throw FileError(name, "no such rows to encode");
  }
  const size_t begin = static_cast<size_t>(firstRow) * static_cast<size_t>(frame.width);
  const size_t end = begin + static_cast<size_t>(rows) * static_cast<size_t>(frame.width);
  const bool opaque = encoder.Channels() == 3;
  for (size_t i = begin; i < end; ++i) {
    abort.Poll(i - begin);
    uint8_t* out = &rgba[(i - begin) * 4];
    encoder.Encode(i, out);
    if (opaque) out[3] = 255;
  }
}

std::vector<uint8_t> ReviewPixels8(const FramePlanes& frame, const std::string& name,
                                   const ReviewLook& look, const AbortCheck& abort) {
  std::vector<uint8_t> rgba;
  ResizeInterruptibly(rgba, frame.PixelCount() * 4, abort);
  ReviewPixels8(frame, name, look, 0, frame.height, rgba.data(), abort);
  return rgba;
}

ImageSize ReadReviewImageSize(const std::string& path) {
  FilePtr file = OpenFile(path, "rb");
  if (IsPng(file.get())) return ReadPngSize(file.get(), path);
  file.reset();
  TiffPtr tiff = OpenTiff(path, "r");
  uint32_t width = 0;
  uint32_t height = 0;
  TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
  return {static_cast<int64_t>(width), static_cast<int64_t>(height)};
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
