// reference_frame.h: one frame rendered through a loaded KESTRION.FLT, the
// same on every build, so that the Linux build's render and the Windows
// build's can be compared bit for bit.
//
// The frame is 97 x 61 (odd, so that no window lines up with a power of
// two): pixels from a fixed pseudo-random sequence, depths that rise
// across the frame with a band of background pixels, and a focal object
// placed in the scene at a depth inside that rise, so that every pixel's
// radius between 0 and the blur size occurs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrion_test {

constexpr int REFERENCE_WIDTH = 97;
constexpr int REFERENCE_HEIGHT = 61;

// Renders the frame through the module file at `modulePath` and returns its
// pixels as r, g, b, a 16-bit little-endian words, rows top first; empty
// with `error` set when the module cannot be loaded or the render fails.
std::vector<uint8_t> RenderReferenceFrame(const std::string& modulePath, std::string& error);

}  // namespace kestrion_test
