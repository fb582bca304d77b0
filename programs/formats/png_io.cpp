#include "formats/png_io.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "base/abort_check.h"
#include "base/errors.h"
#include "base/stdio_file.h"
#include "formats/png_setup.h"

namespace kestrion {

namespace {

constexpr int PNG_CHANNELS = 4;

// Big-endian 16-bit samples, the byte order of PNG rows.
void PutSample(png_bytep out, uint16_t value) {
  out[0] = static_cast<png_byte>(value >> 8);
  out[1] = static_cast<png_byte>(value & 0xFF);
}
uint16_t GetSample(png_const_bytep in) { return static_cast<uint16_t>((in[0] << 8) | in[1]); }

std::vector<png_byte> EncodeRow(const Image& image, int y) {
  const uint16_t width = image.Width();
  std::vector<BMM_Color_64> pixels(width);
  image.Storage().GetPixels(0, y, width, pixels.data());
  std::vector<png_byte> row(static_cast<size_t>(width) * PNG_CHANNELS * 2);
  for (size_t x = 0; x < width; ++x) {
    png_bytep out = &row[x * PNG_CHANNELS * 2];
    PutSample(out + 0, ChannelToDisplay(pixels[x].r, image.encoding));
    PutSample(out + 2, ChannelToDisplay(pixels[x].g, image.encoding));
    PutSample(out + 4, ChannelToDisplay(pixels[x].b, image.encoding));
    PutSample(out + 6, pixels[x].a);
  }
  return row;
}

}  // namespace

void WritePng(const Image& image, const std::string& path, const AbortCheck& abort,
              const std::string& description) {
  FilePtr file = OpenFile(path, "wb");
  std::vector<std::vector<png_byte>> rows(image.Height());
  for (int y = 0; y < image.Height(); ++y) {
    abort.ThrowIfRequested();
    rows[y] = EncodeRow(image, y);
  }
  std::vector<png_bytep> rowPointers;
  for (auto& row : rows) rowPointers.push_back(row.data());

  PngErrorState state;
  PngWriteStructs writer(state);
  if (!writer.info) throw FileError(path, "out of memory writing PNG");
  png_structp png = writer.png;
  png_infop info = writer.info;
  const bool ok = GuardedPng(png, [&] {
    png_init_io(png, file.get());
    png_set_IHDR(png, info, image.Width(), image.Height(), 16, PNG_COLOR_TYPE_RGBA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_sRGB_gAMA_and_cHRM(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    std::string key = "Description";
    std::string text = description;
    png_text chunk{};
    chunk.compression = PNG_TEXT_COMPRESSION_NONE;
    chunk.key = key.data();
    chunk.text = text.data();
    chunk.text_length = text.size();
    if (!description.empty()) png_set_text(png, info, &chunk, 1);
    png_write_info(png, info);
    for (png_bytep row : rowPointers) {
      if (abort.Requested()) return;
      png_write_row(png, row);
    }
    png_write_end(png, nullptr);
  });
  abort.ThrowIfRequested();
  if (!ok) throw FileError(path, std::string("cannot write PNG (") + state.message + ")");
  if (std::fflush(file.get()) != 0 || std::ferror(file.get())) {
    throw FileError(path, std::string("cannot write (") + std::strerror(errno) + ")");
  }
}

Image ReadPng(const std::string& path, const AbortCheck& abort) {
  FilePtr file = OpenFile(path, "rb");
  png_byte signature[8] = {};
  if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
      png_sig_cmp(signature, 0, sizeof signature) != 0) {
    throw FileError(path, "not a PNG file");
  }
  PngErrorState state;
  PngReadStructs reader(state);
  if (!reader.info) throw FileError(path, "out of memory reading PNG");
  png_structp png = reader.png;
  png_infop info = reader.info;
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  std::vector<png_byte> data;
  std::vector<png_bytep> rows;
  const bool ok = GuardedPng(png, [&] {
    png_init_io(png, file.get());
    png_set_sig_bytes(png, sizeof signature);
    png_read_info(png, info);
    // Everything becomes 16-bit RGBA: palette and grey expanded, 8-bit
    // samples widened, a missing alpha filled opaque.
    png_set_expand(png);
    png_set_gray_to_rgb(png);
    png_set_expand_16(png);
    png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    if (width > std::numeric_limits<uint16_t>::max() ||
        height > std::numeric_limits<uint16_t>::max()) {
      png_error(png, "image larger than 65535 pixels");
    }
    const size_t rowBytes = png_get_rowbytes(png, info);
    data.resize(rowBytes * height);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = &data[y * rowBytes];
    for (int pass = 0; pass < passes; ++pass) {
      for (png_bytep row : rows) {
        if (abort.Requested()) return;
        png_read_row(png, row, nullptr);
      }
    }
    png_read_end(png, nullptr);
  });
  abort.ThrowIfRequested();
  if (!ok) throw FileError(path, std::string("cannot read PNG (") + state.message + ")");

  Image image{Bitmap(static_cast<uint16_t>(width), static_cast<uint16_t>(height)), {}};
  BMM_Color_64* out = image.Storage().Pixels();
  for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
    abort.Poll(i);
    png_const_bytep in = &data[i * PNG_CHANNELS * 2];
    out[i] = {GetSample(in), GetSample(in + 2), GetSample(in + 4), GetSample(in + 6)};
  }
  return image;
}

}  // namespace kestrion
