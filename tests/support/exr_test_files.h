// exr_test_files.h: small OpenEXR files written by the tests themselves,
// with distinct values in every channel and pixel.
#pragma once

#include <ImfChannelList.h>
#include <ImfCompression.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfStdIO.h>
#include <ImfTiledOutputPart.h>
#include <ImfVersion.h>
#include <half.h>
#include <openexr.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kestrion::test_files {

struct ExrChannelLayout {
  std::string name;
  Imf::PixelType type = Imf::HALF;
};

struct ExrPartLayout {
  std::string name;  // empty: no name attribute (single-part files only)
  Imath::Box2i dataWindow{{0, 0}, {6, 4}};
  Imath::Box2i displayWindow{{0, 0}, {6, 4}};
  std::vector<ExrChannelLayout> channels;
  bool tiled = false;
  Imf::Compression compression = Imf::ZIP_COMPRESSION;
  // Extra attributes, added to the header as they are.
  std::function<void(Imf::Header&)> attributes;
};

inline ExrPartLayout Part(std::string name, Imath::Box2i dataWindow, Imath::Box2i displayWindow,
                          std::vector<ExrChannelLayout> channels) {
  ExrPartLayout layout;
  layout.name = std::move(name);
  layout.dataWindow = dataWindow;
  layout.displayWindow = displayWindow;
  layout.channels = std::move(channels);
  return layout;
}

// A sample for channel number k at file pixel (x, y): whole numbers for ID
// channels (names with "Id" or "Index"), otherwise distinct fractions.
inline double SampleAt(const std::string& name, int k, int x, int y) {
  if (name.find("Id") != std::string::npos || name.find("Index") != std::string::npos) {
    return (x + 2 * y + k) % 5;
  }
  if (name == "Z" || name.find(".Z") != std::string::npos || name == "depth") {
    return 2.0 + 0.75 * x + 3.5 * y + 0.001 * k;
  }
  return (k + 1) * 0.0625 + x * 0.5 + y * 0.03125 + (x == 0 ? 1e-3 : 0.0);
}

inline Imf::Header HeaderOf(const ExrPartLayout& layout) {
  Imf::Header header(layout.displayWindow, layout.dataWindow);
  header.compression() = layout.compression;
  for (const ExrChannelLayout& c : layout.channels) header.channels().insert(c.name, c.type);
  if (!layout.name.empty()) header.setName(layout.name);
  header.setType(layout.tiled ? Imf::TILEDIMAGE : Imf::SCANLINEIMAGE);
  if (layout.tiled) header.setTileDescription(Imf::TileDescription(4, 3));
  if (layout.attributes) layout.attributes(header);
  return header;
}

// A sample value for channel `name`, number k in its part, at file pixel
// (x, y).
using SampleFunction = std::function<double(const std::string& name, int k, int x, int y)>;

// Writes the parts with the samples `sample` gives (SampleAt unless told
// otherwise), each stored in its channel's type.
inline void WriteExrFile(const std::string& path, const std::vector<ExrPartLayout>& parts,
                         const SampleFunction& sample = SampleAt) {
  std::vector<Imf::Header> headers;
  for (const ExrPartLayout& layout : parts) headers.push_back(HeaderOf(layout));
  Imf::MultiPartOutputFile file(path.c_str(), headers.data(), static_cast<int>(headers.size()));
  for (size_t p = 0; p < parts.size(); ++p) {
    const ExrPartLayout& layout = parts[p];
    const Imath::Box2i& w = layout.dataWindow;
    const int width = w.max.x - w.min.x + 1, height = w.max.y - w.min.y + 1;
    std::vector<std::vector<float>> floats(layout.channels.size());
    std::vector<std::vector<half>> halves(layout.channels.size());
    std::vector<std::vector<uint32_t>> uints(layout.channels.size());
    Imf::FrameBuffer frame;
    for (size_t k = 0; k < layout.channels.size(); ++k) {
      const ExrChannelLayout& c = layout.channels[k];
      for (int y = w.min.y; y <= w.max.y; ++y) {
        for (int x = w.min.x; x <= w.max.x; ++x) {
          const double v = sample(c.name, static_cast<int>(k), x, y);
          // Each type gets its own samples; a UINT sample is a whole number in
          // range (converting a negative value would be undefined).
          if (c.type == Imf::UINT) {
            uints[k].push_back(v > 0.0 && v < 4294967296.0 ? static_cast<uint32_t>(v) : 0u);
          } else if (c.type == Imf::HALF) {
            halves[k].push_back(half(static_cast<float>(v)));
          } else {
            floats[k].push_back(static_cast<float>(v));
          }
        }
      }
      const void* data = c.type == Imf::HALF    ? static_cast<const void*>(halves[k].data())
                         : c.type == Imf::FLOAT ? static_cast<const void*>(floats[k].data())
                                                : static_cast<const void*>(uints[k].data());
      frame.insert(c.name, Imf::Slice::Make(c.type, data, w));
    }
    if (layout.tiled) {
      Imf::TiledOutputPart out(file, static_cast<int>(p));
      out.setFrameBuffer(frame);
      out.writeTiles(0, out.numXTiles() - 1, 0, out.numYTiles() - 1);
    } else {
      Imf::OutputPart out(file, static_cast<int>(p));
      out.setFrameBuffer(frame);
      out.writePixels(height);
    }
    (void)width;
  }
}

