// kestrion_exr_reference IN OUT [THREADS]: reads every part and channel of
// an OpenEXR file with OpenEXR and writes them back, and nothing else: the
// lower bound of any program that filters such files, against which the
// benchmarks measure `kestrion render`.
//
// It does what a careful program would: OpenEXR's global thread pool sized
// to the threads asked for (0 or none: one a hardware thread), each part
// read whole into one frame buffer of its channels in their own pixel
// types, then written in one call with the input's headers, so the same
// compression, compression level, line order and tiling.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfThreading.h>
#include <ImfTiledInputPart.h>
#include <ImfTiledOutputPart.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Part {
  Imf::Header header;
  std::vector<std::vector<char>> samples;  // a block per channel, the data window
  Imf::FrameBuffer frame;
};

bool Tiled(const Imf::Header& header) {
  return header.hasType() ? Imf::isTiled(header.type()) : header.hasTileDescription();
}

Part ReadPart(Imf::MultiPartInputFile& file, int index) {
  Part part{file.header(index), {}, {}};
  const Imath::Box2i window = part.header.dataWindow();
  const size_t pixels = static_cast<size_t>(window.max.x - window.min.x + 1) *
                        static_cast<size_t>(window.max.y - window.min.y + 1);
  const Imf::ChannelList& channels = part.header.channels();
  for (auto it = channels.begin(); it != channels.end(); ++it) {
    const size_t bytes = it.channel().type == Imf::HALF ? 2 : 4;
    part.samples.emplace_back(pixels * bytes);
    part.frame.insert(it.name(),
                      Imf::Slice::Make(it.channel().type, part.samples.back().data(), window));
  }
  if (Tiled(part.header)) {
    Imf::TiledInputPart input(file, index);
    input.setFrameBuffer(part.frame);
    input.readTiles(0, input.numXTiles() - 1, 0, input.numYTiles() - 1);
  } else {
    Imf::InputPart input(file, index);
    input.setFrameBuffer(part.frame);
    input.readPixels(window.min.y, window.max.y);
  }
  return part;
}

void WritePart(Imf::MultiPartOutputFile& file, int index, const Part& part) {
  if (Tiled(part.header)) {
    Imf::TiledOutputPart output(file, index);
    output.setFrameBuffer(part.frame);
    output.writeTiles(0, output.numXTiles() - 1, 0, output.numYTiles() - 1);
  } else {
    Imf::OutputPart output(file, index);
    output.setFrameBuffer(part.frame);
    const Imath::Box2i window = part.header.dataWindow();
    output.writePixels(window.max.y - window.min.y + 1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: kestrion_exr_reference IN OUT [THREADS]\n");
    return 2;
  }
  const int asked = argc == 4 ? std::atoi(argv[3]) : 0;
  const int threads = asked > 0 ? asked : static_cast<int>(std::thread::hardware_concurrency());
  try {
    Imf::setGlobalThreadCount(threads);
    std::vector<Part> parts;
    std::vector<Imf::Header> headers;
    {
      Imf::MultiPartInputFile input(argv[1], threads);
      for (int i = 0; i < input.parts(); ++i) {
        parts.push_back(ReadPart(input, i));
        headers.push_back(parts.back().header);
      }
    }
    // A one-part file is written back as a one-part file.
    Imf::MultiPartOutputFile output(argv[2], headers.data(), static_cast<int>(headers.size()),
                                    false, threads);
    for (size_t i = 0; i < parts.size(); ++i) WritePart(output, static_cast<int>(i), parts[i]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestrion_exr_reference: %s\n", e.what());
    return 1;
  }
  return 0;
}
