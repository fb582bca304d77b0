// focus_record.h: the filter settings a command collects, checked, and the
// 284-byte configuration record composed from them, which the host hands
// the filter through LoadConfigure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/bitmap.h"
#include "kestrion/focus_config.h"

namespace kestrion {

// Blur range and size: kestrion accepts what the control dialog offers
// (BLUR_*_MIN / _MAX of the record); IDs, what their channels can hold
// (MATERIAL_ID_MAX, OBJECT_ID_MAX of the bitmap).

// Which pixels the filter blurs: the whole image, or the pixels of one
// material-effects ID or one object ID.
struct SourceSelection {
  int32_t mode = SOURCE_WHOLE_IMAGE;
  int32_t id = 0;
};

// "whole", "material:ID" or "object:ID"; throws a UsageError.
SourceSelection ParseSource(const std::string& text);
std::string SourceText(const SourceSelection& source);
// The pixels the record's filter blurs: its source mode with that mode's ID;
// the whole image for a mode the filter does not know.
SourceSelection SourceFromRecord(const FocusConfig& record);
// Writes `name` as the record's focal object name, cut to the 259
// characters the record holds, its unused bytes zero.
void SetFocalName(FocusConfig& record, std::string_view name);

struct FocusSettings {
  std::string focalName;
  SourceSelection source;
  float range = DEFAULT_BLUR_RANGE;
  float size = DEFAULT_BLUR_SIZE;
};

// Throws a UsageError when a value lies outside what the filter offers.
void CheckBlurRange(float range);
void CheckBlurSize(float size);

// The record for these settings: every byte defined (the name's unused
// bytes zero), the ID of the unselected channel 0. Throws a UsageError for
// a focal name longer than the record holds or settings out of range.
FocusConfig ComposeRecord(const FocusSettings& settings);

}  // namespace kestrion
