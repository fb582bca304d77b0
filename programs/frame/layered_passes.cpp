#include "frame/layered_passes.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "base/concurrent_lanes.h"
#include "base/errors.h"
#include "frame/focus_map.h"
#include "frame/focus_record.h"
#include "host/bitmap.h"

namespace kestrion {

namespace {

// A rectangle of pixels, [x0, x1) x [y0, y1).
struct Box {
  int32_t x0 = 0;
  int32_t y0 = 0;
  int32_t x1 = 0;
  int32_t y1 = 0;

  int32_t Width() const { return x1 - x0; }
  int32_t Height() const { return y1 - y0; }
  size_t Count() const { return static_cast<size_t>(Width()) * static_cast<size_t>(Height()); }
};

// One depth layer: the pixels the module gives one radius on one side of
// the focal plane.
struct Layer {
  int32_t radius = 0;
  bool near = false;  // before the focal plane
  Box bounds{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  float z = 0.0f;  // the renderer's Z of one of its pixels: the pass's Z everywhere
};

// Orders layers far to near: beyond the focal plane by falling radius, then
// the in-focus layer, then before it by rising radius. The key is the
// radius, negated before the focal plane.
int32_t LayerKey(int32_t radius, bool near) { return near ? -radius : radius; }

// The frame's colour, premultiplied, its alpha and the pixels' layers.
struct LayerInput {
  size_t channels = 0;              // colour channels
  std::vector<Plane> colour;        // premultiplied, non-finite values as 0
  std::optional<Plane> alpha;       // coverage, when it is not 1 everywhere
  std::vector<int32_t> key;         // each pixel's layer key
  std::map<int32_t, Layer> layers;  // by key
  size_t nonFinite = 0;
};

float Finite(float value, size_t& nonFinite) {
  if (std::isfinite(value)) return value;
  ++nonFinite;
  return 0.0f;
}

LayerInput CutIntoLayers(const FramePlanes& frame, const std::vector<float>& rendererZ,
                         const FocusMapSettings& map, bool filterAlpha, bool straight,
                         const AbortCheck& abort) {
  const size_t count = frame.PixelCount();
  LayerInput in;
  in.channels = frame.colour.size();
  const std::vector<int32_t> radii = FocusRadii(frame, rendererZ, map, abort);
  if (filterAlpha) {
    in.alpha = FilledInterruptibly<float>(count, abort);
    bool opaque = true;
    for (size_t i = 0; i < count; ++i) {
      abort.Poll(i);
      const float a = Finite((*frame.alpha)[i], in.nonFinite);
      (*in.alpha)[i] = a;
      opaque = opaque && a == 1.0f;
    }
    // Opaque everywhere: alpha is the layers' coverage, and need not be
    // filtered on its own.
    if (opaque) in.alpha.reset();
  }
  for (const Plane& plane : frame.colour) {
    Plane& out = in.colour.emplace_back(FilledInterruptibly<float>(count, abort));
    for (size_t i = 0; i < count; ++i) {
      abort.Poll(i);
      float value = plane[i];
      if (straight) {
        const float a = (*frame.alpha)[i];
        value = std::isfinite(a) && a != 0.0f ? value * a : 0.0f;
      }
      out[i] = Finite(value, in.nonFinite);
    }
  }
  in.key = FilledInterruptibly<int32_t>(count, abort);
  const size_t width = static_cast<size_t>(frame.width);
  for (size_t i = 0; i < count; ++i) {
    abort.Poll(i);
    const float z = rendererZ.empty() ? 0.0f : rendererZ[i];
    // Before the focal plane: geometry nearer than the focal depth.
    const bool near = radii[i] > 0 && z > Z_BACKGROUND && -z < map.focalDepth;
    const int32_t key = LayerKey(radii[i], near);
    in.key[i] = key;
    auto [it, added] = in.layers.try_emplace(key);
    Layer& layer = it->second;
    if (added) {
      layer.radius = radii[i];
      layer.near = near;
      layer.z = z;
    }
    const auto x = static_cast<int32_t>(i % width);
    const auto y = static_cast<int32_t>(i / width);
    layer.bounds = {std::min(layer.bounds.x0, x), std::min(layer.bounds.y0, y),
                    std::max(layer.bounds.x1, x + 1), std::max(layer.bounds.y1, y + 1)};
  }
  return in;
}

// The part of the frame a layer's blur reaches, with every window its
// pixels' spread needs inside: its bounds widened by twice its radius.
Box ReachOf(const Layer& layer, const FramePlanes& frame) {
  const int64_t grow = 2 * static_cast<int64_t>(layer.radius);
  auto clip = [](int64_t v, int32_t hi) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, 0, hi));
  };
  return {clip(layer.bounds.x0 - grow, frame.width), clip(layer.bounds.y0 - grow, frame.height),
          clip(layer.bounds.x1 + grow, frame.width), clip(layer.bounds.y1 + grow, frame.height)};
}

