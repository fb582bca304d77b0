#include "formats/image.h"

#include <array>
#include <bit>
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

namespace {

// A float from 0 up, by its bits: their order is the values' order.
constexpr int BUCKET_SHIFT = 16;
constexpr uint32_t ONE_BITS = 0x3F800000u;  // 1.0f

uint8_t ByteByFormula(float linear) {
  const float encoded = SrgbEncode(linear);
  if (!(encoded > 0.0f)) return 0;
  if (encoded >= 1.0f) return 255;
  return static_cast<uint8_t>(std::lround(encoded * 255.0f));
}

struct ByteSteps {
  // first[k]: the bits of the least value whose sample is k or more.
  std::array<uint32_t, 257> first{};
  // The sample of the least value of each run of 2^BUCKET_SHIFT floats.
  std::array<uint8_t, (ONE_BITS >> BUCKET_SHIFT) + 1> bucket{};

  ByteSteps() {
    for (int k = 1; k <= 255; ++k) {
      uint32_t lo = first[k - 1];
      uint32_t hi = ONE_BITS;
      while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (ByteByFormula(std::bit_cast<float>(mid)) >= k) {
          hi = mid;
        } else {
          lo = mid + 1;
        }
      }
      first[k] = lo;
    }
    first[256] = UINT32_MAX;
    int k = 0;
    for (uint32_t b = 0; b < bucket.size(); ++b) {
      while (k < 255 && first[k + 1] <= b << BUCKET_SHIFT) ++k;
      bucket[b] = static_cast<uint8_t>(k);
    }
  }
};

const ByteSteps& Steps() {
  static const ByteSteps steps;
  return steps;
}

}  // namespace

uint8_t SrgbByte(float linear) {
  if (!(linear > 0.0f)) return 0;
  if (linear >= 1.0f) return 255;
  const ByteSteps& steps = Steps();
  const uint32_t bits = std::bit_cast<uint32_t>(linear);
  uint32_t k = steps.bucket[bits >> BUCKET_SHIFT];
  while (bits >= steps.first[k + 1]) ++k;
  return static_cast<uint8_t>(k);
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
