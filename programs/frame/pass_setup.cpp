#include "frame/pass_setup.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/errors.h"

namespace kestrion {

void SetCamera(Image& frame) {
  RenderInfo& info = frame.Storage().CreateRenderInfo();
  info.renderTime = 0;
  info.worldToCam = Matrix3::Identity();
}

void PlaceFocalNode(Interface& scene, const FocusConfig& record, float depth) {
  const std::string name(record.focalObjectName,
                         strnlen(record.focalObjectName, sizeof record.focalObjectName));
  scene.AddNode(name).SetWorldTransform(0, Matrix3::Translation({0.0f, 0.0f, -depth}));
}

size_t PassBitmapBytes(const FramePlanes& frame, const std::vector<float>& rendererZ) {
  const size_t perPixel = sizeof(BMM_Color_64) + (rendererZ.empty() ? 0 : sizeof(float)) +
                          (frame.objectId ? sizeof(uint16_t) : 0) +
                          (frame.materialId ? sizeof(uint8_t) : 0);
  return frame.PixelCount() * perPixel;
}

Image PassBitmap(const FramePlanes& frame, const std::vector<float>& rendererZ,
                 const std::string& frameName) {
  constexpr int32_t LARGEST = std::numeric_limits<uint16_t>::max();
  if (frame.width < 1 || frame.height < 1 || frame.width > LARGEST || frame.height > LARGEST) {
    throw FileError(frameName, "a frame of " + std::to_string(frame.width) + " x " +
                                   std::to_string(frame.height) +
                                   " pixels cannot be filtered (1 to 65535 pixels a side)");
  }
  const size_t count = frame.PixelCount();
  Image image{Bitmap(static_cast<uint16_t>(frame.width), static_cast<uint16_t>(frame.height)),
              ColourEncoding{true, 1.0f}};
  BitmapStorage& storage = image.Storage();
  uint32_t channels = 0;
  if (!rendererZ.empty()) channels |= CHANNEL_Z;
  if (frame.objectId) channels |= CHANNEL_OBJ_ID;
  if (frame.materialId) channels |= CHANNEL_MTL_ID;
  storage.CreateChannels(channels);
  if (!rendererZ.empty()) {
    if (rendererZ.size() != count) throw FileError(frameName, "the depth plane has the wrong size");
    std::copy(rendererZ.begin(), rendererZ.end(), storage.ZChannel());
  }
  if (frame.objectId) {
    if (frame.objectId->size() != count)
      throw FileError(frameName, "the object IDs have the wrong size");
    std::copy(frame.objectId->begin(), frame.objectId->end(), storage.ObjChannel());
  }
  if (frame.materialId) {
    if (frame.materialId->size() != count) {
      throw FileError(frameName, "the material IDs have the wrong size");
    }
    std::copy(frame.materialId->begin(), frame.materialId->end(), storage.MtlChannel());
  }
  return image;
}

}  // namespace kestrion
