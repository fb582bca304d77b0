#include "blur/work_image.h"

#include <cstdlib>

#include "blur/window_sums.h"

WorkImage::WorkImage(HWND progressWindow, Bitmap* sourceBitmap)
    : ImageBuffer(progressWindow, sourceBitmap), sourcePixels(nullptr), abortFlag(0) {
  if (!ImageBuffer::Allocated()) return;  // the working copy failed: no second copy
  sourcePixels = ReadPixels();
  if (!sourcePixels && width > 0 && height > 0) {
    // Leave an empty image the caller can detect, holding no memory.
    std::free(workPixels);
    workPixels = nullptr;
  }
}

// The blur's working memory goes with the members, after the source pixels.
WorkImage::~WorkImage() { std::free(sourcePixels); }

bool WorkImage::Allocated() const {
  return width == 0 || height == 0 || (workPixels != nullptr && sourcePixels != nullptr);
}
