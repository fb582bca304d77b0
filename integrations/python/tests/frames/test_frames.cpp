// kestrion_python_test_frames: the frames the Python module's tests filter,
// as OpenEXR files for `kestrion render` and as raw planes for numpy.
//
//   write PATH WIDTH HEIGHT half|float 3|4 [ids]
//     PATH: R, G, B (and A) of that type, Z as float, and with `ids`
//     objectId and materialId as float channels; beside it the same planes
//     raw: PATH.colour (interleaved samples of the type), PATH.depth
//     (float32), PATH.objectId and PATH.materialId (int32).
//   read PATH OUT
//     OUT: the R, G, B (and A) samples of PATH in their stored type,
//     interleaved.
//
// The depths cover the range of a scene with every kind of background a
// renderer writes (infinity, NaN, 1e9 and beyond), so that the filter's
// windows, background and ID tests all take part.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfInputFile.h>
#include <half.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/exr_test_files.h"

namespace {

using kestrion::test_files::ExrChannelLayout;
using kestrion::test_files::Part;
using kestrion::test_files::WriteExrFile;

double ColourAt(int k, int x, int y) {
  if (k == 3) return 0.2 + ((x * 13 + y * 7) % 50) / 62.5;
  return 0.05 + ((x * (37 + 4 * k) + y * (11 + 3 * k) + 5 * k) % 97) / 40.0;
}

double DepthAt(int x, int y) {
  const int i = x + 131 * y;
  if (i % 17 == 3) return std::numeric_limits<double>::infinity();
  if (i % 23 == 5) return std::numeric_limits<double>::quiet_NaN();
  if (i % 29 == 7) return 1e9;
  if (i % 31 == 11) return 3e10;
  return 2.0 + 30.0 * (0.5 + 0.5 * std::sin(x * 0.13 + y * 0.07));
}

int ObjectAt(int x, int y) { return (x / 8 + y / 8) % 6; }
int MaterialAt(int x, int y) { return (x / 5 + 2 * y / 7) % 4; }

double SampleOf(const std::string& name, int x, int y) {
  if (name == "Z") return DepthAt(x, y);
  if (name == "objectId") return ObjectAt(x, y);
  if (name == "materialId") return MaterialAt(x, y);
  return ColourAt(static_cast<int>(std::string("RGBA").find(name)), x, y);
}

template <typename T>
void WriteRaw(const std::string& path, const std::vector<T>& values) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(values.data()),
            static_cast<std::streamsize>(values.size() * sizeof(T)));
  if (!out) throw std::runtime_error(path + ": cannot write it");
}

int Write(const std::string& path, int width, int height, bool halves, int channels, bool ids) {
  const Imf::PixelType type = halves ? Imf::HALF : Imf::FLOAT;
  std::vector<ExrChannelLayout> layout;
  for (int k = 0; k < channels; ++k) layout.push_back({std::string(1, "RGBA"[k]), type});
  layout.push_back({"Z", Imf::FLOAT});
  if (ids) {
    layout.push_back({"objectId", Imf::FLOAT});
    layout.push_back({"materialId", Imf::FLOAT});
  }
  const Imath::Box2i window{{0, 0}, {width - 1, height - 1}};
  WriteExrFile(path, {Part("", window, window, layout)},
               [](const std::string& name, int, int x, int y) { return SampleOf(name, x, y); });

  std::vector<float> floats;
  std::vector<uint16_t> bits;
  std::vector<float> depth;
  std::vector<int32_t> objects, materials;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int k = 0; k < channels; ++k) {
        const float value = static_cast<float>(ColourAt(k, x, y));
        if (halves) {
          bits.push_back(half(value).bits());
        } else {
          floats.push_back(value);
        }
      }
      depth.push_back(static_cast<float>(DepthAt(x, y)));
      objects.push_back(ObjectAt(x, y));
      materials.push_back(MaterialAt(x, y));
    }
  }
  if (halves) {
    WriteRaw(path + ".colour", bits);
  } else {
    WriteRaw(path + ".colour", floats);
  }
  WriteRaw(path + ".depth", depth);
  if (ids) {
    WriteRaw(path + ".objectId", objects);
    WriteRaw(path + ".materialId", materials);
  }
  return 0;
}

int Read(const std::string& path, const std::string& outPath) {
  Imf::InputFile file(path.c_str());
  const Imath::Box2i window = file.header().dataWindow();
  const int width = window.max.x - window.min.x + 1;
  const int height = window.max.y - window.min.y + 1;
  std::vector<std::string> names;
  Imf::PixelType type = Imf::FLOAT;
  for (const char* name : {"R", "G", "B", "A"}) {
    if (const Imf::Channel* channel = file.header().channels().findChannel(name)) {
      names.push_back(name);
      type = channel->type;
    }
  }
  const size_t sample = type == Imf::HALF ? 2 : 4;
  const size_t channels = names.size();
  std::vector<char> pixels(static_cast<size_t>(width) * height * channels * sample);
  Imf::FrameBuffer buffer;
  for (size_t k = 0; k < channels; ++k) {
    char* origin = pixels.data() + k * sample -
                   (static_cast<ptrdiff_t>(window.min.y) * width + window.min.x) *
                       static_cast<ptrdiff_t>(channels * sample);
    buffer.insert(names[k], Imf::Slice(type, origin, channels * sample,
                                       static_cast<size_t>(width) * channels * sample));
  }
  file.setFrameBuffer(buffer);
  file.readPixels(window.min.y, window.max.y);
  WriteRaw(outPath, pixels);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (words.size() >= 5 && words[0] == "write") {
      return Write(words[1], std::stoi(words[2]), std::stoi(words[3]), words[4] == "half",
                   words.size() > 5 ? std::stoi(words[5]) : 4,
                   words.size() > 6 && words[6] == "ids");
    }
    if (words.size() == 3 && words[0] == "read") return Read(words[1], words[2]);
    std::fprintf(stderr, "usage: %s write PATH W H half|float 3|4 [ids] | read PATH OUT\n",
                 argv[0]);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
