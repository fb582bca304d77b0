// Compiled without OpenEXR's, libpng's, libtiff's or CLI11's include paths
// (frame/CMakeLists.txt): a program that embeds the frame library fills
// FrameSettings and calls FilterMemoryFrame with none of them.
#include "base/errors.h"
#include "frame/frame_settings.h"
#include "frame/memory_frame.h"
#include "frame/settings_text.h"

#if defined(OPENEXR_VERSION_MAJOR) || defined(IMATH_VERSION_MAJOR) || defined(PNG_LIBPNG_VER) || \
    defined(TIFFLIB_VERSION) || defined(CLI11_VERSION)
#error an image format's or the command line's header reached the embedding headers
#endif

namespace kestrion {

// Names what an embedding program needs, so that a header that stops
// declaring it fails here.
FilteredImage EmbeddedFilter(const FilterModule& module, const MemoryFrame& frame) {
  FrameSettings settings;
  settings.focusDepth = FloatKeys{{0, 1.0f}};
  return FilterMemoryFrame(module, frame, settings);
}

}  // namespace kestrion
