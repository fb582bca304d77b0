// pixel_buffer.h: an owned array of pixels from malloc, freed with free() by
// its owner's destructor.
#pragma once

#include <cstdlib>
#include <memory>

#include "host/types.h"

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

using PixelBuffer = std::unique_ptr<BMM_Color_64[], FreeDeleter>;
