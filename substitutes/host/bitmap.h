// bitmap.h: bitmaps, their storage with the renderer's channels, the render
// information, and the bitmap manager.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host/types.h"
#include "platform/win32.h"

// Renderer channel codes, as a bit set.
constexpr uint32_t CHANNEL_Z = 1;       // float per pixel; Z <= -1.0e30 means no geometry
constexpr uint32_t CHANNEL_MTL_ID = 2;  // uint8_t per pixel: material-effects ID
constexpr uint32_t CHANNEL_OBJ_ID = 4;  // uint16_t per pixel: object ID

// The highest ID each ID channel can hold: its element's range.
constexpr int32_t MATERIAL_ID_MAX = 255;  // CHANNEL_MTL_ID, 8 bits
constexpr int32_t OBJECT_ID_MAX = 65535;  // CHANNEL_OBJ_ID, 16 bits

// The Z value the renderer writes where no geometry was hit.
constexpr float Z_BACKGROUND = -1.0e30f;

// What the renderer knew about the view a bitmap was rendered from.
struct RenderInfo {
  TimeValue renderTime = 0;
  Matrix3 worldToCam = Matrix3::Identity();
};

// The pixels of a bitmap (16-bit RGBA, row-major) and the renderer's
// per-pixel channels, all indexed y * width + x.
class BitmapStorage {
 public:
  BitmapStorage(uint16_t width, uint16_t height);

  uint16_t Width() const { return width; }
  uint16_t Height() const { return height; }

  // Copies `count` pixels of row y from column x into dst. Returns 1, or 0
  // (and copies nothing) when the span lies outside the storage.
  int GetPixels(int x, int y, int count, BMM_Color_64* dst) const;
  int PutPixels(int x, int y, int count, const BMM_Color_64* src);

  // The per-pixel array of one channel (CHANNEL_Z, CHANNEL_MTL_ID or
  // CHANNEL_OBJ_ID), or null when the storage does not carry it. `type`
  // receives the channel's element size in bytes (0 when absent).
  void* GetChannel(uint32_t code, uint32_t& type);

  // The render information, or null when the bitmap carries none.
  RenderInfo* GetRenderInfo();

  // --- host side ---
  // Adds the channels of `codes` (zero-filled; Z filled with Z_BACKGROUND).
  void CreateChannels(uint32_t codes);
  void RemoveChannels(uint32_t codes);
  RenderInfo& CreateRenderInfo();
  void RemoveRenderInfo();
  // Changes the size, discarding pixels and channels (which are recreated
  // empty for the codes the storage had).
  void Resize(uint16_t newWidth, uint16_t newHeight);

  BMM_Color_64* Pixels() { return pixels.data(); }
  const BMM_Color_64* Pixels() const { return pixels.data(); }
  float* ZChannel() { return z.empty() ? nullptr : z.data(); }
  uint8_t* MtlChannel() { return mtl.empty() ? nullptr : mtl.data(); }
  uint16_t* ObjChannel() { return obj.empty() ? nullptr : obj.data(); }

 private:
  uint16_t width;
  uint16_t height;
  uint32_t channels = 0;
  std::vector<BMM_Color_64> pixels;
  std::vector<float> z;
  std::vector<uint8_t> mtl;
  std::vector<uint16_t> obj;
  std::unique_ptr<RenderInfo> renderInfo;
};

class Bitmap {
 public:
  Bitmap() = default;
  explicit Bitmap(std::unique_ptr<BitmapStorage> storage) : storage(std::move(storage)) {}
  Bitmap(uint16_t width, uint16_t height)
      : storage(std::make_unique<BitmapStorage>(width, height)) {}

  // The storage, or null for a bitmap that has none.
  BitmapStorage* Storage() const { return storage.get(); }
  void SetStorage(std::unique_ptr<BitmapStorage> s) { storage = std::move(s); }

  // Writes `count` pixels into row y from column x; 0 when there is no
  // storage or the span lies outside it.
  int PutPixels(int x, int y, int count, const BMM_Color_64* pixels);

  // Number of PutPixels calls so far (host bookkeeping, read by tests).
  uint64_t PutPixelsCalls() const { return putPixelsCalls; }

 private:
  std::unique_ptr<BitmapStorage> storage;
  uint64_t putPixelsCalls = 0;
};

// The host's bitmap manager; the module asks it for the application window.
class BitmapManager {
 public:
  HWND AppWnd() const { return appWindow; }
  void SetAppWnd(HWND wnd) { appWindow = wnd; }

 private:
  HWND appWindow = nullptr;
};

extern BitmapManager* TheManager;
