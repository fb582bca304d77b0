// png_errors.h: libpng's error reporting made safe for C++. libpng reports
// an error by longjmp out of its own frames; the handlers below keep the
// message in a PngErrorState and jump, so that the caller can throw it once
// libpng's frames are gone (no C++ exception crosses them).
#pragma once

#include <png.h>

#include <cstdio>

namespace kestrion {

struct PngErrorState {
  char message[256] = "";
};

// For png_create_read_struct / png_create_write_struct with a PngErrorState
// as the error pointer.
extern "C" inline void OnPngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  png_longjmp(png, 1);
}

extern "C" inline void OnPngWarning(png_structp, png_const_charp) {}

}  // namespace kestrion
