// shot_keys.h: values keyed at frames, as a shot gives them: Range, Size and
// the focus depth as float keys, the focus pixel as pixel keys.
//
// Float keys are sampled by the host's default float controller (host/
// tracks.h), the one a filter's own tracks use: keys lie at frame x ticks
// per frame; the value is linear between the two surrounding keys (computed
// in double and rounded to float once) and held before the first key and
// after the last. A single key holds everywhere. Range and Size go onto the
// filter's "Range" and "Size" tracks and the module evaluates them itself;
// the focus depth is keyed on a controller of the same kind, so that all
// three follow one interpolation.
//
// Focus pixels are not interpolated: a frame uses the pixel of the last key
// at or before it, and frames before the first key use the first key's.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "base/frame_numbers.h"

namespace kestrion {

using FloatKeys = std::map<int32_t, float>;

struct FocusPixel {
  int x = 0;
  int y = 0;
};
using PixelKeys = std::map<int32_t, FocusPixel>;

// "V" (one value for every frame, a key at frame 0) or "F:V,F:V,..." with
// frames in increasing order; throws a UsageError naming `option`.
FloatKeys ParseFloatKeys(const std::string& text, const std::string& option);
// "X,Y" (every frame) or "F:X,Y;F:X,Y;..." with frames in increasing order.
PixelKeys ParsePixelKeys(const std::string& text, const std::string& option);

// The value at `frame` as the host's float controller gives it. Keys with
// no key at all have no value: throws a UsageError.
float SampleFloatKeys(const FloatKeys& keys, int32_t frame);
// The pixel of the last key at or before `frame` (the first key before it).
FocusPixel SamplePixelKeys(const PixelKeys& keys, int32_t frame);

// Throws a UsageError naming `what` (the caller's label for the keyed
// setting) when `keys` holds no key: every reader
// of keys needs one (a parser never makes empty keys, an in-process caller
// might).
void CheckHasKeys(const FloatKeys& keys, const std::string& what);

// The keys as the host's controller holds them: at frame x ticks per frame.
std::map<int32_t, float> KeysAtTicks(const FloatKeys& keys);

}  // namespace kestrion
