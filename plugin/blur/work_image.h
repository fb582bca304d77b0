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

#include "blur/pixel_buffer.h"
#include "host/bitmap.h"
#include "host/types.h"
#include "platform/win32.h"

class ImageBuffer {
 public:
  ImageBuffer(HWND progressWindow, Bitmap* sourceBitmap);
  ImageBuffer(const ImageBuffer&) = delete;
  ImageBuffer& operator=(const ImageBuffer&) = delete;

  // A new array of width x height pixels, filled row by row from the
  // bitmap where its storage delivers them, zero elsewhere. Null when it
  // cannot be allocated (or the image is empty).
  PixelBuffer ReadPixels();
  // Asks the host for a channel (1 Z, 2 material effects, 4 object). The
  // code is ORed into the loaded-channel bits whatever the outcome.
  // 1 when the channel is available, else 0.
  int LoadChannel(uint32_t code);
  // Puts the working pixels back into the bitmap, one row per call.
  virtual void WriteBack();

  // False when a pixel copy could not be allocated: the render must fail.
  bool Allocated() const;
  // The larger of width and height.
  int32_t Extent() const { return width > height ? width : height; }

  HWND progressWindow;
  Bitmap* sourceBitmap;
  PixelBuffer workPixels;  // the copy the blur writes
  float* zChannel;
  uint16_t* objectChannel;
  uint8_t* mtlChannel;
  uint32_t loadedChannels;
  int32_t width;
  int32_t height;
};

class BlurPlan;

// Final: like ImageBuffer its destructor is not virtual, so nothing may
// derive from it and be destroyed through it.
class WorkImage final : public ImageBuffer {
 public:
  WorkImage(HWND progressWindow, Bitmap* sourceBitmap);

  // False when a pixel copy could not be allocated: the render must fail.
  bool Allocated() const;

  // Blurs every pixel (or those of one ID, -1 for all) by the mean of a
  // square window of the source pixels whose radius grows with the pixel's
  // distance in depth from focalDepth, up to the plan's blur size
  // (blur/radius_rule.h). The plan must have been made for this image
  // (blur/blur_plan.h); it may run again, the result is the same. Sends the
  // progress message and the abort query once per row; an abort ends the
  // pass before the row.
  void DepthBlur(BlurPlan& plan, int32_t idFilter, float focalDepth, float blurRange);
  // Replaces p's r, g, b by the mean of the source pixels in the window of
  // the radius about (x, y), clipped to the image; nothing when radius < 1.
  void BoxAverage(int32_t x, int32_t y, int32_t radius, BMM_Color_64& p);

  PixelBuffer sourcePixels;  // the copy the blur reads, unchanged
  int32_t abortFlag;
};
