#include "formats/exr_io.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <half.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "base/errors.h"
#include "formats/exr_document.h"
#include "formats/exr_preflight.h"

namespace kestrion {

namespace {

constexpr float DEPTH_BACKGROUND = 1.0e30f;

int64_t Side(int min, int max) { return static_cast<int64_t>(max) - min + 1; }

// One channel of the data window, as read from the file.
template <typename T>
struct Plane {
  std::vector<T> values;
  bool present = false;
};

// The data window's pixels of every channel kestrion uses.
struct DataWindowPixels {
  Imath::Box2i window;
  size_t width = 0;
  Plane<float> r, g, b, a, depth;
  Plane<uint32_t> objectId, materialId;
};

template <typename T>
void AddSlice(Imf::FrameBuffer& frame, const Imf::ChannelList& channels, const char* name,
              Imf::PixelType type, Plane<T>& plane, const Imath::Box2i& window, double fill) {
  const Imf::Channel* channel = channels.findChannel(name);
  if (!channel) return;
  if (channel->xSampling != 1 || channel->ySampling != 1) {
    throw std::runtime_error(std::string("channel ") + name + " is subsampled");
  }
  plane.values.resize(static_cast<size_t>(Side(window.min.x, window.max.x)) *
                      static_cast<size_t>(Side(window.min.y, window.max.y)));
  plane.present = true;
  frame.insert(name, Imf::Slice::Make(type, plane.values.data(), window, 0, 0, 1, 1, fill));
}

DataWindowPixels ReadDataWindow(Imf::InputFile& file) {
  const Imf::Header& header = file.header();
  DataWindowPixels pixels;
  pixels.window = header.dataWindow();
  pixels.width = static_cast<size_t>(Side(pixels.window.min.x, pixels.window.max.x));
  const Imf::ChannelList& channels = header.channels();
  if (!channels.findChannel("R") || !channels.findChannel("G") || !channels.findChannel("B")) {
    throw std::runtime_error("no R, G and B channels");
  }
  Imf::FrameBuffer frame;
  const Imath::Box2i& w = pixels.window;
  AddSlice(frame, channels, "R", Imf::FLOAT, pixels.r, w, 0.0);
  AddSlice(frame, channels, "G", Imf::FLOAT, pixels.g, w, 0.0);
  AddSlice(frame, channels, "B", Imf::FLOAT, pixels.b, w, 0.0);
  AddSlice(frame, channels, "A", Imf::FLOAT, pixels.a, w, 1.0);
  AddSlice(frame, channels, EXR_DEPTH_CHANNEL, Imf::FLOAT, pixels.depth, w, 0.0);
  AddSlice(frame, channels, EXR_OBJECT_ID_CHANNEL, Imf::UINT, pixels.objectId, w, 0.0);
  AddSlice(frame, channels, EXR_MATERIAL_ID_CHANNEL, Imf::UINT, pixels.materialId, w, 0.0);
  file.setFrameBuffer(frame);
  file.readPixels(w.min.y, w.max.y);
  return pixels;
}

float BrightestColour(const DataWindowPixels& pixels) {
  float brightest = 1.0f;
  for (const auto* plane : {&pixels.r, &pixels.g, &pixels.b}) {
    for (float v : plane->values) {
      if (std::isfinite(v)) brightest = std::max(brightest, v);
    }
  }
  return brightest;
}

uint32_t CheckedId(uint32_t id, uint32_t max, const char* channel, int x, int y) {
  if (id > max) {
    throw std::runtime_error(std::string(channel) + " value " + std::to_string(id) + " at pixel (" +
                             std::to_string(x) + ", " + std::to_string(y) + ") exceeds " +
                             std::to_string(max));
  }
  return id;
}

Image ToImage(const Imath::Box2i& display, const DataWindowPixels& pixels) {
  const int64_t width = Side(display.min.x, display.max.x);
  const int64_t height = Side(display.min.y, display.max.y);
  Image image{Bitmap(static_cast<uint16_t>(width), static_cast<uint16_t>(height)), {}};
  image.encoding = {true, BrightestColour(pixels)};
  BitmapStorage& storage = image.Storage();
  uint32_t channels = 0;
  if (pixels.depth.present) channels |= CHANNEL_Z;
  if (pixels.materialId.present) channels |= CHANNEL_MTL_ID;
  if (pixels.objectId.present) channels |= CHANNEL_OBJ_ID;
  storage.CreateChannels(channels);

  const Imath::Box2i& data = pixels.window;
  const int x0 = std::max(display.min.x, data.min.x);
  const int x1 = std::min(display.max.x, data.max.x);
  const int y0 = std::max(display.min.y, data.min.y);
  const int y1 = std::min(display.max.y, data.max.y);
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      const size_t in =
          static_cast<size_t>(y - data.min.y) * pixels.width + static_cast<size_t>(x - data.min.x);
      const size_t out = static_cast<size_t>(y - display.min.y) * static_cast<size_t>(width) +
                         static_cast<size_t>(x - display.min.x);
      const float alpha = pixels.a.present ? pixels.a.values[in] : 1.0f;
      storage.Pixels()[out] = {LightToChannel(pixels.r.values[in], image.encoding),
                               LightToChannel(pixels.g.values[in], image.encoding),
                               LightToChannel(pixels.b.values[in], image.encoding),
                               UnitToChannel(alpha)};
      if (pixels.depth.present) storage.ZChannel()[out] = DepthToZ(pixels.depth.values[in]);
      if (pixels.materialId.present) {
        storage.MtlChannel()[out] = static_cast<uint8_t>(CheckedId(
            pixels.materialId.values[in], MATERIAL_ID_MAX, EXR_MATERIAL_ID_CHANNEL, x, y));
      }
      if (pixels.objectId.present) {
        storage.ObjChannel()[out] = static_cast<uint16_t>(
            CheckedId(pixels.objectId.values[in], OBJECT_ID_MAX, EXR_OBJECT_ID_CHANNEL, x, y));
      }
    }
  }
  return image;
}

}  // namespace

