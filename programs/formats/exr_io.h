// exr_io.h: OpenEXR files, the renders kestrion filters for real work.
//
// Channels read (and written):
//   R, G, B      colour, linear light (HALF or FLOAT); required
//   A            coverage 0..1; optional, 1 when absent
//   Z            depth: distance in front of the camera, positive; optional
//   objectId     object ID, 0..65535 (UINT); optional
//   materialId   material-effects ID, 0..255 (UINT); optional
//
// Depth becomes the renderer's Z channel as Z = -depth; a depth that is
// infinite, NaN or at least 1e30 marks a pixel without geometry and becomes
// Z_BACKGROUND. Writing does the reverse, background as +infinity.
//
// The image is the file's display window; pixels outside the data window
// are transparent black without geometry, data outside the display window is
// dropped. Colour is held as linear light scaled to 16 bits relative to the
// brightest pixel (or to 1.0 when nothing is brighter); negative and NaN
// values become 0.
#pragma once

#include <string>

#include "formats/image.h"

namespace kestrion {

inline constexpr const char* EXR_DEPTH_CHANNEL = "Z";
inline constexpr const char* EXR_OBJECT_ID_CHANNEL = "objectId";
inline constexpr const char* EXR_MATERIAL_ID_CHANNEL = "materialId";

// Throws a FileError naming `path`.
Image ReadExr(const std::string& path);
void WriteExr(const Image& image, const std::string& path);

// The depth convention of EXR files and the renderer's Z, both ways.
float DepthToZ(float depth);
float ZToDepth(float z);

}  // namespace kestrion
