// float_frame.h: the synthetic frame (synthetic_frame.h) as a float render
// and as the OpenEXR file a renderer would write of it, for the benchmarks
// of kestrion's float passes and of `kestrion render`.
#pragma once

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <half.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "formats/frame_planes.h"
#include "synthetic_frame.h"

namespace kestrion_bench {

// Opaque, premultiplied (alpha 1) linear colour, and depth as the
// renderer's Z. With highlights, colour runs up to about 1.5 with a
// specular highlight of 40 on one pixel in 997, as renders have; without,
// every value lies below 1.
struct FloatFrame {
  kestrion::FramePlanes planes;
  std::vector<float> z;
};

inline FloatFrame MakeFloatFrame(uint16_t width, uint16_t height, bool highlights = true) {
  SyntheticFrame source(width, height);
  BitmapStorage& storage = *source.bitmap.Storage();
  FloatFrame frame;
  frame.planes.width = width;
  frame.planes.height = height;
  const size_t count = frame.planes.PixelCount();
  frame.planes.colour.assign(3, kestrion::Plane(count));
  frame.planes.colourNames = {"R", "G", "B"};
  frame.planes.alpha = kestrion::Plane(count, 1.0f);
  const float unit = highlights ? 43690.0f : 65536.0f;
  for (size_t i = 0; i < count; ++i) {
    const BMM_Color_64& p = storage.Pixels()[i];
    const float highlight = highlights && i % 997 == 0 ? 40.0f : 1.0f;
    frame.planes.colour[0][i] = p.r / unit * highlight;
    frame.planes.colour[1][i] = p.g / unit * highlight;
    frame.planes.colour[2][i] = p.b / unit * highlight;
  }
  frame.z.assign(storage.ZChannel(), storage.ZChannel() + count);
  return frame;
}

// A pixel of the box at the focal depth, for --focus-pixel.
inline std::pair<int, int> FocalPixel(int width, int height) {
  return {width * 10 / 23 + width / 24, height / 2};
}

// A path in the temporary directory named for this process.
inline std::string TemporaryPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("kestrion-bench-" + std::to_string(getpid()) + "-" + name + ".exr"))
      .string();
}

// The frame as a ZIP-compressed float R, G, B, A, Z file (Z the distance
// in front of the camera, +infinity for the sky), or with R, G, B and A as
// half floats, removed with the object.
class FrameFile {
 public:
  FrameFile(const FloatFrame& frame, const std::string& name, bool halfColour = false)
      : path(TemporaryPath(name)) {
    const int width = frame.planes.width;
    Imf::Header header(width, frame.planes.height);
    Imf::FrameBuffer buffer;
    std::vector<float> depth(frame.z.size());
    for (size_t i = 0; i < depth.size(); ++i) depth[i] = -frame.z[i];
    const std::pair<const char*, const float*> channels[] = {{"R", frame.planes.colour[0].data()},
                                                             {"G", frame.planes.colour[1].data()},
                                                             {"B", frame.planes.colour[2].data()},
                                                             {"A", frame.planes.alpha->data()},
                                                             {"Z", depth.data()}};
    std::vector<std::vector<half>> halves;
    for (const auto& [channel, values] : channels) {
      if (halfColour && std::string(channel) != "Z") {
        halves.emplace_back(values, values + depth.size());
        header.channels().insert(channel, Imf::Channel(Imf::HALF));
        buffer.insert(channel, Imf::Slice(Imf::HALF, reinterpret_cast<char*>(halves.back().data()),
                                          sizeof(half), sizeof(half) * width));
        continue;
      }
      header.channels().insert(channel, Imf::Channel(Imf::FLOAT));
      buffer.insert(channel,
                    Imf::Slice(Imf::FLOAT, const_cast<char*>(reinterpret_cast<const char*>(values)),
                               sizeof(float), sizeof(float) * width));
    }
    Imf::OutputFile file(path.c_str(), header);
    file.setFrameBuffer(buffer);
    file.writePixels(frame.planes.height);
  }
  ~FrameFile() { std::remove(path.c_str()); }
  FrameFile(const FrameFile&) = delete;
  FrameFile& operator=(const FrameFile&) = delete;

  const std::string path;
};

}  // namespace kestrion_bench
