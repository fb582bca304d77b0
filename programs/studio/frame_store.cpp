// frame_store.cpp: reading the run's frames, and keeping the last few.
#include "studio/frame_store.h"

#include <algorithm>

#include "base/concurrent_lanes.h"
#include "formats/review_io.h"
#include "frame/focal_depth.h"

namespace studio {

namespace {

using namespace kestrion;

// Frames kept loaded: the one shown and the two seen before it.
constexpr size_t FRAMES_KEPT = 3;
// Threads that encode parts of a frame as review pixels side by side.
constexpr unsigned ENCODING_THREADS_MAX = 4;

}  // namespace

std::vector<uint8_t> ReviewPixelsSideBySide(const FramePlanes& planes, const std::string& name,
                                            const ReviewLook& look, const AbortCheck& abort) {
  std::vector<uint8_t> rgba;
  ResizeInterruptibly(rgba, planes.PixelCount() * 4, abort);
  const auto parts = std::clamp<unsigned>(HardwareThreadCount(), 1, ENCODING_THREADS_MAX);
  const int32_t rows =
      (planes.height + static_cast<int32_t>(parts) - 1) / static_cast<int32_t>(parts);
  RunLanes(parts, abort, [&](size_t lane, const AbortCheck& check) {
    const int32_t first = std::min(planes.height, static_cast<int32_t>(lane) * rows);
    const int32_t count = std::min(planes.height - first, rows);
    uint8_t* out = rgba.data() + static_cast<size_t>(first) * planes.width * 4;
    ReviewPixels8(planes, name, look, first, count, out, check);
  });
  return rgba;
}

std::vector<uint8_t> ReviewPixelsOf(const FramePlanes& planes, std::optional<AlphaMode> alpha,
                                    const std::string& name, const ReviewLook& look,
                                    const AbortCheck& abort) {
  if (!alpha || *alpha == planes.alphaMode || !planes.alpha) {
    return ReviewPixelsSideBySide(planes, name, look, abort);
  }
  // Only what the encoding reads, under the convention asked for.
  FramePlanes taken;
  taken.width = planes.width;
  taken.height = planes.height;
  taken.colour = planes.colour;
  taken.alpha = planes.alpha;
  taken.alphaMode = *alpha;
  return ReviewPixelsSideBySide(taken, name, look, abort);
}

FrameStore::FrameStore(std::vector<StudioFrame> f, RenderSettings s)
    : frames(std::move(f)), settings(std::move(s)) {}

bool FrameStore::Has(int32_t number) const {
  return std::any_of(frames.begin(), frames.end(),
                     [number](const StudioFrame& frame) { return frame.number == number; });
}

std::shared_ptr<const LoadedFrame> FrameStore::Loaded(int32_t number) const {
  for (const auto& frame : recent) {
    if (frame->number == number) return frame;
  }
  return nullptr;
}

std::shared_ptr<const LoadedFrame> FrameStore::Load(int32_t number,
                                                    const std::function<bool()>& abort) {
  if (auto loaded = Loaded(number)) {
    std::erase(recent, loaded);
    recent.push_front(loaded);
    return loaded;
  }
  const auto it = std::find_if(frames.begin(), frames.end(), [number](const StudioFrame& frame) {
    return frame.number == number;
  });
  if (it == frames.end()) throw Failure("the run has no frame " + std::to_string(number));
  RenderCallbacks callbacks;
  callbacks.abort = abort;
  RenderSettings frameSettings = settings;
  frameSettings.frame = number;
  auto frame = std::make_shared<LoadedFrame>();
  frame->number = number;
  frame->input = ReadFrameInput(it->path, frameSettings, callbacks);
  // Nothing is written back into the file: its other parts are not needed.
  frame->input.document.reset();
  frame->depth = PrepareDepth(frame->input, frameSettings, callbacks);
  const AbortCheck check(abort);
  if (frame->input.planes.objectId) {
    frame->objectDepths = ObjectFocalDepths(
        frame->input, frame->depth.rendererZ,
        frameSettings.focusStatistic.value_or(FocusStatistic::Median), frameSettings.labels, check);
  }
  frame->original = ReviewPixelsOf(frame->input.planes, frameSettings.alpha, it->path,
                                   frameSettings.output.review, check);
  check.ThrowIfRequested();
  recent.push_front(frame);
  if (recent.size() > FRAMES_KEPT) recent.pop_back();
  return frame;
}

}  // namespace studio
