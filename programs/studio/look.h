// look.h: the readout under the pointer, answered on the server's threads.
//
// The page asks what lies under the pointer as it moves. Sending those
// questions to the studio thread would make every pointer move interrupt
// the preview render, and a render would delay every answer; so the studio
// thread publishes what the readout needs as an immutable snapshot (the
// frame shown, the filtered planes of its latest preview and the blur
// radius of each pixel, from the module's own radius rule as the focus map
// computes it), and the server's threads answer from the snapshot alone:
//   {"type":"look","seq","x","y","frame","pixel":[X, Y] (frame coordinates:
//    0,0 the top-left pixel of the display window, as --focus-pixel counts),
//    "inside", "depth" (distance, null for no geometry), "radius" (null
//    without a preview), "objectId", "materialId" (null without the
//    channel), "original":[r,g,b(,a)], "result":[...] or null}
// x and y count pixels of the frame as the page shows it (its data window).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "formats/frame_planes.h"
#include "studio/frame_store.h"
#include "studio/requests.h"

namespace studio {

struct LookFrame {
  std::shared_ptr<const LoadedFrame> frame;
  // The latest preview of the frame and its radii, both null before one.
  std::shared_ptr<const kestrion::FramePlanes> result;
  std::shared_ptr<const std::vector<int32_t>> radii;
};

class LookTable {
 public:
  // The studio thread: what the readout answers from now on.
  void Set(LookFrame look);
  // Any thread: the answer to a look request.
  std::string Answer(const Request& request) const;

 private:
  mutable std::mutex mutex;
  std::shared_ptr<const LookFrame> current;
};

}  // namespace studio
