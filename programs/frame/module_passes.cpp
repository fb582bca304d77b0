#include "frame/module_passes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "base/abort_check.h"
#include "base/concurrent_lanes.h"
#include "base/errors.h"
#include "formats/image.h"
#include "frame/pass_setup.h"
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

// One slot of a pass: a band of a channel, or the probe.
struct ChannelBand {
  size_t channel;
  uint8_t code;
};
constexpr size_t PROBE = std::numeric_limits<size_t>::max();

// The probe: a checkerboard of 0 and CHANNEL_MAX in one slot. A window of
// radius 1 or more, clipped to a frame of two or more pixels, holds at least
// two neighbouring pixels; a rectangle of N >= 2 pixels of a checkerboard
// holds n = floor(N / 2) or ceil(N / 2) of each value, so the mean
// n * 65535 / N lies between 65535 / 3 and 2 * 65535 / 3: never 0 nor
// 65535. The probe therefore comes back exactly as it went in where, and
// only where, the module left the pixel alone (radius 0, or outside the ID
// it blurs). On a frame of one pixel every window is that pixel.
uint16_t ProbeValue(size_t x, size_t y) { return (x + y) & 1 ? CHANNEL_MAX : 0; }

// What the passes of a frame hold: its channels (alpha last, when it is
// filtered) split into bands, and the channel-bands in the order the passes
// take them, three a pass, the probe last.
struct PassPlan {
  bool filterAlpha = false;
  bool straight = false;
  std::vector<BandedChannel> banded;
  std::vector<ChannelBand> channelBands;
  int32_t passes = 0;
  // Channel-bands without the probe, and values that were not finite.
  int32_t filteredBands = 0;
  size_t nonFiniteValues = 0;
};

// Checks the frame's planes and splits its channels into bands: the passes
// the frame takes.
PassPlan PlanPasses(const FramePlanes& frame, const PassOptions& options, size_t threads,
                    const AbortCheck& abort) {
  const size_t count = frame.PixelCount();
  CheckPlaneSizes(frame, options.frameName);

  // Alpha is filtered with the colour unless ignored; straight colour is
  // filtered premultiplied.
  PassPlan plan;
  const AlphaMode alphaMode = options.alphaMode.value_or(frame.alphaMode);
  plan.filterAlpha = frame.alpha && alphaMode != AlphaMode::Ignore;
  plan.straight = plan.filterAlpha && alphaMode == AlphaMode::Straight;
  const bool filterAlpha = plan.filterAlpha;
  const float* factor = plan.straight ? frame.alpha->data() : nullptr;

  std::vector<const float*> sources;
  for (const Plane& plane : frame.colour) sources.push_back(plane.data());
  if (filterAlpha) sources.push_back(frame.alpha->data());
  // The channels split side by side, each on one lane; the counts of values
  // that were not finite added up afterwards.
  std::vector<BandedChannel>& banded = plan.banded;
  banded.resize(sources.size());
  std::vector<size_t> nonFinite(sources.size(), 0);
  RunLanes(std::min(threads, sources.size()), abort, [&](size_t lane, const AbortCheck& check) {
    const size_t lanes = std::min(threads, sources.size());
    for (size_t c = lane; c < sources.size(); c += lanes) {
      const bool isAlpha = filterAlpha && c + 1 == sources.size();
      banded[c] =
          SplitIntoBands(sources[c], isAlpha ? nullptr : factor, count, nonFinite[c], check);
    }
  });
  for (size_t n : nonFinite) plan.nonFiniteValues += n;
  std::vector<ChannelBand>& channelBands = plan.channelBands;
  for (size_t channel = 0; channel < banded.size(); ++channel) {
    for (int32_t code = 0; code < CODE_COUNT; ++code) {
      if (banded[channel].present[code]) {
        channelBands.push_back({channel, static_cast<uint8_t>(code)});
      }
    }
  }
  plan.filteredBands = static_cast<int32_t>(channelBands.size());
  // The probe takes a spare slot of the last pass, or a pass of its own.
  if (options.probe) channelBands.push_back({PROBE, 0});
  plan.passes = static_cast<int32_t>((channelBands.size() + SLOTS - 1) / SLOTS);
  return plan;
}

// What the passes gave: each channel's sum of its bands' means, and whether
// the module left each pixel alone, from the probe.
struct PassSums {
  std::vector<Plane> sums;
  std::vector<uint8_t> kept;
};