// What has been laid so far: premultiplied colour, alpha (when the frame's
// is filtered) and coverage, over the whole frame.
struct Stack {
  std::vector<Plane> colour;
  std::optional<Plane> alpha;
  Plane coverage;
  // Pixels a layer before the focal plane reached.
  std::vector<uint8_t> reached;
};

// Runs `planes`, cut to `box`, through the module at one radius: every
// pixel's Z is `z`, one of the layer's own pixels' Z.
FilteredPlanes BlurAt(FocusFilterSession& session, float focalDepth, const FramePlanes& frame,
                      const std::vector<float>& rendererZ, const SourceSelection& source,
                      const Box& box, float z, std::vector<Plane> planes, int32_t frameNumber,
                      const PassOptions& options, const AbortCheck& abort) {
  FramePlanes part;
  part.width = box.Width();
  part.height = box.Height();
  part.colour = std::move(planes);
  part.colourNames.assign(part.colour.size(), "");
  part.alphaMode = AlphaMode::Ignore;
  // Every pixel of the pass is blurred: all of them carry the ID the filter
  // blurs.
  const size_t count = box.Count();
  if (source.mode == SOURCE_OBJECT_CHANNEL && frame.objectId) {
    part.objectId.emplace(count, static_cast<uint16_t>(source.id));
  } else if (source.mode == SOURCE_MATERIAL_EFFECTS && frame.materialId) {
    part.materialId.emplace(count, static_cast<uint8_t>(source.id));
  }
  const std::vector<float> partZ(rendererZ.empty() ? 0 : count, z);
  return FilterPlanes(session, focalDepth, part, partZ, frameNumber, options, abort);
}

// How much of a hole a fill of blurred coverage `spread` fills: all of it
// from 1/32 up, less below, where the division by a small coverage would
// magnify the bands' rounding of it (at most 32 times one step).
float FillShare(float spread) { return std::min(1.0f, spread * 32.0f); }

// The factor that fills the stack's holes with its own colour at a pixel
// of coverage `covered`: 1 / covered where the fill takes all of the hole.
float SelfFill(float covered) {
  return covered > 0.0f ? 1.0f + (1.0f - covered) * FillShare(covered) / covered : 0.0f;
}

// Coverage and alpha (0 ... 1) go through the passes scaled by this: full
// coverage is then exactly 32767 steps of the band below 0.5, whose step is
// a sixteenth of the band above's. Thin layers are normalised by small
// blurred coverages, which must not magnify a coarse step.
constexpr float COVERAGE_SCALE = static_cast<float>(32767.0 / (2.0 * CHANNEL_MAX));
constexpr float COVERAGE_UNSCALE = 1.0f / COVERAGE_SCALE;

// A plane cut for a layer's pass: `values` (1 where null) times `scale`,
// on the layer's own pixels only or on all of them.
struct CutSource {
  const float* values;
  bool onlyLayer;
  float scale = 1.0f;
};

// Runs `row` on every row of `box` (its frame row y, and k, the index of
// its first pixel in the box), the rows split among `threads` lanes.
void ForRows(const Box& box, size_t threads, const AbortCheck& abort,
             const std::function<void(int32_t y, size_t k)>& row) {
  RunRanges(static_cast<size_t>(box.Height()), threads, abort,
            [&](size_t begin, size_t end, const AbortCheck& check) {
              for (size_t r = begin; r < end; ++r) {
                check.ThrowIfRequested();
                row(box.y0 + static_cast<int32_t>(r), r * static_cast<size_t>(box.Width()));
              }
            });
}

// The sources' pixels inside `box`, with the layer `key`'s mask.
std::vector<Plane> Cut(const Box& box, int32_t width, const std::vector<int32_t>& keys, int32_t key,
                       const std::vector<CutSource>& sources, size_t threads,
                       const AbortCheck& abort) {
  std::vector<Plane> planes;
  for (size_t p = 0; p < sources.size(); ++p) {
    planes.push_back(FilledInterruptibly<float>(box.Count(), abort));
  }
  ForRows(box, threads, abort, [&](int32_t y, size_t k) {
    const size_t first = static_cast<size_t>(y) * static_cast<size_t>(width);
    for (size_t p = 0; p < sources.size(); ++p) {
      const CutSource& source = sources[p];
      float* out = planes[p].data() + k;
      for (int32_t x = box.x0; x < box.x1; ++x, ++out) {
        const size_t i = first + static_cast<size_t>(x);
        const float value = (source.values ? source.values[i] : 1.0f) * source.scale;
        *out = !source.onlyLayer || keys[i] == key ? value : 0.0f;
      }
    }
  });
  return planes;
}

}  // namespace