float DepthToZ(float depth) {
  if (!std::isfinite(depth) || depth >= DEPTH_BACKGROUND) return Z_BACKGROUND;
  return -depth;
}

float ZToDepth(float z) {
  if (!(z > Z_BACKGROUND)) return std::numeric_limits<float>::infinity();
  return -z;
}

Image ReadExr(const std::string& path) {
  PreflightExr(path, ResourceLimits{});
  try {
    Imf::InputFile file(path.c_str());
    const Imath::Box2i display = file.header().displayWindow();
    return ToImage(display, ReadDataWindow(file));
  } catch (const std::bad_alloc&) {
    throw FileError(path, "not enough memory to read it");
  } catch (const std::exception& e) {
    throw FileError(path, OneLine(e.what()));
  }
}

void WriteExr(const Image& image, const std::string& path) {
  const size_t width = image.Width();
  const size_t count = width * image.Height();
  BitmapStorage& storage = image.Storage();
  // Colour is stored as half floats, the usual precision of colour in
  // OpenEXR files; depth keeps full floats.
  std::vector<half> r(count), g(count), b(count), a(count);
  std::vector<float> depth;
  for (size_t i = 0; i < count; ++i) {
    const BMM_Color_64& p = storage.Pixels()[i];
    r[i] = ChannelToLight(p.r, image.encoding);
    g[i] = ChannelToLight(p.g, image.encoding);
    b[i] = ChannelToLight(p.b, image.encoding);
    a[i] = static_cast<float>(p.a) / CHANNEL_MAX;
  }
  std::vector<uint32_t> objectIds, materialIds;
  if (const float* z = storage.ZChannel()) {
    depth.resize(count);
    std::transform(z, z + count, depth.begin(), ZToDepth);
  }
  if (const uint16_t* ids = storage.ObjChannel()) objectIds.assign(ids, ids + count);
  if (const uint8_t* ids = storage.MtlChannel()) materialIds.assign(ids, ids + count);

  // Written as `kestrion render` writes its frames (exr_document.h).
  Imf::Header header(static_cast<int>(width), image.Height());
  header.compression() = Imf::ZIP_COMPRESSION;
  std::map<std::string, ExrChannel::Samples> planes;
  auto add = [&](const char* name, Imf::PixelType type, ExrChannel::Samples samples) {
    header.channels().insert(name, Imf::Channel(type));
    planes[name] = std::move(samples);
  };
  add("R", Imf::HALF, std::move(r));
  add("G", Imf::HALF, std::move(g));
  add("B", Imf::HALF, std::move(b));
  add("A", Imf::HALF, std::move(a));
  if (!depth.empty()) add(EXR_DEPTH_CHANNEL, Imf::FLOAT, std::move(depth));
  if (!objectIds.empty()) add(EXR_OBJECT_ID_CHANNEL, Imf::UINT, std::move(objectIds));
  if (!materialIds.empty()) add(EXR_MATERIAL_ID_CHANNEL, Imf::UINT, std::move(materialIds));
  ExrDocument document{path, {}};
  ExrPart part{header, {}};
  for (auto it = header.channels().begin(); it != header.channels().end(); ++it) {
    part.channels.push_back({it.name(), std::move(planes[it.name()])});
  }
  document.parts.push_back(std::move(part));
  WriteExrDocument(document, path);
}

}  // namespace kestrion