// Every attribute of a header as type name and serialised value.
inline std::map<std::string, std::string> AttributeBytes(const Imf::Header& header) {
  std::map<std::string, std::string> bytes;
  for (auto it = header.begin(); it != header.end(); ++it) {
    Imf::StdOSStream stream;
    it.attribute().writeValueTo(stream, Imf::EXR_VERSION);
    bytes[it.name()] = std::string(it.attribute().typeName()) + ":" + stream.str();
  }
  return bytes;
}

// Damaging files on purpose, to see them refused. The chunks are found with
// OpenEXR's core library; only the bytes named are changed.

// Where chunk `index` (scanline chunks counted from the top, tiles row by
// row) of `part` lies in the file, as its offset table says.
inline exr_chunk_info_t ChunkInfo(const std::string& path, int part, int index) {
  exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
  exr_context_t file = nullptr;
  exr_chunk_info_t info{};
  if (exr_start_read(&file, path.c_str(), &init) != EXR_ERR_SUCCESS) return info;
  exr_storage_t storage{};
  exr_get_storage(file, part, &storage);
  if (storage == EXR_STORAGE_TILED) {
    int32_t width = 0, height = 0;
    uint32_t tileWidth = 1, tileHeight = 1;
    exr_tile_level_mode_t mode{};
    exr_tile_round_mode_t round{};
    exr_get_level_sizes(file, part, 0, 0, &width, &height);
    exr_get_tile_descriptor(file, part, &tileWidth, &tileHeight, &mode, &round);
    const int across = (width + static_cast<int>(tileWidth) - 1) / static_cast<int>(tileWidth);
    exr_read_tile_chunk_info(file, part, index % across, index / across, 0, 0, &info);
  } else {
    exr_attr_box2i_t window{};
    int32_t rows = 1;
    exr_get_data_window(file, part, &window);
    exr_get_scanlines_per_chunk(file, part, &rows);
    exr_read_scanline_chunk_info(file, part, window.min.y + index * rows, &info);
  }
  exr_finish(&file);
  return info;
}

// Overwrites four bytes at `offset` with `value` (little-endian, as
// OpenEXR stores it).
inline void PatchInt32(const std::string& path, uint64_t offset, int32_t value) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(static_cast<std::streamoff>(offset));
  const uint32_t bits = static_cast<uint32_t>(value);
  const char bytes[4] = {static_cast<char>(bits & 0xFF), static_cast<char>((bits >> 8) & 0xFF),
                         static_cast<char>((bits >> 16) & 0xFF),
                         static_cast<char>((bits >> 24) & 0xFF)};
  file.write(bytes, 4);
}

// Sets the size a scanline chunk's leader declares for its data.
inline void SetChunkSize(const std::string& path, int part, int index, int32_t bytes) {
  PatchInt32(path, ChunkInfo(path, part, index).data_offset - 4, bytes);
}

// The offset just after the first occurrence of `bytes` in the file, or 0.
inline uint64_t OffsetAfter(const std::string& path, const std::string& bytes) {
  std::ifstream file(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t at = text.find(bytes);
  return at == std::string::npos ? 0 : at + bytes.size();
}

inline void CutLastBytes(const std::string& path, uint64_t bytes) {
  std::filesystem::resize_file(path, std::filesystem::file_size(path) - bytes);
}

// A render's file: half colour and alpha, float depth, ZIP.
inline void WriteRender(const std::string& path, int width, int height) {
  const Imath::Box2i window{{0, 0}, {width - 1, height - 1}};
  WriteExrFile(path, {Part("", window, window,
                           {{"R", Imf::HALF},
                            {"G", Imf::HALF},
                            {"B", Imf::HALF},
                            {"A", Imf::HALF},
                            {"Z", Imf::FLOAT}})});
}

}  // namespace kestrion::test_files
