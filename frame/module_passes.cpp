#include "frame/module_passes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/abort_check.h"
#include "base/errors.h"
#include "formats/image.h"
#include "host/scene.h"

namespace kestrion {

namespace {

// The bands a magnitude can fall in: float's largest value lies in band 34.
constexpr int32_t BAND_COUNT = 35;
// A pixel's band code: the band, plus NEGATIVE for a negative value; NONE
// for a zero, which no band needs.
constexpr uint8_t NEGATIVE = 64;
constexpr uint8_t NONE = 0xFF;
constexpr int32_t CODE_COUNT = 2 * NEGATIVE;
constexpr int32_t SLOTS = 3;  // channel-bands a pass holds: r, g, b

// One channel split into bands: each pixel's band code and its value in
// 16-bit steps of that band.
struct BandedChannel {
  std::vector<uint8_t> code;
  std::vector<uint16_t> steps;
  std::array<bool, CODE_COUNT> present{};
};

BandedChannel SplitIntoBands(const float* values, const float* factor, size_t count,
                             size_t& nonFinite, const AbortCheck& abort) {
  // Steps per unit of each band, in double: the top bands' tops exceed
  // float's range.
  std::array<double, BAND_COUNT> perUnit{};
  for (int32_t band = 0; band < BAND_COUNT; ++band) perUnit[band] = CHANNEL_MAX / BandTop(band);
  BandedChannel channel;
  ResizeInterruptibly(channel.code, count, abort);
  ResizeInterruptibly(channel.steps, count, abort);
  for (size_t i = 0; i < count; ++i) {
    abort.Poll(i);
    float value = values[i];
    // Colour under alpha 0 (or an unusable alpha) is meaningless, whatever
    // it holds.
    if (factor) value = std::isfinite(factor[i]) && factor[i] != 0.0f ? value * factor[i] : 0.0f;
    if (!std::isfinite(value)) {
      ++nonFinite;
      value = 0.0f;
    }
    if (value == 0.0f) {
      channel.code[i] = NONE;
      channel.steps[i] = 0;
      continue;
    }
    const float magnitude = std::fabs(value);
    const int32_t band = BandOf(magnitude);
    const uint8_t code = static_cast<uint8_t>(band + (value < 0.0f ? NEGATIVE : 0));
    // Below the band's top, so at most 65535 after rounding.
    const auto rounded = static_cast<int64_t>(magnitude * perUnit[band] + 0.5);
    channel.code[i] = code;
    channel.steps[i] = static_cast<uint16_t>(std::min<int64_t>(rounded, CHANNEL_MAX));
    // A value that rounds to 0 steps needs no pass of its own.
    if (rounded > 0) channel.present[code] = true;
  }
  return channel;
}

struct ChannelBand {
  size_t channel;
  uint8_t code;
};

// Places the node the record names on the camera axis at `depth`: the frame
// is seen from a camera at the world origin looking down -z.
void PlaceFocalNode(Image& frame, const FocusConfig& record, float depth) {
  RenderInfo& info = frame.Storage().CreateRenderInfo();
  info.renderTime = 0;
  info.worldToCam = Matrix3::Identity();
  const std::string name(record.focalObjectName,
                         strnlen(record.focalObjectName, sizeof record.focalObjectName));
  SceneNode* node = HostInterface().GetNodeByName(name.c_str());
  if (!node) node = &HostInterface().AddNode(name);
  node->SetWorldTransform(0, Matrix3::Translation({0.0f, 0.0f, -depth}));
}

// What the host bitmap of PassBitmap holds: its pixels and the channels
// the frame has.
size_t PassBitmapBytes(const FramePlanes& frame, const std::vector<float>& rendererZ) {
  const size_t perPixel = sizeof(BMM_Color_64) + (rendererZ.empty() ? 0 : sizeof(float)) +
                          (frame.objectId ? sizeof(uint16_t) : 0) +
                          (frame.materialId ? sizeof(uint8_t) : 0);
  return frame.PixelCount() * perPixel;
}

// The host bitmap every pass runs in: the renderer's channels set once.
Image PassBitmap(const FramePlanes& frame, const std::vector<float>& rendererZ,
                 const std::string& frameName) {
  constexpr int32_t LARGEST = std::numeric_limits<uint16_t>::max();
  if (frame.width < 1 || frame.height < 1 || frame.width > LARGEST || frame.height > LARGEST) {
    throw FileError(frameName, "a frame of " + std::to_string(frame.width) + " x " +
                                   std::to_string(frame.height) +
                                   " pixels cannot be filtered (1 to 65535 pixels a side)");
  }
  const size_t count = frame.PixelCount();
  Image image{Bitmap(static_cast<uint16_t>(frame.width), static_cast<uint16_t>(frame.height)),
              ColourEncoding{true, 1.0f}};
  BitmapStorage& storage = image.Storage();
  uint32_t channels = 0;
  if (!rendererZ.empty()) channels |= CHANNEL_Z;
  if (frame.objectId) channels |= CHANNEL_OBJ_ID;
  if (frame.materialId) channels |= CHANNEL_MTL_ID;
  storage.CreateChannels(channels);
  if (!rendererZ.empty()) {
    if (rendererZ.size() != count) throw FileError(frameName, "the depth plane has the wrong size");
    std::copy(rendererZ.begin(), rendererZ.end(), storage.ZChannel());
  }
  if (frame.objectId) {
    if (frame.objectId->size() != count)
      throw FileError(frameName, "the object IDs have the wrong size");
    std::copy(frame.objectId->begin(), frame.objectId->end(), storage.ObjChannel());
  }
  if (frame.materialId) {
    if (frame.materialId->size() != count) {
      throw FileError(frameName, "the material IDs have the wrong size");
    }
    std::copy(frame.materialId->begin(), frame.materialId->end(), storage.MtlChannel());
  }
  return image;
}

}  // namespace

int32_t BandOf(float magnitude) {
  if (!(magnitude >= static_cast<float>(BAND_BASE))) return 0;
  // floor(log2(magnitude / BAND_BASE)) from the float's exponent field:
  // magnitudes from BAND_BASE up are normal numbers.
  const int32_t exponent = static_cast<int32_t>((std::bit_cast<uint32_t>(magnitude) >> 23) & 0xFF);
  const int32_t octaves = exponent - 127 + 5;  // BAND_BASE is 2^-5
  return octaves / 4 + 1;
}

double BandTop(int32_t band) { return std::ldexp(BAND_BASE, 4 * band); }

std::vector<std::string> FilteredPlanes::Warnings(const std::string& frameName) const {
  std::vector<std::string> lines;
  if (nonFiniteValues > 0) {
    lines.push_back(ShownName(frameName) + ": " + std::to_string(nonFiniteValues) +
                    " colour or alpha values are infinite or NaN; they were filtered as 0");
  }
  return lines;
}

FilteredPlanes FilterPlanes(FocusFilterSession& session, float focalDepth, const FramePlanes& frame,
                            const std::vector<float>& rendererZ, int32_t frameNumber,
                            const PassOptions& options, const AbortCheck& abort) {
  const std::string& frameName = options.frameName;
  const size_t count = frame.PixelCount();
  for (const Plane& plane : frame.colour) {
    if (plane.size() != count) throw FileError(frameName, "a colour plane has the wrong size");
  }
  if (frame.alpha && frame.alpha->size() != count) {
    throw FileError(frameName, "the alpha plane has the wrong size");
  }
  // The bitmap is set up in one go: its pages are faulted first, a slice at
  // a time between questions.
  PrefaultFrameMemory(PassBitmapBytes(frame, rendererZ), [&abort] { return abort.Requested(); });
  abort.ThrowIfRequested();
  Image image = PassBitmap(frame, rendererZ, frameName);
  const FocusConfig record = session.Record();
  PlaceFocalNode(image, record, focalDepth);

  // Alpha is filtered with the colour unless ignored; straight colour is
  // filtered premultiplied.
  const AlphaMode alphaMode = options.alphaMode.value_or(frame.alphaMode);
  const bool filterAlpha = frame.alpha && alphaMode != AlphaMode::Ignore;
  const bool straight = filterAlpha && alphaMode == AlphaMode::Straight;
  const float* factor = straight ? frame.alpha->data() : nullptr;

  FilteredPlanes result;
  result.range = session.TrackValue(RANGE_TRACK, frameNumber, record.blurRange);
  result.size = session.TrackValue(SIZE_TRACK, frameNumber, record.blurSize);
  std::vector<BandedChannel> banded;
  for (const Plane& plane : frame.colour) {
    banded.push_back(SplitIntoBands(plane.data(), factor, count, result.nonFiniteValues, abort));
  }
  if (filterAlpha) {
    banded.push_back(
        SplitIntoBands(frame.alpha->data(), nullptr, count, result.nonFiniteValues, abort));
  }
  std::vector<ChannelBand> channelBands;
  for (size_t channel = 0; channel < banded.size(); ++channel) {
    for (int32_t code = 0; code < CODE_COUNT; ++code) {
      if (banded[channel].present[code]) {
        channelBands.push_back({channel, static_cast<uint8_t>(code)});
      }
    }
  }
  const int32_t passes = static_cast<int32_t>((channelBands.size() + SLOTS - 1) / SLOTS);
  result.passes = passes;
  result.channelBands = static_cast<int32_t>(channelBands.size());

  std::vector<Plane> sums(banded.size());
  for (Plane& sum : sums) ResizeInterruptibly(sum, count, abort);
  BMM_Color_64* pixels = image.Storage().Pixels();
  for (int32_t pass = 0; pass < passes; ++pass) {
    const size_t first = static_cast<size_t>(pass) * SLOTS;
    const size_t used = std::min<size_t>(SLOTS, channelBands.size() - first);
    // Unused slots stay 0: their means are 0 and cost nothing to add.
    std::array<const uint8_t*, SLOTS> code{};
    std::array<const uint16_t*, SLOTS> steps{};
    std::array<uint8_t, SLOTS> want{};
    std::array<float*, SLOTS> sum{};
    std::array<float, SLOTS> step{};
    for (size_t s = 0; s < used; ++s) {
      const ChannelBand& cb = channelBands[first + s];
      code[s] = banded[cb.channel].code.data();
      steps[s] = banded[cb.channel].steps.data();
      want[s] = cb.code;
      sum[s] = sums[cb.channel].data();
      const double top = BandTop(cb.code & (NEGATIVE - 1));
      step[s] = static_cast<float>((cb.code & NEGATIVE ? -top : top) / CHANNEL_MAX);
    }
    for (size_t i = 0; i < count; ++i) {
      abort.Poll(i);
      uint16_t value[SLOTS] = {0, 0, 0};
      for (size_t s = 0; s < used; ++s) value[s] = code[s][i] == want[s] ? steps[s][i] : 0;
      pixels[i] = {value[0], value[1], value[2], CHANNEL_MAX};
    }
    const PassObserver& onProgress = options.onProgress;
    session.Run(
        image, frameName, frameNumber, abort,
        [&onProgress, pass, passes](int32_t row, int32_t lastRow) {
          if (onProgress) onProgress(pass, passes, row, lastRow);
        },
        options.onMessageBox);
    for (size_t i = 0; i < count; ++i) {
      abort.Poll(i);
      const uint16_t mean[SLOTS] = {pixels[i].r, pixels[i].g, pixels[i].b};
      for (size_t s = 0; s < used; ++s) {
        if (mean[s]) sum[s][i] += static_cast<float>(mean[s]) * step[s];
      }
    }
  }

  if (filterAlpha) {
    result.alpha = std::move(sums.back());
    sums.pop_back();
  } else if (frame.alpha) {
    result.alpha = frame.alpha;
  }
  if (straight) {
    const Plane& alpha = *result.alpha;
    for (Plane& plane : sums) {
      for (size_t i = 0; i < count; ++i) {
        abort.Poll(i);
        plane[i] = alpha[i] > 0.0f ? plane[i] / alpha[i] : 0.0f;
      }
    }
  }
  result.colour = std::move(sums);
  return result;
}

FilteredPlanes FilterPlanes(const FilterModule& module, const FocusConfig& record, float focalDepth,
                            const FramePlanes& frame, const std::vector<float>& rendererZ,
                            const PassOptions& options, const FrameAnimation& animation,
                            const AbortCheck& abort) {
  FocusFilterSession session(module, record);
  if (animation.range) session.KeyTrack(RANGE_TRACK, *animation.range);
  if (animation.size) session.KeyTrack(SIZE_TRACK, *animation.size);
  return FilterPlanes(session, focalDepth, frame, rendererZ, animation.frame, options, abort);
}

}  // namespace kestrion
