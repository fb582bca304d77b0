// depth_modes.h: what the numbers in a depth plane mean, and the renderer's
// Z plane the module reads made from them.
//
// The renderer's Z is camera-space: negative in front of the camera
// (Z = -distance), and a Z not greater than Z_BACKGROUND (-1e30) marks a
// pixel without geometry, which the module always blurs fully. Files store
// depth in one of four ways:
//   distance     distance in front of the camera, positive:  Z = -d
//   camera       camera-space Z already:                     Z as stored
//   inverse      1 / distance, 0 infinitely far:             Z = -1 / v
//   normalised   0..1 between a near and a far distance:     d = near + v (far - near)
//                (with `invert`, 1 (white) is near:          d = far - v (far - near))
// Whatever the mode, a distance that is infinite, NaN or at least 1e30 is
// background, and so is a stored value equal to `backgroundDepth`.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/abort_check.h"
#include "formats/frame_planes.h"

namespace kestrion {

enum class DepthMode { Distance, Camera, Inverse, Normalised };

struct DepthOptions {
  DepthMode mode = DepthMode::Distance;
  float near = 0.0f;  // normalised maps: the distances of 0 and 1
  float far = 1.0f;
  bool invert = false;  // normalised maps: 1 (white) is near, 0 far
  // A stored value meaning "no geometry" (such as 0 or 1e10).
  std::optional<float> backgroundDepth;
};

// Distances from this up are background.
inline constexpr float BACKGROUND_DISTANCE = 1.0e30f;
// The share of pixels with depth exactly 0 under alpha 0 above which a
// frame is probably using 0 for "no geometry".
inline constexpr double ZERO_DEPTH_WARNING_SHARE = 0.02;

// "distance", "camera", "inverse" or "normalised"; throws a UsageError.
DepthMode ParseDepthMode(const std::string& text);
std::string DepthModeText(DepthMode mode);

// Throws a UsageError for a normalised mode without a usable near and far
// (finite, 0 <= near < far).
void CheckDepthOptions(const DepthOptions& options);

// The renderer's Z of one stored depth value, and of a whole plane.
float StoredDepthToZ(float stored, const DepthOptions& options);
std::vector<float> RendererZ(const Plane& depth, const DepthOptions& options,
                             const AbortCheck& abort = NeverAbort());

// Lines for the command to print, each naming the option that would help:
// many pixels (more than ZERO_DEPTH_WARNING_SHARE) with depth exactly 0
// under alpha 0 while 0 is not declared background; every depth negative in
// distance mode. `alpha` may be absent.
std::vector<std::string> DepthWarnings(const Plane& depth, const std::optional<Plane>& alpha,
                                       const DepthOptions& options, const std::string& frameName,
                                       const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
