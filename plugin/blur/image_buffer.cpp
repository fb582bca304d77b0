#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "blur/work_image.h"

namespace {

// Width and height of the bitmap's storage now; 0 x 0 without a storage.
void StorageSize(const Bitmap* bitmap, int32_t& w, int32_t& h) {
  const BitmapStorage* storage = bitmap ? bitmap->Storage() : nullptr;
  w = storage ? storage->Width() : 0;
  h = storage ? storage->Height() : 0;
}

}  // namespace

ImageBuffer::ImageBuffer(HWND progressWindow, Bitmap* sourceBitmap)
    : progressWindow(progressWindow),
      sourceBitmap(sourceBitmap),
      zChannel(nullptr),
      objectChannel(nullptr),
      mtlChannel(nullptr),
      loadedChannels(0),
      width(0),
      height(0) {
  StorageSize(sourceBitmap, width, height);
  workPixels = ReadPixels();
}

PixelBuffer ImageBuffer::ReadPixels() {
  int32_t w = 0;
  int32_t h = 0;
  StorageSize(sourceBitmap, w, h);
  // The copies always have the size fixed at construction; a storage that
  // has changed size since is read only where both agree.
  const int32_t rows = std::min(h, height);
  const int32_t cols = std::min(w, width);
  const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (count == 0 || count > SIZE_MAX / sizeof(BMM_Color_64)) return nullptr;
  // Every pixel is written once, by the bitmap or as zero where the bitmap
  // delivers nothing: a zero-filled allocation would write recycled memory
  // twice.
  PixelBuffer pixels(
      static_cast<BMM_Color_64*>(std::malloc(static_cast<size_t>(count) * sizeof(BMM_Color_64))));
  if (!pixels) return nullptr;
  BitmapStorage* storage = sourceBitmap ? sourceBitmap->Storage() : nullptr;
  for (int32_t y = 0; y < height; ++y) {
    BMM_Color_64* row = pixels.get() + static_cast<size_t>(y) * width;
    const bool delivered = storage && y < rows && storage->GetPixels(0, y, cols, row);
    std::fill(row + (delivered ? cols : 0), row + width, BMM_Color_64{0, 0, 0, 0});
  }
  return pixels;
}

int ImageBuffer::LoadChannel(uint32_t code) {
  loadedChannels |= code;
  BitmapStorage* storage = sourceBitmap ? sourceBitmap->Storage() : nullptr;
  // The channel arrays are indexed with the size fixed at construction, so
  // a storage that has changed size since cannot lend them.
  if (storage && (storage->Width() != width || storage->Height() != height)) storage = nullptr;
  uint32_t type = 0;
  void* channel = nullptr;
  switch (code) {
    case CHANNEL_Z:
      channel = storage ? storage->GetChannel(CHANNEL_Z, type) : nullptr;
      zChannel = static_cast<float*>(channel);
      break;
    case CHANNEL_MTL_ID:
      channel = storage ? storage->GetChannel(CHANNEL_MTL_ID, type) : nullptr;
      mtlChannel = static_cast<uint8_t*>(channel);
      break;
    case CHANNEL_OBJ_ID:
      channel = storage ? storage->GetChannel(CHANNEL_OBJ_ID, type) : nullptr;
      objectChannel = static_cast<uint16_t*>(channel);
      break;
    default:
      return 0;
  }
  return channel ? 1 : 0;
}

void ImageBuffer::WriteBack() {
  if (!workPixels || !sourceBitmap) return;
  int32_t w = 0;
  int32_t h = 0;
  StorageSize(sourceBitmap, w, h);
  const int32_t rows = std::min(h, height);
  const int32_t cols = std::min(w, width);
  for (int32_t y = 0; y < rows; ++y) {
    sourceBitmap->PutPixels(0, y, cols, workPixels.get() + static_cast<size_t>(y) * width);
  }
}

bool ImageBuffer::Allocated() const { return width == 0 || height == 0 || workPixels != nullptr; }
