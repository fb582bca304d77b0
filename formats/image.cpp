#include "formats/image.h"

#include <cmath>

namespace kestrion {

float SrgbEncode(float linear) {
  if (!(linear > 0.0f)) return 0.0f;
  if (linear >= 1.0f) return 1.0f;
  return linear <= 0.0031308f ? linear * 12.92f : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
}

float SrgbDecode(float encoded) {
  if (!(encoded > 0.0f)) return 0.0f;
  if (encoded >= 1.0f) return 1.0f;
  return encoded <= 0.04045f ? encoded / 12.92f : std::pow((encoded + 0.055f) / 1.055f, 2.4f);
}

uint16_t UnitToChannel(float unit) {
  if (!(unit > 0.0f)) return 0;
  if (unit >= 1.0f) return CHANNEL_MAX;
  return static_cast<uint16_t>(std::lround(unit * CHANNEL_MAX));
}

float ChannelToLight(uint16_t value, const ColourEncoding& encoding) {
  const float unit = static_cast<float>(value) / CHANNEL_MAX;
  return encoding.linear ? unit * encoding.scale : SrgbDecode(unit);
}

uint16_t LightToChannel(float light, const ColourEncoding& encoding) {
  return encoding.linear ? UnitToChannel(light / encoding.scale) : UnitToChannel(SrgbEncode(light));
}

uint16_t ChannelToDisplay(uint16_t value, const ColourEncoding& encoding) {
  if (!encoding.linear) return value;
  return UnitToChannel(SrgbEncode(ChannelToLight(value, encoding)));
}

}  // namespace kestrion
