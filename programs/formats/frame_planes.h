// frame_planes.h: a frame as `kestrion render` holds it between reading a
// file and writing one, whatever the file's format: float planes over one
// rectangle of pixels, each row-major with pixel (x, y) at y * width + x.
//
// For an OpenEXR file the rectangle is the data window of the part that
// holds the colour; planes found in other parts are mapped onto it. For a
// PNG or TIFF file it is the whole image.
//
// The steps of a render each have their own type and meet here:
//   reading      a file -> FramePlanes (and, for OpenEXR, the whole
//                document, so that everything else in it can be written
//                back unchanged)
//   filtering    FramePlanes -> the filtered colour and alpha planes,
//                through the module, in as many 16-bit passes as precision
//                needs (all with the same windows: they depend only on
//                depth, IDs and the parameters)
//   writing      the filtered planes back into the document, or into a
//                review image
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrion {

using Plane = std::vector<float>;

// How the colour planes relate to alpha.
enum class AlphaMode {
  Premultiplied,  // colour is multiplied by alpha (the OpenEXR convention)
  Straight,       // colour is not (PNG and TIFF)
  Ignore,         // alpha is neither filtered nor used
};

struct FramePlanes {
  int32_t width = 0;
  int32_t height = 0;
  // The colour channels to filter, linear light, in a fixed order: the
  // colour layer's R, G, B first, then the channels of any further layers
  // asked to be filtered. colourNames[i] names colour[i] in messages.
  std::vector<Plane> colour;
  std::vector<std::string> colourNames;
  AlphaMode alphaMode = AlphaMode::Premultiplied;
  // Coverage, usually 0..1; absent when the frame has none.
  std::optional<Plane> alpha;
  // Depth as the file stores it (see depth_modes.h for what it means and
  // how it becomes the renderer's Z); absent when the frame has none.
  std::optional<Plane> depth;
  // Whole-number IDs, already checked against the channel's range.
  std::optional<std::vector<uint16_t>> objectId;
  std::optional<std::vector<uint8_t>> materialId;

  size_t PixelCount() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
};

}  // namespace kestrion
