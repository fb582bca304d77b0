#include "host/bitmap.h"

#include <algorithm>
#include <cstring>

namespace {

BitmapManager theManagerObject;

size_t PixelCount(uint16_t w, uint16_t h) { return static_cast<size_t>(w) * h; }

// True when the span [x, x + count) of row y lies inside a w x h image.
bool SpanInside(int x, int y, int count, uint16_t w, uint16_t h) {
  return x >= 0 && y >= 0 && count >= 0 && y < h && static_cast<int64_t>(x) + count <= w;
}

}  // namespace

BitmapManager* TheManager = &theManagerObject;

BitmapStorage::BitmapStorage(uint16_t w, uint16_t h)
    : width(w), height(h), pixels(PixelCount(w, h), BMM_Color_64{0, 0, 0, 0}) {}

int BitmapStorage::GetPixels(int x, int y, int count, BMM_Color_64* dst) const {
  if (!dst || !SpanInside(x, y, count, width, height)) return 0;
  std::memcpy(dst, pixels.data() + static_cast<size_t>(y) * width + x,
              static_cast<size_t>(count) * sizeof(BMM_Color_64));
  return 1;
}

int BitmapStorage::PutPixels(int x, int y, int count, const BMM_Color_64* src) {
  if (!src || !SpanInside(x, y, count, width, height)) return 0;
  std::memcpy(pixels.data() + static_cast<size_t>(y) * width + x, src,
              static_cast<size_t>(count) * sizeof(BMM_Color_64));
  return 1;
}

void* BitmapStorage::GetChannel(uint32_t code, uint32_t& type) {
  type = 0;
  void* data = nullptr;
  switch (code) {
    case CHANNEL_Z:
      data = ZChannel();
      type = sizeof(float);
      break;
    case CHANNEL_MTL_ID:
      data = MtlChannel();
      type = sizeof(uint8_t);
      break;
    case CHANNEL_OBJ_ID:
      data = ObjChannel();
      type = sizeof(uint16_t);
      break;
    default:
      return nullptr;
  }
  if (!data) type = 0;
  return data;
}

RenderInfo* BitmapStorage::GetRenderInfo() { return renderInfo.get(); }

void BitmapStorage::CreateChannels(uint32_t codes) {
  const size_t n = PixelCount(width, height);
  // A channel is "carried" even by an empty image; keep one element so that
  // its pointer is not null.
  const size_t alloc = std::max<size_t>(n, 1);
  if ((codes & CHANNEL_Z) && z.empty()) z.assign(alloc, Z_BACKGROUND);
  if ((codes & CHANNEL_MTL_ID) && mtl.empty()) mtl.assign(alloc, 0);
  if ((codes & CHANNEL_OBJ_ID) && obj.empty()) obj.assign(alloc, 0);
  channels |= codes & (CHANNEL_Z | CHANNEL_MTL_ID | CHANNEL_OBJ_ID);
}

void BitmapStorage::RemoveChannels(uint32_t codes) {
  if (codes & CHANNEL_Z) std::vector<float>().swap(z);
  if (codes & CHANNEL_MTL_ID) std::vector<uint8_t>().swap(mtl);
  if (codes & CHANNEL_OBJ_ID) std::vector<uint16_t>().swap(obj);
  channels &= ~codes;
}

RenderInfo& BitmapStorage::CreateRenderInfo() {
  if (!renderInfo) renderInfo = std::make_unique<RenderInfo>();
  return *renderInfo;
}

void BitmapStorage::RemoveRenderInfo() { renderInfo.reset(); }

void BitmapStorage::Resize(uint16_t newWidth, uint16_t newHeight) {
  width = newWidth;
  height = newHeight;
  pixels.assign(PixelCount(width, height), BMM_Color_64{0, 0, 0, 0});
  const uint32_t had = channels;
  RemoveChannels(had);
  CreateChannels(had);
}

int Bitmap::PutPixels(int x, int y, int count, const BMM_Color_64* src) {
  ++putPixelsCalls;
  return storage ? storage->PutPixels(x, y, count, src) : 0;
}
