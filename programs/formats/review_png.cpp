// review_png.cpp: review images' PNG files.
#include <png.h>

#include <cerrno>
#include <cstring>

#include "base/abort_check.h"
#include "base/errors.h"
#include "base/stdio_file.h"
#include "formats/png_setup.h"
#include "formats/review_samples.h"

namespace kestrion::review_files {

namespace {

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

}  // namespace

void WritePngSamples(const Samples& samples, const std::string& path, const AbortCheck& abort) {
  FilePtr file = OpenFile(path, "wb");
  std::vector<png_byte> bytes = PngBytes(samples, abort);
  const size_t rowBytes = bytes.size() / samples.height;
  std::vector<png_bytep> rows(samples.height);
  for (int32_t y = 0; y < samples.height; ++y) rows[y] = &bytes[y * rowBytes];
  PngErrorState state;
  PngWriteStructs writer(state);
  png_structp png = writer.png;
  png_infop info = writer.info;
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
  PngReadStructs reader(state);
  png_structp png = reader.png;
  png_infop info = reader.info;
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
  PngReadStructs reader(state);
  png_structp png = reader.png;
  png_infop info = reader.info;
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  const bool ok =
      info && GuardedPng(png, [&] {
        png_init_io(png, file);
        png_read_info(png, info);
        int bits = 0, colour = 0;
        png_get_IHDR(png, info, &width, &height, &bits, &colour, nullptr, nullptr, nullptr);
      });
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

}  // namespace kestrion::review_files
