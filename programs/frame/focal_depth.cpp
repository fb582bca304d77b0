#include "frame/focal_depth.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "base/errors.h"
#include "frame/cryptomatte.h"
#include "frame/depth_modes.h"
#include "host/bitmap.h"

namespace kestrion {

namespace {

// The depth seen at the focus pixel, counted from the frame's top-left
// pixel.
float PixelDepth(FocusPixel pixel, const RenderInput& input, const std::vector<float>& z,
                 const std::string& path) {
  const std::string where =
      "pixel (" + std::to_string(pixel.x) + ", " + std::to_string(pixel.y) + ")";
  const int64_t x = static_cast<int64_t>(pixel.x) - input.originX;
  const int64_t y = static_cast<int64_t>(pixel.y) - input.originY;
  const FramePlanes& planes = input.planes;
  if (x < 0 || y < 0 || x >= planes.width || y >= planes.height) {
    throw UsageError("focus " + where + " lies outside the " + std::to_string(planes.width) +
                     " x " + std::to_string(planes.height) + " pixels of " + ShownName(path));
  }
  const float value =
      z[static_cast<size_t>(y) * static_cast<size_t>(planes.width) + static_cast<size_t>(x)];
  if (!(value > Z_BACKGROUND)) throw FileError(path, "no geometry at " + where + " to focus on");
  return -value;
}

// The statistic of `depths` (not empty; reordered).
float Statistic(std::vector<double>& depths, FocusStatistic statistic) {
  switch (statistic) {
    case FocusStatistic::Min:
      return static_cast<float>(*std::min_element(depths.begin(), depths.end()));
    case FocusStatistic::Max:
      return static_cast<float>(*std::max_element(depths.begin(), depths.end()));
    case FocusStatistic::Mean: {
      double sum = 0.0;
      for (double d : depths) sum += d;
      return static_cast<float>(sum / static_cast<double>(depths.size()));
    }
    default: {
      const size_t half = depths.size() / 2;
      std::nth_element(depths.begin(), depths.begin() + static_cast<ptrdiff_t>(half), depths.end());
      const double upper = depths[half];
      if (depths.size() % 2) return static_cast<float>(upper);
      const double lower =
          *std::max_element(depths.begin(), depths.begin() + static_cast<ptrdiff_t>(half));
      return static_cast<float>((lower + upper) / 2.0);
    }
  }
}

const std::vector<uint16_t>& ObjectIds(const RenderInput& input, const SettingLabels& labels) {
  if (!input.planes.objectId) {
    throw FileError(input.name, labels.focusObject +
                                    " needs an object ID channel, which the file lacks (name one "
                                    "with " +
                                    labels.objectIdChannel + ")");
  }
  return *input.planes.objectId;
}

// The focus object as messages name it.
std::string ObjectLabel(const RenderSettings& settings) {
  return settings.focusObjectName ? "object " + QuotedValue(*settings.focusObjectName)
                                  : "object " + std::to_string(*settings.focusObject);
}

// The focus object's depth in a frame: the statistic of the depths of its
// pixels with geometry, or nothing when it has none (`missing` then says
// why). Throws a FileError when the frame cannot show the object at all (no
// object ID channel, no object Cryptomatte).
std::optional<float> ObjectDepth(const RenderSettings& settings, const RenderInput& input,
                                 const std::vector<float>& z, const AbortCheck& abort,
                                 std::vector<std::string>& warnings, std::string& missing) {
  const std::string& path = input.name;
  const std::string label = ObjectLabel(settings);
  missing = label + " has no pixels with geometry in the frame to focus on";
  std::vector<double> depths;
  if (settings.focusObjectName) {
    if (!input.document) {
      throw FileError(path, settings.labels.focusObject + " " +
                                QuotedValue(*settings.focusObjectName) +
                                " finds objects by name in an OpenEXR file's Cryptomatte; give "
                                "an object ID for this file");
    }
    const std::vector<CryptoMatte> mattes = FindCryptoMattes(*input.document);
    const CryptoMatte* matte =
        MatteListing(mattes, *input.document, input.roles, *settings.focusObjectName,
                     settings.labels, warnings, missing);
    if (!matte) return std::nullopt;
    const uint32_t id = matte->manifest.at(*settings.focusObjectName);
    const std::vector<uint32_t> top = TopRankedIds(*input.document, input.roles, *matte, abort);
    for (size_t i = 0; i < z.size() && i < top.size(); ++i) {
      abort.Poll(i);
      if (top[i] == id && z[i] > Z_BACKGROUND) depths.push_back(-static_cast<double>(z[i]));
    }
  } else {
    const std::vector<uint16_t>& ids = ObjectIds(input, settings.labels);
    const int32_t id = *settings.focusObject;
    for (size_t i = 0; i < z.size(); ++i) {
      abort.Poll(i);
      if (ids[i] == id && z[i] > Z_BACKGROUND) depths.push_back(-static_cast<double>(z[i]));
    }
  }
  if (depths.empty()) return std::nullopt;
  return Statistic(depths, settings.focusStatistic.value_or(FocusStatistic::Median));
}

struct HeldFocus {
  int32_t frame = 0;
  float depth = 0.0f;
};

// The focus object's depth in the nearest earlier frame of the shot that
// shows it, else in the nearest later one. Frames that cannot be read or
// do not show the object are passed over: each fails or holds on its own.
std::optional<HeldFocus> HeldDepth(const RenderSettings& settings, const AbortCheck& abort) {
  std::vector<ShotFrame> order;
  for (const ShotFrame& other : settings.shotFrames) {
    if (other.frame < settings.frame) order.push_back(other);
  }
  auto byFrame = [](const ShotFrame& a, const ShotFrame& b) { return a.frame < b.frame; };
  std::sort(order.begin(), order.end(), [&](const ShotFrame& a, const ShotFrame& b) {
    return byFrame(b, a);  // the nearest first
  });
  std::vector<ShotFrame> later;
  for (const ShotFrame& other : settings.shotFrames) {
    if (other.frame > settings.frame) later.push_back(other);
  }
  std::sort(later.begin(), later.end(), byFrame);
  order.insert(order.end(), later.begin(), later.end());
  for (const ShotFrame& other : order) {
    std::error_code error;
    if (!std::filesystem::exists(other.input, error)) continue;
    try {
      const RenderInput input =
          ReadRenderInput(other.input, settings.input, settings.Limits(), settings.labels, abort);
      if (!input.planes.depth) continue;
      const std::vector<float> z =
          RendererZ(*input.planes.depth, settings.depth.For(input.depthIsNormalisedMap), abort);
      std::vector<std::string> ignored;
      std::string missing;
      if (auto depth = ObjectDepth(settings, input, z, abort, ignored, missing)) {
        return HeldFocus{other.frame, *depth};
      }
    } catch (const Error& e) {
      if (e.Kind() == ErrorKind::Aborted) throw;
    }
  }
  return std::nullopt;
}

// The focal depth of a frame that focuses on an object, held from another
// frame of the shot when the object is missing and the settings say so.
float ObjectFocus(const RenderSettings& settings, const RenderInput& input,
                  const std::vector<float>& z, const AbortCheck& abort,
                  std::vector<std::string>& warnings) {
  const std::string& path = input.name;
  const std::string frame = "frame " + std::to_string(settings.frame) + ": ";
  std::string missing;
  if (auto depth = ObjectDepth(settings, input, z, abort, warnings, missing)) return *depth;
  if (settings.focusMissing == FocusMissing::Fail || settings.shotFrames.empty()) {
    throw FileError(path, frame + missing);
  }
  const std::optional<HeldFocus> held = HeldDepth(settings, abort);
  if (!held) {
    throw FileError(path, frame + missing + ", nor in any other frame of the shot to hold");
  }
  char depth[32];
  std::snprintf(depth, sizeof depth, "%g", static_cast<double>(held->depth));
  warnings.push_back(ShownName(path) + ": " + frame + missing + "; holding the focal depth " +
                     depth + " of frame " + std::to_string(held->frame) + " (" +
                     settings.labels.focusMissing + " hold)");
  return held->depth;
}

}  // namespace

float FocalDepth(const RenderSettings& settings, const RenderInput& input,
                 const std::vector<float>& rendererZ, const AbortCheck& abort) {
  std::vector<std::string> warnings;
  return FocalDepth(settings, input, rendererZ, warnings, abort);
}

float FocalDepth(const RenderSettings& settings, const RenderInput& input,
                 const std::vector<float>& rendererZ, std::vector<std::string>& warnings,
                 const AbortCheck& abort) {
  const int32_t frame = settings.frame;
  const std::string& path = input.name;
  if (settings.focusDepth) {
    CheckHasKeys(*settings.focusDepth, settings.labels.focusDepth);
    return SampleFloatKeys(*settings.focusDepth, frame);
  }
  if (settings.focusPixel) {
    return PixelDepth(SamplePixelKeys(*settings.focusPixel, frame), input, rendererZ, path);
  }
  if (!settings.FocusOnObject()) throw UsageError("give a focus depth, pixel or object");
  return ObjectFocus(settings, input, rendererZ, abort, warnings);
}

std::map<int32_t, float> ObjectFocalDepths(const RenderInput& input,
                                           const std::vector<float>& rendererZ,
                                           FocusStatistic statistic, const SettingLabels& labels,
                                           const AbortCheck& abort) {
  const std::vector<uint16_t>& ids = ObjectIds(input, labels);
  std::map<int32_t, std::vector<double>> depths;
  for (size_t i = 0; i < rendererZ.size() && i < ids.size(); ++i) {
    abort.Poll(i);
    if (ids[i] != 0 && rendererZ[i] > Z_BACKGROUND) {
      depths[ids[i]].push_back(-static_cast<double>(rendererZ[i]));
    }
  }
  std::map<int32_t, float> focal;
  for (auto& [id, list] : depths) focal[id] = Statistic(list, statistic);
  return focal;
}

}  // namespace kestrion
