#include "base/frame_numbers.h"

#include "base/errors.h"

namespace kestrion {

std::string FrameProblem(int64_t frame) {
  if (frame >= FRAME_MIN && frame <= FRAME_MAX) return {};
  return "frame " + std::to_string(frame) + " is outside " + std::to_string(FRAME_MIN) + " to " +
         std::to_string(FRAME_MAX);
}

void CheckFrame(int64_t frame, const std::string& option) {
  if (std::string problem = FrameProblem(frame); !problem.empty()) {
    throw UsageError(option + ": " + problem);
  }
}

}  // namespace kestrion
