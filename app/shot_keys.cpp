#include "app/shot_keys.h"

#include <charconv>
#include <cmath>
#include <memory>

#include "app/errors.h"
#include "host/tracks.h"

namespace kestrion {

namespace {

// The pieces of `text` between separators.
std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    pieces.push_back(
        text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return pieces;
    start = end + 1;
  }
}

template <typename T>
bool ParseWhole(const std::string& text, T& value) {
  const char* last = text.data() + text.size();
  const auto result = std::from_chars(text.data(), last, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == last;
}

bool ParseFloat(const std::string& text, float& value) {
  const char* last = text.data() + text.size();
  const auto result = std::from_chars(text.data(), last, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == last && std::isfinite(value);
}

// Splits "F:REST" into its frame and the rest; throws naming the option.
int32_t KeyFrame(const std::string& key, std::string& rest, const std::string& option,
                 const char* form) {
  const size_t colon = key.find(':');
  int64_t frame = 0;
  if (colon == std::string::npos || !ParseWhole(key.substr(0, colon), frame)) {
    throw UsageError(option + ": key \"" + key.substr(0, 80) + "\": use " + form);
  }
  CheckFrame(frame, option);
  rest = key.substr(colon + 1);
  return static_cast<int32_t>(frame);
}

template <typename Value>
void AddKey(std::map<int32_t, Value>& keys, int32_t frame, const Value& value,
            const std::string& option) {
  if (!keys.empty() && frame <= keys.rbegin()->first) {
    throw UsageError(option + ": key at frame " + std::to_string(frame) +
                     " follows the key at frame " + std::to_string(keys.rbegin()->first) +
                     "; give keys in increasing frame order");
  }
  keys.emplace(frame, value);
}

bool ParsePixel(const std::string& text, FocusPixel& pixel) {
  const size_t comma = text.find(',');
  return comma != std::string::npos && ParseWhole(text.substr(0, comma), pixel.x) &&
         ParseWhole(text.substr(comma + 1), pixel.y);
}

}  // namespace

void CheckFrame(int64_t frame, const std::string& option) {
  if (frame < FRAME_MIN || frame > FRAME_MAX) {
    throw UsageError(option + ": frame " + std::to_string(frame) + " is outside " +
                     std::to_string(FRAME_MIN) + " to " + std::to_string(FRAME_MAX));
  }
}

FloatKeys ParseFloatKeys(const std::string& text, const std::string& option) {
  constexpr const char* FORM = "a number, or keys F:V,F:V,... (frame:value)";
  FloatKeys keys;
  float value = 0.0f;
  if (text.find(':') == std::string::npos) {
    if (!ParseFloat(text, value)) {
      throw UsageError(option + ": \"" + text.substr(0, 80) + "\" is not " + FORM);
    }
    keys.emplace(0, value);
    return keys;
  }
  for (const std::string& key : Split(text, ',')) {
    std::string rest;
    const int32_t frame = KeyFrame(key, rest, option, "frame:value");
    if (!ParseFloat(rest, value)) {
      throw UsageError(option + ": key \"" + key.substr(0, 80) + "\": " + FORM);
    }
    AddKey(keys, frame, value, option);
  }
  return keys;
}

PixelKeys ParsePixelKeys(const std::string& text, const std::string& option) {
  constexpr const char* FORM = "X,Y, or keys F:X,Y;F:X,Y;... with whole numbers";
  PixelKeys keys;
  FocusPixel pixel;
  if (text.find(':') == std::string::npos) {
    if (!ParsePixel(text, pixel)) {
      throw UsageError(option + ": \"" + text.substr(0, 80) + "\": use " + FORM);
    }
    keys.emplace(0, pixel);
    return keys;
  }
  for (const std::string& key : Split(text, ';')) {
    std::string rest;
    const int32_t frame = KeyFrame(key, rest, option, "frame:X,Y");
    if (!ParsePixel(rest, pixel)) {
      throw UsageError(option + ": key \"" + key.substr(0, 80) + "\": use " + FORM);
    }
    AddKey(keys, frame, pixel, option);
  }
  return keys;
}

std::map<int32_t, float> KeysAtTicks(const FloatKeys& keys) {
  std::map<int32_t, float> ticks;
  const int32_t perFrame = GetTicksPerFrame();
  for (const auto& [frame, value] : keys) ticks.emplace(frame * perFrame, value);
  return ticks;
}

float SampleFloatKeys(const FloatKeys& keys, int32_t frame) {
  std::unique_ptr<Control> control(NewDefaultFloatController());
  if (!control) throw Failure("not enough memory");
  control->SetKeys(KeysAtTicks(keys));
  float value = 0.0f;
  Interval valid;
  control->GetValue(frame * GetTicksPerFrame(), &value, valid, 0);
  return value;
}

FocusPixel SamplePixelKeys(const PixelKeys& keys, int32_t frame) {
  auto after = keys.upper_bound(frame);
  return after == keys.begin() ? after->second : std::prev(after)->second;
}

}  // namespace kestrion
