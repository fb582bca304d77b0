#include "blur/work_image.h"

WorkImage::WorkImage(HWND progressWindow, Bitmap* sourceBitmap)
    : ImageBuffer(progressWindow, sourceBitmap), abortFlag(0) {
  // Without the working copy there is no need for the second; without
  // either, Allocated() says so and the caller gives up.
  if (ImageBuffer::Allocated()) sourcePixels = ReadPixels();
}

bool WorkImage::Allocated() const {
  return width == 0 || height == 0 || (workPixels != nullptr && sourcePixels != nullptr);
}