FilteredPlanes FilterPlanesLayered(FocusFilterSession& session, float focalDepth,
                                   const FramePlanes& frame, const std::vector<float>& rendererZ,
                                   int32_t frameNumber, const PassOptions& options,
                                   const AbortCheck& abort) {
  const size_t count = frame.PixelCount();
  CheckPlaneSizes(frame, options.frameName);
  if (!rendererZ.empty() && rendererZ.size() != count) {
    throw FileError(options.frameName, "the depth plane has the wrong size");
  }
  const AlphaMode alphaMode = options.alphaMode.value_or(frame.alphaMode);
  const bool filterAlpha = frame.alpha && alphaMode != AlphaMode::Ignore;
  const bool straight = filterAlpha && alphaMode == AlphaMode::Straight;

  const FocusConfig record = session.Record();
  FilteredPlanes result;
  result.range = session.TrackValue(RANGE_TRACK, frameNumber, record.blurRange);
  result.size = session.TrackValue(SIZE_TRACK, frameNumber, record.blurSize);
  FocusMapSettings map;
  map.source = SourceFromRecord(record);
  map.focalDepth = focalDepth;
  map.range = result.range;
  map.size = result.size;
  const LayerInput in = CutIntoLayers(frame, rendererZ, map, filterAlpha, straight, abort);
  result.nonFiniteValues = in.nonFinite;
  result.layers = static_cast<int32_t>(in.layers.size());
  const bool withAlpha = in.alpha.has_value();
  const size_t channels = in.channels;
  const int32_t width = frame.width;
  const size_t threads = std::max<size_t>(options.threads, 1);

  Stack stack;
  for (size_t c = 0; c < channels; ++c)
    stack.colour.push_back(FilledInterruptibly<float>(count, abort));
  if (withAlpha) stack.alpha = FilledInterruptibly<float>(count, abort);
  stack.coverage = FilledInterruptibly<float>(count, abort);
  stack.reached = FilledInterruptibly<uint8_t>(count, abort);

  PassOptions layerOptions = options;
  layerOptions.alphaMode = AlphaMode::Ignore;
  // Every pixel of a layer's pass has the layer's radius, 1 or more.
  layerOptions.probe = false;
  int32_t done = 0;
  const auto layerCount = static_cast<int32_t>(in.layers.size());

  // Far to near: the map's keys run near to far.
  for (auto it = in.layers.rbegin(); it != in.layers.rend(); ++it, ++done) {
    const int32_t key = it->first;
    const Layer& layer = it->second;
    if (options.onProgress) {
      // The layer's passes as one run of rows, so that progress never goes
      // back within a layer.
      layerOptions.onProgress = [&options, done, layerCount](int32_t pass, int32_t passes,
                                                             int32_t row, int32_t lastRow) {
        const int64_t rows = static_cast<int64_t>(lastRow) + 1;
        options.onProgress(done, layerCount, static_cast<int32_t>(pass * rows + row),
                           static_cast<int32_t>(passes * rows - 1));
      };
    }
    if (layer.radius == 0) {
      // The in-focus layer, unblurred, over what lies behind it normalised.
      RunRanges(count, threads, abort, [&](size_t begin, size_t end, const AbortCheck& check) {
        for (size_t i = begin; i < end; ++i) {
          check.Poll(i);
          if (in.key[i] != key) continue;
          const float scale = SelfFill(stack.coverage[i]);
          const float a = withAlpha ? (*in.alpha)[i] : 1.0f;
          for (size_t c = 0; c < channels; ++c) {
            stack.colour[c][i] = in.colour[c][i] + (1.0f - a) * stack.colour[c][i] * scale;
          }
          if (withAlpha) (*stack.alpha)[i] = a + (1.0f - a) * (*stack.alpha)[i] * scale;
          stack.coverage[i] = 1.0f;
        }
      });
      continue;
    }

    // The layer's own planes: colour, alpha and coverage on its pixels.
    const Box box = ReachOf(layer, frame);
    std::vector<CutSource> sources;
    for (size_t c = 0; c < channels; ++c) sources.push_back({in.colour[c].data(), true});
    if (withAlpha) sources.push_back({in.alpha->data(), true, COVERAGE_SCALE});
    sources.push_back({nullptr, true, COVERAGE_SCALE});
    // Before the focal plane, the stack behind it as well, to fill what the
    // layer uncovers.
    if (layer.near) {
      for (size_t c = 0; c < channels; ++c) sources.push_back({stack.colour[c].data(), false});
      if (withAlpha) sources.push_back({stack.alpha->data(), false, COVERAGE_SCALE});
      sources.push_back({stack.coverage.data(), false, COVERAGE_SCALE});
    }
    const FilteredPlanes blurred = BlurAt(
        session, focalDepth, frame, rendererZ, map.source, box, layer.z,
        Cut(box, width, in.key, key, sources, threads, abort), frameNumber, layerOptions, abort);
    result.passes += blurred.passes;
    result.channelBands += blurred.channelBands;

    // The blurred planes, in the order they went in.
    const std::vector<Plane>& out = blurred.colour;
    const size_t own = channels + (withAlpha ? 1 : 0);
    const Plane& coverage = out[own];
    const Plane* fillCoverage = layer.near ? &out[2 * own + 1] : nullptr;
    ForRows(box, threads, abort, [&](int32_t y, size_t k) {
      std::vector<float> behind(own);
      for (int32_t x = box.x0; x < box.x1; ++x, ++k) {
        const size_t i =
            static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
        const float m = std::clamp(coverage[k] * COVERAGE_UNSCALE, 0.0f, 1.0f);
        const float a = withAlpha ? std::clamp(out[channels][k] * COVERAGE_UNSCALE, 0.0f, 1.0f) : m;
        bool any = m != 0.0f || a != 0.0f;
        for (size_t c = 0; c < channels && !any; ++c) any = out[c][k] != 0.0f;
        if (!any) continue;  // the layer does not reach the pixel
        if (layer.near) stack.reached[i] = 1;
        // What lies behind: the stack, its holes filled.
        const float covered = stack.coverage[i];
        float behindCoverage;
        if (fillCoverage) {
          // Completed by the stack's blur at this radius, normalised.
          const float spread = (*fillCoverage)[k] * COVERAGE_UNSCALE;
          const float share = FillShare(spread);
          const float fill = spread > 0.0f ? (1.0f - covered) * share / spread : 0.0f;
          for (size_t c = 0; c < channels; ++c) {
            behind[c] = stack.colour[c][i] + fill * out[own + 1 + c][k];
          }
          if (withAlpha) {
            behind[channels] =
                (*stack.alpha)[i] + fill * out[own + 1 + channels][k] * COVERAGE_UNSCALE;
          }
          behindCoverage = covered + (1.0f - covered) * share;
        } else {
          // Normalised by its own coverage.
          const float scale = SelfFill(covered);
          for (size_t c = 0; c < channels; ++c) behind[c] = stack.colour[c][i] * scale;
          if (withAlpha) behind[channels] = (*stack.alpha)[i] * scale;
          behindCoverage = covered + (1.0f - covered) * FillShare(covered);
        }
        // The layer over it.
        for (size_t c = 0; c < channels; ++c)
          stack.colour[c][i] = out[c][k] + (1.0f - a) * behind[c];
        if (withAlpha) (*stack.alpha)[i] = a + (1.0f - a) * behind[channels];
        stack.coverage[i] = m + (1.0f - m) * behindCoverage;
      }
    });
  }

  // The stack normalised by its coverage, in the frame's alpha mode; in-focus
  // pixels no nearer layer reached, and any pixel nothing covers, as they
  // came.
  result.colour.assign(channels, Plane());
  for (size_t c = 0; c < channels; ++c) result.colour[c] = std::move(stack.colour[c]);
  if (filterAlpha) {
    result.alpha = withAlpha ? std::move(*stack.alpha) : *frame.alpha;
  } else if (frame.alpha) {
    result.alpha = frame.alpha;
  }
  RunRanges(count, threads, abort, [&](size_t begin, size_t end, const AbortCheck& check) {
    for (size_t i = begin; i < end; ++i) {
      check.Poll(i);
      const float covered = stack.coverage[i];
      if ((in.key[i] == 0 && !stack.reached[i]) || !(covered > 0.0f)) {
        for (size_t c = 0; c < channels; ++c) result.colour[c][i] = frame.colour[c][i];
        if (filterAlpha) (*result.alpha)[i] = (*frame.alpha)[i];
        continue;
      }
      const float scale = 1.0f / covered;
      for (size_t c = 0; c < channels; ++c) result.colour[c][i] *= scale;
      if (!filterAlpha) continue;
      float alpha = withAlpha ? (*result.alpha)[i] * scale : 1.0f;
      if (alpha > 1.0f) {
        for (size_t c = 0; c < channels; ++c) result.colour[c][i] /= alpha;
        alpha = 1.0f;
      } else if (alpha < 0.0f) {
        alpha = 0.0f;
      }
      (*result.alpha)[i] = alpha;
      if (straight) {
        for (size_t c = 0; c < channels; ++c) {
          result.colour[c][i] = alpha > 0.0f ? result.colour[c][i] / alpha : 0.0f;
        }
      }
    }
  });
  return result;
}

}  // namespace kestrion