// Adds one slot's means, each times `step`, to the sums of pixels [begin,
// end).
template <uint16_t BMM_Color_64::*Mean>
void AddMeans(const BMM_Color_64* pixels, float* sum, float step, size_t begin, size_t end,
              const AbortCheck& check) {
  for (size_t i = begin; i < end; ++i) {
    check.Poll(i);
    sum[i] += static_cast<float>(pixels[i].*Mean) * step;
  }
}

// Runs the plan's passes through the session's filter (and, side by side,
// through filters options.newSession makes) and adds their means up.
PassSums RunPasses(FocusFilterSession& session, const PassPlan& plan, float focalDepth,
                   const FramePlanes& frame, const std::vector<float>& rendererZ,
                   int32_t frameNumber, const PassOptions& options, size_t threads,
                   const AbortCheck& abort) {
  const std::string& frameName = options.frameName;
  const size_t count = frame.PixelCount();
  const FocusConfig record = session.Record();
  const std::vector<BandedChannel>& banded = plan.banded;
  const std::vector<ChannelBand>& channelBands = plan.channelBands;
  const int32_t passes = plan.passes;

  // Passes run side by side, each lane with a filter and a bitmap of its
  // own; the first lane takes the session given.
  const size_t lanes =
      options.newSession ? std::clamp<size_t>(options.concurrentPasses, 1, std::max(passes, 1)) : 1;
  std::vector<std::unique_ptr<FocusFilterSession>> made;
  std::vector<FocusFilterSession*> sessions = {&session};
  // The bitmaps are set up in one go: their pages are faulted first, a
  // slice at a time between questions.
  PrefaultFrameMemory(lanes * PassBitmapBytes(frame, rendererZ),
                      [&abort] { return abort.Requested(); });
  abort.ThrowIfRequested();
  Interface scene;
  PlaceFocalNode(scene, record, focalDepth);
  SceneUse sceneUse(scene);
  std::vector<Image> images;
  for (size_t lane = 0; lane < lanes; ++lane) {
    if (lane > 0) {
      made.push_back(options.newSession());
      sessions.push_back(made.back().get());
    }
    sceneUse.Add(*sessions.back());
    images.push_back(PassBitmap(frame, rendererZ, frameName));
    SetCamera(images.back());
  }

  PassSums out;
  std::vector<Plane>& sums = out.sums;
  sums.resize(banded.size());
  for (Plane& sum : sums) ResizeInterruptibly(sum, count, abort);
  // Whether the module left each pixel alone, from the probe.
  std::vector<uint8_t>& kept = out.kept;
  ResizeInterruptibly(kept, count, abort);
  const size_t width = static_cast<size_t>(frame.width);
  // What the slots of a pass hold. Unused slots stay 0: their means are 0
  // and cost nothing to add.
  struct PassSlots {
    size_t used = 0;
    size_t probe = SLOTS;
    std::array<const uint8_t*, SLOTS> code{};
    std::array<const uint16_t*, SLOTS> steps{};
    std::array<uint8_t, SLOTS> want{};
    std::array<float*, SLOTS> sum{};
    std::array<float, SLOTS> step{};
  };
  auto slotsOf = [&](int32_t pass) {
    PassSlots slots;
    const size_t first = static_cast<size_t>(pass) * SLOTS;
    slots.used = std::min<size_t>(SLOTS, channelBands.size() - first);
    for (size_t s = 0; s < slots.used; ++s) {
      const ChannelBand& cb = channelBands[first + s];
      if (cb.channel == PROBE) {
        slots.probe = s;
        continue;
      }
      slots.code[s] = banded[cb.channel].code.data();
      slots.steps[s] = banded[cb.channel].steps.data();
      slots.want[s] = cb.code;
      slots.sum[s] = sums[cb.channel].data();
      const double top = BandTop(cb.code & (NEGATIVE - 1));
      slots.step[s] = static_cast<float>((cb.code & NEGATIVE ? -top : top) / CHANNEL_MAX);
    }
    return slots;
  };
  auto fill = [&](int32_t pass, Image& image, const AbortCheck& check) {
    const PassSlots slots = slotsOf(pass);
    BMM_Color_64* pixels = image.Storage().Pixels();
    if (slots.used == SLOTS && slots.probe == SLOTS) {
      // A full pass without the probe, as most are: a loop the compiler
      // can keep free of branches.
      const uint8_t* code[SLOTS] = {slots.code[0], slots.code[1], slots.code[2]};
      const uint16_t* steps[SLOTS] = {slots.steps[0], slots.steps[1], slots.steps[2]};
      const uint8_t want[SLOTS] = {slots.want[0], slots.want[1], slots.want[2]};
      for (size_t i = 0; i < count; ++i) {
        check.Poll(i);
        pixels[i] = {code[0][i] == want[0] ? steps[0][i] : uint16_t{0},
                     code[1][i] == want[1] ? steps[1][i] : uint16_t{0},
                     code[2][i] == want[2] ? steps[2][i] : uint16_t{0}, CHANNEL_MAX};
      }
      return;
    }
    for (size_t i = 0; i < count; ++i) {
      check.Poll(i);
      uint16_t value[SLOTS] = {0, 0, 0};
      for (size_t s = 0; s < slots.used; ++s) {
        if (s == slots.probe) {
          value[s] = ProbeValue(i % width, i / width);
        } else {
          value[s] = slots.code[s][i] == slots.want[s] ? slots.steps[s][i] : 0;
        }
      }
      pixels[i] = {value[0], value[1], value[2], CHANNEL_MAX};
    }
  };
  // Adds a filtered pass's means to the sums of pixels [begin, end).
  auto add = [&](int32_t pass, const Image& image, size_t begin, size_t end,
                 const AbortCheck& check) {
    const PassSlots slots = slotsOf(pass);
    const BMM_Color_64* pixels = image.Storage().Pixels();
    if (slots.probe == SLOTS) {
      // Without the probe, a slot at a time. A mean of 0 adds +0 or -0,
      // which leaves every sum as it was (no sum is -0): the same bits as
      // skipping it.
      if (slots.used > 0)
        AddMeans<&BMM_Color_64::r>(pixels, slots.sum[0], slots.step[0], begin, end, check);
      if (slots.used > 1)
        AddMeans<&BMM_Color_64::g>(pixels, slots.sum[1], slots.step[1], begin, end, check);
      if (slots.used > 2)
        AddMeans<&BMM_Color_64::b>(pixels, slots.sum[2], slots.step[2], begin, end, check);
      return;
    }
    for (size_t i = begin; i < end; ++i) {
      check.Poll(i);
      const uint16_t mean[SLOTS] = {pixels[i].r, pixels[i].g, pixels[i].b};
      for (size_t s = 0; s < slots.used; ++s) {
        if (s == slots.probe) {
          kept[i] = mean[s] == ProbeValue(i % width, i / width);
        } else if (mean[s]) {
          slots.sum[s][i] += static_cast<float>(mean[s]) * slots.step[s];
        }
      }
    }
  };
  // With passes side by side, the filters' message boxes go to the observer
  // one at a time, and only the first lane reports its rows: its passes come
  // in order, so the progress never goes back.
  std::mutex boxes;
  const MessageBoxObserver onBox = [&boxes, &options](const std::string& caption,
                                                      const std::string& text) {
    const std::lock_guard<std::mutex> hold(boxes);
    options.onMessageBox(caption, text);
  };
  std::optional<MessageBoxForwarder> forwarder;
  if (lanes > 1 && options.onMessageBox) forwarder.emplace(onBox);
  const PassObserver& onProgress = options.onProgress;
  for (int32_t wave = 0; wave < passes; wave += static_cast<int32_t>(lanes)) {
    const size_t inWave = std::min<size_t>(lanes, static_cast<size_t>(passes - wave));
    RunLanes(inWave, abort, [&](size_t lane, const AbortCheck& check) {
      const int32_t pass = wave + static_cast<int32_t>(lane);
      fill(pass, images[lane], check);
      RowObserver onRow;
      if (lane == 0 && onProgress) {
        onRow = [&onProgress, pass, passes](int32_t row, int32_t lastRow) {
          onProgress(pass, passes, row, lastRow);
        };
      }
      sessions[lane]->Run(images[lane], frameName, frameNumber, check, onRow,
                          lanes == 1 ? options.onMessageBox : MessageBoxObserver());
    });
    // Every pixel takes the wave's passes in their order, whatever the
    // lanes: the sums are the same bits for any number of threads.
    RunRanges(count, threads, abort, [&](size_t begin, size_t end, const AbortCheck& check) {
      for (size_t j = 0; j < inWave; ++j) {
        add(wave + static_cast<int32_t>(j), images[j], begin, end, check);
      }
    });
  }
  forwarder.reset();
  images.clear();
  return out;
}

