// review_tiff.cpp: review images' TIFF files.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/abort_check.h"
#include "base/errors.h"
#include "formats/review_samples.h"

namespace kestrion::review_files {

namespace {

constexpr const char* TIFF_DESCRIPTION =
    "sRGB-encoded colour, straight (unassociated) alpha; written by kestrion";

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

}  // namespace

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

ImageSize ReadTiffSize(const std::string& path) {
  TiffPtr tiff = OpenTiff(path, "r");
  uint32_t width = 0;
  uint32_t height = 0;
  TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
  return {static_cast<int64_t>(width), static_cast<int64_t>(height)};
}

}  // namespace kestrion::review_files
