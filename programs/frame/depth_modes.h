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
// Whatever the mode, a distance that is infinite, NaN or at least
// `backgroundFrom` is background (by default FAR_BACKGROUND_DISTANCE, 1e9:
// renderers write far values such as 1e10 where a ray hit nothing), and so
// is a stored value equal to `backgroundDepth`.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/abort_check.h"
#include "formats/frame_planes.h"
#include "frame/setting_labels.h"

namespace kestrion {

enum class DepthMode { Distance, Camera, Inverse, Normalised };

// Distances from this up are background, whatever the options say.
inline constexpr float BACKGROUND_DISTANCE = 1.0e30f;
// Distances from this up are background unless the options say otherwise.
// Renderers mark "no geometry" with a far value of their own: 1e10 in
// multilayer renders' Depth pass, FLT_MAX or infinity elsewhere. 1e9 lies
// an order of magnitude below the smallest of them, and far beyond any
// scene's depth: a float holds distances there only to 64 units.
inline constexpr float FAR_BACKGROUND_DISTANCE = 1.0e9f;
// The share of pixels with depth exactly 0 under alpha 0 above which a
// frame is probably using 0 for "no geometry".
inline constexpr double ZERO_DEPTH_WARNING_SHARE = 0.02;

struct DepthOptions {
  DepthMode mode = DepthMode::Distance;
  float near = 0.0f;  // normalised maps: the distances of 0 and 1
  float far = 1.0f;
  bool invert = false;  // normalised maps: 1 (white) is near, 0 far
  // A stored value meaning "no geometry" (such as 0 or 1e10).
  std::optional<float> backgroundDepth;
  // Distances from this up are background (at most BACKGROUND_DISTANCE).
  float backgroundFrom = FAR_BACKGROUND_DISTANCE;
};

// "distance", "camera", "inverse" or "normalised"; throws a UsageError
// naming `label`, the setting the text came from.
DepthMode ParseDepthMode(const std::string& text, const std::string& label = "depth_mode");
std::string DepthModeText(DepthMode mode);

// What a user says about the stored depth, before the input is known: the
// mode unset is distance, or normalised for a grey depth map.
struct DepthSettings {
  std::optional<DepthMode> mode;
  float near = 0.0f;
  float far = 1.0f;
  bool invert = false;
  std::optional<float> backgroundDepth;
  float backgroundFrom = FAR_BACKGROUND_DISTANCE;

  DepthOptions For(bool normalisedMap) const;
};

// Throws a UsageError for a normalised mode without a usable near and far
// (finite, 0 <= near < far), and for a backgroundFrom that is not a
// distance above 0 and at most BACKGROUND_DISTANCE; its messages name the
// settings with `labels`.
void CheckDepthOptions(const DepthOptions& options, const SettingLabels& labels = {});

// The renderer's Z of one stored depth value, and of a whole plane.
float StoredDepthToZ(float stored, const DepthOptions& options);
std::vector<float> RendererZ(const Plane& depth, const DepthOptions& options,
                             const AbortCheck& abort = NeverAbort());

// Lines for the command to print, each naming the setting that would help
// (with `labels`):
// many pixels (more than ZERO_DEPTH_WARNING_SHARE) with depth exactly 0
// under alpha 0 while 0 is not declared background; every depth negative in
// distance mode. `alpha` may be absent.
std::vector<std::string> DepthWarnings(const Plane& depth, const std::optional<Plane>& alpha,
                                       const DepthOptions& options, const std::string& frameName,
                                       const SettingLabels& labels = {},
                                       const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
