// work_image.h: the per-render working image. Two zero-filled copies of the
// source bitmap's pixels (one written by the blur, one read by it) and the
// host's channel arrays, used in place. Lives for one render call.
//
// Every array is row-major, pixel (x, y) at y * width + x; width and height
// are fixed at construction and both copies hold exactly width * height
// pixels. The storage is asked again for its size when pixels are read or
// written back, and rows beyond what both agree on are left alone, so a
// storage that changed size in between is never read or written out of
// bounds.
#pragma once

#include <cstdint>
#include <memory>

#include "host/bitmap.h"
#include "host/types.h"
#include "platform/win32.h"

class ImageBuffer {
 public:
  ImageBuffer(HWND progressWindow, Bitmap* sourceBitmap);
  ~ImageBuffer();  // not virtual: always destroyed as its own type
  ImageBuffer(const ImageBuffer&) = delete;
  ImageBuffer& operator=(const ImageBuffer&) = delete;

  // A new zero-filled array of the storage's current size, filled row by
  // row from the bitmap; the caller owns it (free()). Null when it cannot
  // be allocated (or the bitmap is empty).
  BMM_Color_64* ReadPixels();
  // Asks the host for a channel (1 Z, 2 material effects, 4 object). The
  // code is ORed into the loaded-channel bits whatever the outcome.
  // 1 when the channel is available, else 0.
  int LoadChannel(uint32_t code);
  // Puts the working pixels back into the bitmap, one row per call.
  virtual void WriteBack();

  // False when a pixel copy could not be allocated: the render must fail.
  bool Allocated() const;

  HWND progressWindow;
  Bitmap* sourceBitmap;
  BMM_Color_64* workPixels;
  float* zChannel;
  uint16_t* objectChannel;
  uint8_t* mtlChannel;
  uint32_t loadedChannels;
  int32_t width;
  int32_t height;
};

class WindowSums;

class WorkImage : public ImageBuffer {
 public:
  WorkImage(HWND progressWindow, Bitmap* sourceBitmap);
  ~WorkImage();

  // False when a pixel copy could not be allocated: the render must fail.
  bool Allocated() const;

  // Allocates the blur's working memory for radii up to trunc(blurSize)
  // (the render pass calls it before DepthBlur, so that a shortage fails the
  // render with the bitmap untouched). 1 when ready, 0 when memory ran out.
  int PrepareBlur(float blurSize);

  // Blurs every pixel (or those of one ID) by the mean of a square window
  // of the source pixels whose radius grows with the pixel's distance in
  // depth from focalDepth, up to blurSize. Sends the progress message and
  // the abort query once per row; an abort ends the pass before the row.
  void DepthBlur(int32_t idFilter, float focalDepth, float blurRange, float blurSize);
  // Replaces p's r, g, b by the mean of the source pixels in the window of
  // the radius about (x, y), clipped to the image; nothing when radius < 1.
  void BoxAverage(int32_t x, int32_t y, int32_t radius, BMM_Color_64& p);

  BMM_Color_64* sourcePixels;
  int32_t abortFlag;
  // The blur's working memory (blur/window_sums.h), from PrepareBlur or
  // the blur itself; null until then. Released with the image.
  std::unique_ptr<WindowSums> windowSums;
};
