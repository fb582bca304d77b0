// image.h: a frame as kestrion holds it: a host bitmap (16-bit RGBA and the
// renderer's channels) and how its colour values relate to light.
//
// Display-encoded frames (the demo scene, PNG files) hold sRGB-encoded
// values. Linear frames (OpenEXR files) hold linear light scaled so that
// 65535 stands for `scale`; the filter then averages in linear light, as a
// lens would. Alpha is always a plain 0..1 coverage scaled to 0..65535.
#pragma once

#include <cstdint>

#include "host/bitmap.h"

namespace kestrion {

constexpr uint16_t CHANNEL_MAX = 65535;

struct ColourEncoding {
  bool linear = false;
  float scale = 1.0f;  // linear frames: the light value of CHANNEL_MAX
};

struct Image {
  Bitmap bitmap;
  ColourEncoding encoding;

  BitmapStorage& Storage() const { return *bitmap.Storage(); }
  uint16_t Width() const { return Storage().Width(); }
  uint16_t Height() const { return Storage().Height(); }
};

// sRGB transfer: linear light in [0, 1] <-> encoded value in [0, 1].
float SrgbEncode(float linear);
float SrgbDecode(float encoded);
// The 8-bit sample of a linear value: SrgbEncode(linear) times 255,
// rounded, 0 for NaN and below 0, 255 from 1 up; the same bits as that
// formula, from the 255 values where the sample steps up, found once by
// the formula itself (the encoding rises monotonically).
uint8_t SrgbByte(float linear);

// The light value of one colour channel of a frame's pixel, and back.
float ChannelToLight(uint16_t value, const ColourEncoding& encoding);
uint16_t LightToChannel(float light, const ColourEncoding& encoding);
// The display-encoded (sRGB) value of one colour channel of a frame's pixel.
uint16_t ChannelToDisplay(uint16_t value, const ColourEncoding& encoding);

// A float in [0, 1] as a 16-bit channel value, rounded; clamped outside,
// NaN becomes 0.
uint16_t UnitToChannel(float unit);

}  // namespace kestrion
