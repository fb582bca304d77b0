#include "frame/shot_keys.h"

#include <memory>
#include <string_view>
#include <tuple>

#include "base/errors.h"
#include "base/numbers.h"
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

// Where a value stands in an option, for its errors: the whole option's
// text, or one key of it.
struct Place {
  const std::string& option;
  const std::string& text;  // the option's text, or the key's
  bool key;
  const char* form;  // what to give instead

  // "OPTION: key 'KEY': WHAT (give FORM)", or "OPTION: 'TEXT'" and
  // `what` after `separator` for the whole option.
  [[noreturn]] void Fail(const std::string& what, const char* separator = ": ") const {
    throw UsageError(option + ": " + (key ? "key " : "") + QuotedValue(text) +
                     (key ? ": " : separator) + what + " (give " + form + ")");
  }
};

float FloatValue(std::string_view text, const Place& place) {
  const Parsed<float> value = ParseFloat<float>(text);
  if (!value.value) place.Fail(place.key ? "the value " + value.reason : value.reason, " ");
  return *value.value;
}

FocusPixel PixelValue(std::string_view text, const Place& place) {
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos) place.Fail("not X,Y");
  FocusPixel pixel;
  for (auto [part, target, name] : {std::tuple{text.substr(0, comma), &pixel.x, "X"},
                                    std::tuple{text.substr(comma + 1), &pixel.y, "Y"}}) {
    const Parsed<int> coordinate = ParseInteger<int>(part);
    if (!coordinate.value) place.Fail(std::string(name) + " " + coordinate.reason);
    *target = *coordinate.value;
  }
  return pixel;
}

// Splits "F:REST" into its frame and the rest; throws naming the option.
int32_t KeyFrame(const std::string& key, std::string& rest, const std::string& option,
                 const char* form) {
  const size_t colon = key.find(':');
  const Place place{option, key, true, form};
  if (colon == std::string::npos) place.Fail("no frame");
  const Parsed<int64_t> frame = ParseInteger<int64_t>(std::string_view(key).substr(0, colon));
  if (!frame.value) place.Fail("the frame " + frame.reason);
  CheckFrame(*frame.value, option);
  rest = key.substr(colon + 1);
  return static_cast<int32_t>(*frame.value);
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

}  // namespace

FloatKeys ParseFloatKeys(const std::string& text, const std::string& option) {
  constexpr const char* FORM = "a number, or keys F:V,F:V,... as frame:value";
  FloatKeys keys;
  if (text.find(':') == std::string::npos) {
    keys.emplace(0, FloatValue(text, {option, text, false, FORM}));
    return keys;
  }
  for (const std::string& key : Split(text, ',')) {
    std::string rest;
    const int32_t frame = KeyFrame(key, rest, option, FORM);
    AddKey(keys, frame, FloatValue(rest, {option, key, true, FORM}), option);
  }
  return keys;
}

PixelKeys ParsePixelKeys(const std::string& text, const std::string& option) {
  constexpr const char* FORM = "X,Y, or keys F:X,Y;F:X,Y;... with whole numbers";
  PixelKeys keys;
  if (text.find(':') == std::string::npos) {
    keys.emplace(0, PixelValue(text, {option, text, false, FORM}));
    return keys;
  }
  for (const std::string& key : Split(text, ';')) {
    std::string rest;
    const int32_t frame = KeyFrame(key, rest, option, FORM);
    AddKey(keys, frame, PixelValue(rest, {option, key, true, FORM}), option);
  }
  return keys;
}

std::map<int32_t, float> KeysAtTicks(const FloatKeys& keys) {
  std::map<int32_t, float> ticks;
  const int32_t perFrame = GetTicksPerFrame();
  for (const auto& [frame, value] : keys) ticks.emplace(frame * perFrame, value);
  return ticks;
}

void CheckHasKeys(const FloatKeys& keys, const std::string& what) {
  if (keys.empty()) throw UsageError(what + ": has no key; give it at least one value");
}

float SampleFloatKeys(const FloatKeys& keys, int32_t frame) {
  CheckHasKeys(keys, "the keyed value");
  std::unique_ptr<Control> control(NewDefaultFloatController());
  if (!control) throw Failure("not enough memory");
  control->SetKeys(KeysAtTicks(keys));
  float value = 0.0f;
  Interval valid;
  control->GetValue(frame * GetTicksPerFrame(), &value, valid, 0);
  return value;
}

FocusPixel SamplePixelKeys(const PixelKeys& keys, int32_t frame) {
  if (keys.empty()) throw UsageError("the focus pixel has no key: give it at least one pixel");
  auto after = keys.upper_bound(frame);
  return after == keys.begin() ? after->second : std::prev(after)->second;
}

}  // namespace kestrion
