// frame_store.h: the frames the studio works on, read through the frame
// library and kept in memory while they are looked at.
//
// A run has one frame (a file, frame --frame N of its shot) or the frames
// of a shot pattern. A frame is read whole (ReadFrameInput), its depth
// turned into the renderer's Z once (PrepareDepth), the focal depth of
// every object in it found once (ObjectFocalDepths, as --focus-object
// gives it), and its unfiltered colour encoded once as the 8-bit sRGB
// pixels a review PNG of it would hold. The last few frames stay loaded,
// so that scrubbing back and forth reads each file once.
//
// Used on the studio thread only; a loaded frame is immutable and may be
// shared with other threads (the readout's, look.h).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/frame_render.h"
#include "frame/render_settings.h"

namespace studio {

// One frame of the run: its number in the shot and its file.
struct StudioFrame {
  int32_t number = 0;
  std::string path;
};

struct LoadedFrame {
  int32_t number = 0;
  kestrion::RenderInput input;
  // The renderer's Z and the depth warnings; its focusDepth is unused.
  kestrion::PreparedFrame depth;
  // The focal depth of each object other than 0 with geometry in the frame.
  std::map<int32_t, float> objectDepths;
  // The unfiltered frame as an 8-bit review image's RGBA pixels.
  std::vector<uint8_t> original;
};

class FrameStore {
 public:
  // `frames` in order, at least one; `settings` say how the files are read
  // and what their depth means (their focus is not used here).
  FrameStore(std::vector<StudioFrame> frames, kestrion::RenderSettings settings);

  const std::vector<StudioFrame>& Frames() const { return frames; }
  bool Has(int32_t number) const;
  const kestrion::RenderSettings& Settings() const { return settings; }

  // The frame, read now unless it is loaded. Throws an Error: what
  // reading or preparing it throws, Aborted() once `abort` said yes.
  std::shared_ptr<const LoadedFrame> Load(int32_t number, const std::function<bool()>& abort);
  // The frame if it is loaded, else null.
  std::shared_ptr<const LoadedFrame> Loaded(int32_t number) const;

 private:
  std::vector<StudioFrame> frames;
  kestrion::RenderSettings settings;
  std::deque<std::shared_ptr<const LoadedFrame>> recent;  // the newest first
};

// The 8-bit review pixels of `planes` under `look` (ReviewPixels8), encoded
// in parts on a few threads side by side.
std::vector<uint8_t> ReviewPixelsSideBySide(const kestrion::FramePlanes& planes,
                                            const std::string& name,
                                            const kestrion::ReviewLook& look,
                                            const kestrion::AbortCheck& abort);
// The same with the colour taken as `alpha` says (the input's own
// convention when unset), as a render's PNG output is written.
std::vector<uint8_t> ReviewPixelsOf(const kestrion::FramePlanes& planes,
                                    std::optional<kestrion::AlphaMode> alpha,
                                    const std::string& name, const kestrion::ReviewLook& look,
                                    const kestrion::AbortCheck& abort);

}  // namespace studio
