#include "frame/focal_depth.h"

#include <algorithm>

#include "base/errors.h"
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

// The statistic of the depths of the object's pixels with geometry.
float ObjectDepth(int32_t id, FocusStatistic statistic, const RenderInput& input,
                  const std::vector<float>& z, const std::string& path, int32_t frame,
                  const AbortCheck& abort) {
  const auto& ids = input.planes.objectId;
  if (!ids) {
    throw FileError(path,
                    "--focus-object needs an object ID channel, which the file lacks (name one "
                    "with --object-id-channel)");
  }
  std::vector<double> depths;
  for (size_t i = 0; i < z.size(); ++i) {
    abort.Poll(i);
    if ((*ids)[i] == id && z[i] > Z_BACKGROUND) depths.push_back(-static_cast<double>(z[i]));
  }
  if (depths.empty()) {
    throw FileError(path, "frame " + std::to_string(frame) + ": object " + std::to_string(id) +
                              " has no pixels with geometry in the frame to focus on");
  }
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

}  // namespace

float FocalDepth(const RenderSettings& settings, const RenderInput& input,
                 const std::vector<float>& rendererZ, const AbortCheck& abort) {
  const int32_t frame = settings.frame;
  const std::string& path = input.name;
  if (settings.focusDepth) return SampleFloatKeys(*settings.focusDepth, frame);
  if (settings.focusPixel) {
    return PixelDepth(SamplePixelKeys(*settings.focusPixel, frame), input, rendererZ, path);
  }
  if (!settings.focusObject) throw UsageError("give a focus depth, pixel or object");
  return ObjectDepth(*settings.focusObject,
                     settings.focusStatistic.value_or(FocusStatistic::Median), input, rendererZ,
                     path, frame, abort);
}

}  // namespace kestrion