// The pixels of the filtered frame from the passes' sums: those the module
// left alone keep the input's values, filtered alpha is held to 0 ... 1, and
// straight colour is divided by it again.
void FinishPixels(const FramePlanes& frame, const PassPlan& plan, PassSums& passed,
                  FilteredPlanes& result, size_t threads, const AbortCheck& abort) {
  const size_t count = frame.PixelCount();
  const bool filterAlpha = plan.filterAlpha;
  const bool straight = plan.straight;
  std::vector<Plane>& sums = passed.sums;
  const std::vector<uint8_t>& kept = passed.kept;
  if (filterAlpha) {
    result.alpha = std::move(sums.back());
    sums.pop_back();
  } else if (frame.alpha) {
    result.alpha = frame.alpha;
  }
  RunRanges(count, threads, abort, [&](size_t begin, size_t end, const AbortCheck& check) {
    for (size_t i = begin; i < end; ++i) {
      check.Poll(i);
      if (kept[i]) {
        // The module left the pixel alone: so does kestrion, in every
        // channel, whatever the bands would have rounded it to.
        for (size_t c = 0; c < sums.size(); ++c) sums[c][i] = frame.colour[c][i];
        if (filterAlpha) (*result.alpha)[i] = (*frame.alpha)[i];
        continue;
      }
      if (!filterAlpha) continue;
      // The bands' rounding can lift the mean of opaque pixels a little
      // above 1. Alpha is held to 0 ... 1; where it was above 1, the
      // premultiplied colour is divided by it as well, so that the colour
      // over alpha, what a compositor takes from the pixel, is what was
      // filtered (opaque white stays 1 in every channel). Below 0 there is
      // no ratio to keep: alpha 0 with colour is light without coverage, and
      // stays.
      float& alpha = (*result.alpha)[i];
      if (alpha > 1.0f) {
        for (Plane& plane : sums) plane[i] /= alpha;
        alpha = 1.0f;
      } else if (alpha < 0.0f) {
        alpha = 0.0f;
      }
      if (straight) {
        for (Plane& plane : sums) plane[i] = alpha > 0.0f ? plane[i] / alpha : 0.0f;
      }
    }
  });
  result.colour = std::move(sums);
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

void CheckPlaneSizes(const FramePlanes& frame, const std::string& frameName) {
  const size_t count = frame.PixelCount();
  for (const Plane& plane : frame.colour) {
    if (plane.size() != count) throw FileError(frameName, "a colour plane has the wrong size");
  }
  if (frame.alpha && frame.alpha->size() != count) {
    throw FileError(frameName, "the alpha plane has the wrong size");
  }
}

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
  const size_t threads = std::max<size_t>(options.threads, 1);
  const PassPlan plan = PlanPasses(frame, options, threads, abort);
  const FocusConfig record = session.Record();
  FilteredPlanes result;
  result.range = session.TrackValue(RANGE_TRACK, frameNumber, record.blurRange);
  result.size = session.TrackValue(SIZE_TRACK, frameNumber, record.blurSize);
  result.nonFiniteValues = plan.nonFiniteValues;
  result.channelBands = plan.filteredBands;
  result.passes = plan.passes;
  PassSums passed =
      RunPasses(session, plan, focalDepth, frame, rendererZ, frameNumber, options, threads, abort);
  FinishPixels(frame, plan, passed, result, threads, abort);
  return result;
}

FilteredPlanes FilterPlanes(const FilterModule& module, const FocusConfig& record, float focalDepth,
                            const FramePlanes& frame, const std::vector<float>& rendererZ,
                            const PassOptions& options, const FrameAnimation& animation,
                            const AbortCheck& abort) {
  auto newSession = [&module, &record, &animation] {
    auto session = std::make_unique<FocusFilterSession>(module, record);
    if (animation.range) session->KeyTrack(RANGE_TRACK, *animation.range);
    if (animation.size) session->KeyTrack(SIZE_TRACK, *animation.size);
    return session;
  };
  PassOptions withSessions = options;
  if (!withSessions.newSession) withSessions.newSession = newSession;
  const std::unique_ptr<FocusFilterSession> session = newSession();
  return FilterPlanes(*session, focalDepth, frame, rendererZ, animation.frame, withSessions, abort);
}

}  // namespace kestrion
