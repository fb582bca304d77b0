// png_setup.h: one libpng read or write set up safely for C++: its
// structures made with the PngErrorState handlers (png_errors.h) and
// released on every path, and GuardedPng, which runs the libpng calls with
// the error jump armed. Both PNG writers and readers (png_io.cpp, the
// review images' review_png.cpp) use it.
#pragma once

#include <png.h>

#include <csetjmp>

#include "formats/png_errors.h"

namespace kestrion {

// A write's structures; `info` is null when libpng could not make them.
class PngWriteStructs {
 public:
  explicit PngWriteStructs(PngErrorState& state)
      : png(png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, &OnPngError, &OnPngWarning)),
        info(png ? png_create_info_struct(png) : nullptr) {}
  ~PngWriteStructs() { png_destroy_write_struct(&png, &info); }
  PngWriteStructs(const PngWriteStructs&) = delete;
  PngWriteStructs& operator=(const PngWriteStructs&) = delete;
  png_structp png;
  png_infop info;
};

// A read's structures; `info` is null when libpng could not make them.
class PngReadStructs {
 public:
  explicit PngReadStructs(PngErrorState& state)
      : png(png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, &OnPngError, &OnPngWarning)),
        info(png ? png_create_info_struct(png) : nullptr) {}
  ~PngReadStructs() { png_destroy_read_struct(&png, &info, nullptr); }
  PngReadStructs(const PngReadStructs&) = delete;
  PngReadStructs& operator=(const PngReadStructs&) = delete;
  png_structp png;
  png_infop info;
};

// Runs `body` with libpng's error handling armed; returns false (and the
// message in the PngErrorState) when libpng failed. A libpng error
// longjmps out of `body`, so `body` must not own objects with destructors.
// Nor may it throw: it returns early when interrupted, and the caller
// throws once the call is over.
template <typename Body>
bool GuardedPng(png_structp png, Body&& body) {
  if (setjmp(png_jmpbuf(png))) return false;
  body();
  return true;
}

}  // namespace kestrion
