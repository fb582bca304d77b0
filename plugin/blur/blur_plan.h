// blur_plan.h: the prepared blur of one working image: the largest radius
// and the summed-area table with its scratch (blur/window_sums.h), allocated
// once and owned by the plan. WorkImage::DepthBlur runs it.
//
// Without a table (the blur has no windows, or the memory cannot be had) the
// blur sums each window directly: the same pixels, at a cost that grows
// with the square of the radius. A plan therefore never fails; it only
// says which way the blur will go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "blur/vector_width.h"
#include "blur/window_sums.h"

class WorkImage;

class BlurPlan {
 public:
  // The blur of `image`'s source pixels with blurSize, using the vector
  // loops `vectors` allows and at most `memoryBudget` bytes for the table
  // and its scratch. The image must outlive the plan and keep its pixels.
  BlurPlan(const WorkImage& image, float blurSize, VectorWidth vectors = VectorWidth::Widest,
           size_t memoryBudget = SIZE_MAX);

  float BlurSize() const { return blurSize; }
  // FullRadius(blurSize, the image's larger side): no radius exceeds it.
  int32_t FullRadius() const { return fullRadius; }
  // Whether the plan was made for this image.
  bool For(const WorkImage& other) const { return &other == image; }

  // The table, or null when the blur sums each window directly.
  WindowSums* Sums() const { return sums.get(); }
  // Bytes held for the table and its scratch (0 without a table).
  size_t Bytes() const { return sums ? sums->Bytes() : 0; }

 private:
  const WorkImage* image;
  float blurSize;
  int32_t fullRadius;
  std::unique_ptr<WindowSums> sums;
};
