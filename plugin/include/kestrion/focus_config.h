// focus_config.h: what a host program needs to drive the Kestrion filter:
// the filter's configuration record, the 284-byte block the host saves and
// loads (its layout is a stored format: little-endian, no padding, every
// offset fixed), and the two animated tracks on the filter's track-view
// node. The module and host programs include this one header.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "host/types.h"

constexpr uint32_t CONFIG_MAGIC = 0x78EF4C38;

// Source modes, the control dialog's radio-button identifiers as stored.
constexpr int32_t SOURCE_WHOLE_IMAGE = 1010;
constexpr int32_t SOURCE_MATERIAL_EFFECTS = 1011;
constexpr int32_t SOURCE_OBJECT_CHANNEL = 1012;

constexpr size_t FOCAL_NAME_SIZE = 260;  // at most 259 characters and a zero byte

struct FocusConfig {
  uint32_t magic;
  int32_t sourceMode;
  int32_t objectChannelId;
  int32_t materialEffectsId;
  // Ends at the first zero byte or at the end of the field, whichever comes
  // first: a loaded record may hold no zero byte at all.
  char focalObjectName[FOCAL_NAME_SIZE];
  float blurRange;
  float blurSize;
};

static_assert(std::endian::native == std::endian::little, "the record is stored little-endian");
static_assert(sizeof(float) == 4 && sizeof(FocusConfig) == 284);
static_assert(offsetof(FocusConfig, magic) == 0);
static_assert(offsetof(FocusConfig, sourceMode) == 4);
static_assert(offsetof(FocusConfig, objectChannelId) == 8);
static_assert(offsetof(FocusConfig, materialEffectsId) == 12);
static_assert(offsetof(FocusConfig, focalObjectName) == 16);
static_assert(offsetof(FocusConfig, blurRange) == 276);
static_assert(offsetof(FocusConfig, blurSize) == 280);

// The tracks that animate blurRange and blurSize, by their identifiers and
// the names the track view shows.
constexpr TrackId RANGE_TRACK{1, 16};
constexpr TrackId SIZE_TRACK{2, 32};
constexpr const char* RANGE_TRACK_NAME = "Range";
constexpr const char* SIZE_TRACK_NAME = "Size";

constexpr float DEFAULT_BLUR_RANGE = 50.0f;
constexpr float DEFAULT_BLUR_SIZE = 2.0f;

// The values of blur range and blur size that the control dialog offers.
constexpr float BLUR_RANGE_MIN = 0.0f;
constexpr float BLUR_RANGE_MAX = 99999.0f;
constexpr float BLUR_SIZE_MIN = 1.0f;
constexpr float BLUR_SIZE_MAX = 99999.0f;

// A focal object name as a terminated string: the field's characters up to
// its first zero byte or its end, whichever comes first. Reads no more than
// FOCAL_NAME_SIZE bytes of `field`.
struct TerminatedName {
  char text[FOCAL_NAME_SIZE + 1];
};

inline TerminatedName TerminateFocalName(const char* field) {
  TerminatedName name{};
  for (size_t i = 0; i < FOCAL_NAME_SIZE && field[i] != '\0'; ++i) name.text[i] = field[i];
  return name;
}
