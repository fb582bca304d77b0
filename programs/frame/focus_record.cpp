#include "frame/focus_record.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "base/errors.h"
#include "base/numbers.h"

namespace kestrion {

namespace {

constexpr const char* WHOLE = "whole";
constexpr const char* MATERIAL = "material";
constexpr const char* OBJECT = "object";

// The shortest text that reads back as `value`, without an exponent where
// the number is of a size people write out (100000, not 1e+05).
std::string Number(float value) {
  char text[64];
  const float magnitude = std::fabs(value);
  const bool plain = magnitude == 0.0f || (magnitude >= 1e-4f && magnitude < 1e9f);
  const auto end =
      plain ? std::to_chars(text, text + sizeof text, value, std::chars_format::fixed).ptr
            : std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

void CheckWithin(float value, float min, float max, const char* what) {
  if (!(value >= min && value <= max)) {
    throw UsageError(std::string(what) + " " + Number(value) + " is outside " + Number(min) +
                     " to " + Number(max));
  }
}

int32_t ParseId(const std::string& text, int32_t max, const std::string& whole) {
  const Parsed<int32_t> id = ParseInteger<int32_t>(text, 0, max);
  if (!id.value) {
    throw UsageError("source " + QuotedValue(whole) + ": the ID " + QuotedValue(text) + " " +
                     id.reason);
  }
  return *id.value;
}

}  // namespace

SourceSelection ParseSource(const std::string& text) {
  if (text == WHOLE) return {};
  const size_t colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  if (colon != std::string::npos && kind == MATERIAL) {
    return {SOURCE_MATERIAL_EFFECTS, ParseId(text.substr(colon + 1), MATERIAL_ID_MAX, text)};
  }
  if (colon != std::string::npos && kind == OBJECT) {
    return {SOURCE_OBJECT_CHANNEL, ParseId(text.substr(colon + 1), OBJECT_ID_MAX, text)};
  }
  throw UsageError("source " + QuotedValue(text) + ": use whole, material:ID or object:ID");
}

std::string SourceText(const SourceSelection& source) {
  switch (source.mode) {
    case SOURCE_MATERIAL_EFFECTS:
      return std::string(MATERIAL) + ":" + std::to_string(source.id);
    case SOURCE_OBJECT_CHANNEL:
      return std::string(OBJECT) + ":" + std::to_string(source.id);
    default:
      return WHOLE;
  }
}

SourceSelection SourceFromRecord(const FocusConfig& record) {
  switch (record.sourceMode) {
    case SOURCE_OBJECT_CHANNEL:
      return {SOURCE_OBJECT_CHANNEL, record.objectChannelId};
    case SOURCE_MATERIAL_EFFECTS:
      return {SOURCE_MATERIAL_EFFECTS, record.materialEffectsId};
    default:
      return {};
  }
}

void SetFocalName(FocusConfig& record, std::string_view name) {
  std::memset(record.focalObjectName, 0, sizeof record.focalObjectName);
  std::memcpy(record.focalObjectName, name.data(), std::min(name.size(), FOCAL_NAME_SIZE - 1));
}

void CheckBlurRange(float range) { CheckWithin(range, BLUR_RANGE_MIN, BLUR_RANGE_MAX, "range"); }
void CheckBlurSize(float size) { CheckWithin(size, BLUR_SIZE_MIN, BLUR_SIZE_MAX, "size"); }

FocusConfig ComposeRecord(const FocusSettings& settings) {
  if (settings.focalName.size() >= FOCAL_NAME_SIZE) {
    throw UsageError("focal object name is longer than " + std::to_string(FOCAL_NAME_SIZE - 1) +
                     " characters");
  }
  CheckBlurRange(settings.range);
  CheckBlurSize(settings.size);
  FocusConfig config;
  std::memset(&config, 0, sizeof config);
  config.magic = CONFIG_MAGIC;
  config.sourceMode = settings.source.mode;
  if (settings.source.mode == SOURCE_OBJECT_CHANNEL) config.objectChannelId = settings.source.id;
  if (settings.source.mode == SOURCE_MATERIAL_EFFECTS) {
    config.materialEffectsId = settings.source.id;
  }
  std::memcpy(config.focalObjectName, settings.focalName.data(), settings.focalName.size());
  config.blurRange = settings.range;
  config.blurSize = settings.size;
  return config;
}

}  // namespace kestrion
