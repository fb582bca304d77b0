#include "blur/blur_plan.h"

#include "blur/radius_rule.h"
#include "blur/work_image.h"

BlurPlan::BlurPlan(const WorkImage& image, float blurSize, VectorWidth vectors, size_t memoryBudget)
    : image(&image), blurSize(blurSize), fullRadius(::FullRadius(blurSize, image.Extent())) {
  // Nothing to sum for an image without its copies or a blur without windows.
  if (!image.Allocated() || fullRadius < 1 || image.width == 0 || image.height == 0) return;
  sums = WindowSums::Create(image.sourcePixels.get(), image.width, image.height, fullRadius,
                            vectors, memoryBudget);
}
