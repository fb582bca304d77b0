// fuzz_settings.cpp: a shot's settings file (JSON) through the reader
// `kestrion render --settings` uses, from a memory file, and the same text
// through the command line's key parsers. Bad text must end in one
// Error; good text must give keys that sample as shot_keys.h says.
#include <algorithm>
#include <string>

#include "base/errors.h"
#include "frame/settings_file.h"
#include "frame/shot_keys.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_targets.h"
#include "fuzz/memory_file.h"

namespace kestrion_fuzz {

namespace {

// Sampling holds each key's value at its frame, the first before it, the
// last after it, and stays between two neighbouring keys' values.
void CheckFloatKeys(const kestrion::FloatKeys& keys) {
  FUZZ_CHECK(!keys.empty());
  FUZZ_CHECK(kestrion::SampleFloatKeys(keys, kestrion::FRAME_MIN) == keys.begin()->second);
  FUZZ_CHECK(kestrion::SampleFloatKeys(keys, kestrion::FRAME_MAX) == keys.rbegin()->second);
  for (auto key = keys.begin(); key != keys.end(); ++key) {
    FUZZ_CHECK(key->first >= kestrion::FRAME_MIN && key->first <= kestrion::FRAME_MAX);
    FUZZ_CHECK(kestrion::SampleFloatKeys(keys, key->first) == key->second);
    const auto next = std::next(key);
    if (next == keys.end() || next->first - key->first < 2) continue;
    const float between = kestrion::SampleFloatKeys(keys, key->first + 1);
    FUZZ_CHECK(between >= std::min(key->second, next->second) &&
               between <= std::max(key->second, next->second));
  }
}

void CheckPixelKeys(const kestrion::PixelKeys& keys) {
  FUZZ_CHECK(!keys.empty());
  const kestrion::FocusPixel first = kestrion::SamplePixelKeys(keys, kestrion::FRAME_MIN);
  FUZZ_CHECK(first.x == keys.begin()->second.x && first.y == keys.begin()->second.y);
  for (const auto& [frame, pixel] : keys) {
    const kestrion::FocusPixel sampled = kestrion::SamplePixelKeys(keys, frame);
    FUZZ_CHECK(sampled.x == pixel.x && sampled.y == pixel.y);
  }
}

template <typename Parse>
void ExpectOnlyCommandErrors(Parse parse) {
  try {
    parse();
  } catch (const kestrion::Error& e) {
    const std::string message = e.what();
    FUZZ_CHECK(!message.empty());
  }
}

}  // namespace

int SettingsInput(const uint8_t* data, size_t size) {
  static MemoryFile file("settings.json");
  file.Replace(data, size);
  ExpectOnlyCommandErrors([] {
    const kestrion::RenderSettings settings = kestrion::ReadSettingsFile(file.Path());
    FUZZ_CHECK(settings.FocusCount() <= 1);
    if (settings.focusDepth) CheckFloatKeys(*settings.focusDepth);
    if (settings.range) CheckFloatKeys(*settings.range);
    if (settings.size) CheckFloatKeys(*settings.size);
    if (settings.focusPixel) CheckPixelKeys(*settings.focusPixel);
    if (settings.focusObject) FUZZ_CHECK(*settings.focusObject >= 0);
    // Read over other settings, a focus the file gives replaces theirs; a
    // file without one keeps it.
    kestrion::RenderSettings base;
    base.focusObject = 1;
    const kestrion::RenderSettings over = kestrion::ReadSettingsFile(file.Path(), base);
    FUZZ_CHECK(over.FocusCount() == 1);
    FUZZ_CHECK(settings.FocusCount() == 1 ? over.focusObject == settings.focusObject
                                          : over.focusObject == 1);
  });

  const std::string text(reinterpret_cast<const char*>(data), size);
  ExpectOnlyCommandErrors([&text] { CheckFloatKeys(kestrion::ParseFloatKeys(text, "--range")); });
  ExpectOnlyCommandErrors(
      [&text] { CheckPixelKeys(kestrion::ParsePixelKeys(text, "--focus-pixel")); });
  ExpectOnlyCommandErrors([&text] { kestrion::ParseFocusPixel(text, "--focus-pixel"); });
  return 0;
}

}  // namespace kestrion_fuzz

KESTRION_FUZZ_ENTRY(kestrion_fuzz::SettingsInput)
