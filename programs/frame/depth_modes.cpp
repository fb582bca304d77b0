#include "frame/depth_modes.h"

#include <cmath>
#include <cstdio>

#include "base/abort_check.h"
#include "base/errors.h"
#include "host/bitmap.h"

namespace kestrion {

namespace {

// The renderer's Z of a distance in front of the camera.
float DistanceToZ(float distance, float backgroundFrom) {
  if (!std::isfinite(distance) || distance >= backgroundFrom) return Z_BACKGROUND;
  return -distance;
}

// A stored value that stands for geometry, as far as the options' own
// background value and far distance say (the mode's own rules aside).
bool MaybeGeometry(float value, const DepthOptions& options) {
  if (!std::isfinite(value) || value >= options.backgroundFrom) return false;
  return !(options.backgroundDepth && value == *options.backgroundDepth);
}

std::string Percent(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", share * 100.0);
  return text;
}

}  // namespace

DepthMode ParseDepthMode(const std::string& text, const std::string& label) {
  if (text == "distance") return DepthMode::Distance;
  if (text == "camera") return DepthMode::Camera;
  if (text == "inverse") return DepthMode::Inverse;
  if (text == "normalised" || text == "normalized") return DepthMode::Normalised;
  throw UsageError(label + ": unknown depth mode " + QuotedValue(text) +
                   " (use distance, camera, inverse or normalised)");
}

std::string DepthModeText(DepthMode mode) {
  switch (mode) {
    case DepthMode::Camera:
      return "camera";
    case DepthMode::Inverse:
      return "inverse";
    case DepthMode::Normalised:
      return "normalised";
    default:
      return "distance";
  }
}

DepthOptions DepthSettings::For(bool normalisedMap) const {
  DepthOptions options;
  if (mode) {
    options.mode = *mode;
  } else if (normalisedMap) {
    options.mode = DepthMode::Normalised;
  }
  options.near = near;
  options.far = far;
  options.invert = invert;
  options.backgroundDepth = backgroundDepth;
  options.backgroundFrom = backgroundFrom;
  return options;
}

void CheckDepthOptions(const DepthOptions& options, const SettingLabels& labels) {
  if (!(options.backgroundFrom > 0.0f && options.backgroundFrom <= BACKGROUND_DISTANCE)) {
    throw UsageError(labels.backgroundFrom + ": give a distance above 0 and at most 1e30");
  }
  if (options.mode != DepthMode::Normalised) return;
  if (!std::isfinite(options.near) || !std::isfinite(options.far) || options.near < 0.0f ||
      !(options.near < options.far)) {
    throw UsageError("a normalised depth map needs " + labels.depthNear + " and " +
                     labels.depthFar + " with 0 <= near < far");
  }
}

float StoredDepthToZ(float stored, const DepthOptions& options) {
  if (std::isnan(stored)) return Z_BACKGROUND;
  if (options.backgroundDepth && stored == *options.backgroundDepth) return Z_BACKGROUND;
  switch (options.mode) {
    case DepthMode::Camera:
      // Camera-space Z: positive infinity is as far as negative.
      return stored > -options.backgroundFrom && stored < -Z_BACKGROUND ? stored : Z_BACKGROUND;
    case DepthMode::Inverse:
      return stored == 0.0f ? Z_BACKGROUND : DistanceToZ(1.0f / stored, options.backgroundFrom);
    case DepthMode::Normalised: {
      const float unit = options.invert ? 1.0f - stored : stored;
      return DistanceToZ(options.near + unit * (options.far - options.near),
                         options.backgroundFrom);
    }
    default:
      return DistanceToZ(stored, options.backgroundFrom);
  }
}

std::vector<float> RendererZ(const Plane& depth, const DepthOptions& options,
                             const AbortCheck& abort) {
  std::vector<float> z = FilledInterruptibly<float>(depth.size(), abort);
  for (size_t i = 0; i < depth.size(); ++i) {
    abort.Poll(i);
    z[i] = StoredDepthToZ(depth[i], options);
  }
  return z;
}

std::vector<std::string> DepthWarnings(const Plane& depth, const std::optional<Plane>& alpha,
                                       const DepthOptions& options, const std::string& frameName,
                                       const SettingLabels& labels, const AbortCheck& abort) {
  std::vector<std::string> lines;
  if (depth.empty()) return lines;
  const bool zeroIsBackground = options.backgroundDepth && *options.backgroundDepth == 0.0f;
  if (alpha && alpha->size() == depth.size() && !zeroIsBackground &&
      (options.mode == DepthMode::Distance || options.mode == DepthMode::Camera)) {
    size_t zeros = 0;
    for (size_t i = 0; i < depth.size(); ++i) {
      abort.Poll(i);
      zeros += depth[i] == 0.0f && (*alpha)[i] == 0.0f;
    }
    const double share = static_cast<double>(zeros) / static_cast<double>(depth.size());
    if (share > ZERO_DEPTH_WARNING_SHARE) {
      lines.push_back(ShownName(frameName) + ": " + Percent(share) +
                      " of the pixels have depth 0 where alpha is 0; if 0 means no geometry "
                      "here, give " +
                      labels.backgroundDepth + " 0");
    }
  }
  if (options.mode == DepthMode::Distance) {
    size_t negative = 0;
    size_t geometry = 0;
    for (size_t i = 0; i < depth.size(); ++i) {
      abort.Poll(i);
      const float value = depth[i];
      if (!MaybeGeometry(value, options)) continue;
      ++geometry;
      negative += value < 0.0f;
    }
    if (geometry > 0 && negative == geometry) {
      lines.push_back(ShownName(frameName) +
                      ": every depth is negative, as camera-space Z is; if the file holds "
                      "camera-space Z, give " +
                      labels.depthMode + " camera");
    }
  }
  return lines;
}

}  // namespace kestrion
