// module_passes.h: float planes filtered through the 16-bit module without
// losing their precision, in brightness-band passes.
//
// The module replaces every pixel's r, g and b by the truncated mean of
// 16-bit values over a square window whose radius depends only on the
// pixel's depth, the IDs and the parameters, never on colour. The mean is
// linear, so a channel can be split into parts that add up to it, each part
// filtered on its own, and the filtered parts added back.
//
// Each channel is split into brightness bands: band 0 holds magnitudes
// below BAND_BASE, band k >= 1 magnitudes in [BAND_BASE 16^(k-1),
// BAND_BASE 16^k). A value goes to the one band that holds its magnitude
// (negative values to bands of their own, subtracted on the way back),
// rounded to 16 bits at that band's step, top / 65535. Every band a channel
// uses is one channel-band; three channel-bands make one pass through the
// module (in r, g and b), all with the same depth and IDs, so every pass
// uses the same windows. Each filtered channel is then the sum of its bands'
// means, each multiplied by its band's step.
//
// Rounding costs at most half a step per band, the module's truncation less
// than one: at most 1.5 steps of each band present in a window. The window's
// brightest magnitude M lies in its highest band K, whose step is at most
// 16 M / 65535, and the lower bands' steps fall by 16 each, so the error is
// below 1.5 * 16/15 * 16 M / 65535 = 0.039 % of M; within band 0 alone it is
// below 1.5 BAND_BASE / 65535 < 1e-6 absolute.
//
// One slot of one pass carries a probe, a checkerboard of 0 and 65535, that
// no window of radius 1 or more can average back to its centre's value: a
// pixel whose probe comes back unchanged is one the module left alone
// (radius 0, or outside the ID it blurs), and it keeps the input's values
// exactly, in every channel. The probe takes a spare slot, or one pass more
// when every pass is full.
//
// Premultiplied alpha is one more channel in the passes, so that it gets
// exactly the colour's windows and the result stays premultiplied. Filtered
// alpha is held to 0 ... 1: where the bands' rounding lifted it above 1 the
// colour is divided by it too, keeping colour over alpha. Straight colour is
// premultiplied before and divided by that alpha after (0 where it is 0).
// With AlphaMode::Ignore alpha is neither filtered nor used, and comes back
// unchanged.
//
// The passes of a frame are independent: several may run at once, each
// through a filter and a host bitmap of its own. The means of each pass are
// added to the sums in the passes' order whatever ran when, so the output
// does not depend on how many ran side by side.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/abort_check.h"
#include "formats/frame_planes.h"
#include "frame/filter_session.h"
#include "frame/shot_keys.h"
#include "host/filter_pipeline.h"
#include "kestrion/focus_config.h"

namespace kestrion {

// Band 0's top: a power of two, so that its step is exact, and small enough
// that 1.5 steps stay below 1e-6.
inline constexpr double BAND_BASE = 1.0 / 32.0;
inline constexpr double BAND_RATIO = 16.0;

// The band that holds a magnitude (> 0, finite), and a band's top.
int32_t BandOf(float magnitude);
double BandTop(int32_t band);

// Reports the progress of a pass run: pass `pass` (0-based) of `passes` is
// about to process `row` of rows 0..lastRow.
using PassObserver =
    std::function<void(int32_t pass, int32_t passes, int32_t row, int32_t lastRow)>;

// What a pass run is told besides the frame.
struct PassOptions {
  std::string frameName = "frame";     // names the frame in messages
  std::optional<AlphaMode> alphaMode;  // how colour relates to alpha; unset: as the frame says
  PassObserver onProgress;             // may be empty
  MessageBoxObserver onMessageBox;     // the filter's message boxes; may be empty
  // Threads for the loops over the frame's pixels (0 counts as 1).
  uint32_t threads = 1;
  // Passes run at the same time, each but the first through a filter that
  // newSession makes, configured and keyed as the session's own; with 1 or
  // no newSession the passes take turns in the session's filter. Outputs are
  // the same bits for every count of threads and passes.
  uint32_t concurrentPasses = 1;
  std::function<std::unique_ptr<FocusFilterSession>()> newSession;
  // Whether the passes carry the probe. A caller that knows the module
  // blurs every pixel (a radius of 1 or more everywhere, every pixel of the
  // ID it blurs) saves its slot; no pixel is then taken as left alone.
  bool probe = true;
};

struct FilteredPlanes {
  // In the frame's order and alpha mode: premultiplied stays premultiplied,
  // straight stays straight.
  std::vector<Plane> colour;
  // Filtered with the colour's windows; the input's alpha unchanged with
  // AlphaMode::Ignore; absent when the frame has none.
  std::optional<Plane> alpha;
  // Colour (and alpha) values that were infinite or NaN, filtered as 0.
  size_t nonFiniteValues = 0;
  // The blur range and size the filter used: the record's, or its tracks'
  // values at the frame when they were keyed.
  float range = 0.0f;
  float size = 0.0f;
  // Passes through the module the frame took, and channel-bands they held
  // (the probe not counted).
  int32_t passes = 0;
  int32_t channelBands = 0;
  // Depth layers of a layered render (layered_passes.h); 0 for the default
  // one.
  int32_t layers = 0;

  // One line each for the command to print (empty when all is well).
  std::vector<std::string> Warnings(const std::string& frameName) const;
};

// Throws a FileError naming `frameName` when a colour plane or the alpha
// plane does not hold one value a pixel.
void CheckPlaneSizes(const FramePlanes& frame, const std::string& frameName);

// Filters `frame`'s colour (and alpha, as above) through the session's
// filter, focused at `focalDepth` in front of the camera: the node its
// record names is placed on the camera axis there. `rendererZ` is the
// frame's depth as the renderer's Z (depth_modes.h), one value a pixel;
// empty when the frame has none. The filter event names `frameNumber`, and
// every pass evaluates the filter's tracks there. Asks `abort` every
// ABORT_STRIDE pixels and once a row of every pass. Throws what
// FocusFilterSession::Run throws, and a FileError naming the frame for a
// frame the host's bitmaps cannot hold.
FilteredPlanes FilterPlanes(FocusFilterSession& session, float focalDepth, const FramePlanes& frame,
                            const std::vector<float>& rendererZ, int32_t frameNumber,
                            const PassOptions& options = {},
                            const AbortCheck& abort = NeverAbort());

// Which frame of a shot the filter renders, and keys for its own Range and
// Size tracks (absent: the record's value holds for every frame).
struct FrameAnimation {
  int32_t frame = 0;
  std::optional<FloatKeys> range;
  std::optional<FloatKeys> size;
};

// As above, through a new filter of the module given `record`, with its
// tracks keyed from `animation` before the first pass.
FilteredPlanes FilterPlanes(const FilterModule& module, const FocusConfig& record, float focalDepth,
                            const FramePlanes& frame, const std::vector<float>& rendererZ,
                            const PassOptions& options = {}, const FrameAnimation& animation = {},
                            const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
