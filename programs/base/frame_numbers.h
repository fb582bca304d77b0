// frame_numbers.h: the frame numbers kestrion accepts, wherever one is
// given: --frame, --frames, the frames of keys (on the command line and in
// settings files), the frames a shot finds on disk; and so the number of
// chunks --chunk may cut a shot into. One limit, one check.
#pragma once

#include <cstdint>
#include <string>

namespace kestrion {

// A frame's time (frame x ticks per frame) must fit the host's 32-bit time.
inline constexpr int32_t FRAME_MIN = 0;
inline constexpr int32_t FRAME_MAX = 9'999'999;
// The most frames a shot can have.
inline constexpr int64_t FRAME_COUNT_MAX = int64_t{FRAME_MAX} - FRAME_MIN + 1;

// "frame 12345678 is outside 0 to 9999999", or empty for a frame kestrion
// accepts.
std::string FrameProblem(int64_t frame);
// Throws the UsageError "OPTION: frame N is outside 0 to 9999999" for a
// frame outside FRAME_MIN .. FRAME_MAX.
void CheckFrame(int64_t frame, const std::string& option);

}  // namespace kestrion
