// review_look.cpp: a review image's display look: float planes as the
// samples of a display image, under exposure, flattening or the soft
// clamp, and samples back as planes.
#include <algorithm>
#include <cmath>

#include "base/abort_check.h"
#include "base/errors.h"
#include "formats/image.h"
#include "formats/review_samples.h"

namespace kestrion {

namespace review_files {

namespace {

uint16_t ToSample(float unit, uint32_t max) {
  if (!(unit > 0.0f)) return 0;
  if (unit >= 1.0f) return static_cast<uint16_t>(max);
  // Half away from zero as std::lround rounds, without its call: the sum is
  // exact in double, so truncating it gives the same sample.
  const float scaled = unit * static_cast<float>(max);
  return static_cast<uint16_t>(static_cast<double>(scaled) + 0.5);
}

// Where a soft display clamp starts rolling highlights off: linear values
// up to it are kept, brighter ones approach 1 without reaching it.
constexpr float SHOULDER_START = 0.8f;

float Shoulder(float value) {
  if (!(value > SHOULDER_START)) return value;
  constexpr float span = 1.0f - SHOULDER_START;
  return SHOULDER_START + span * (1.0f - std::exp(-(value - SHOULDER_START) / span));
}

// One pixel's colour (and alpha, unless flattened) under a look that is not
// the plain one: exposure and flattening work on premultiplied light, and
// the soft clamp raises alpha where light over transparency is brighter
// than its coverage, so that a bloom over an empty sky stays as bright as
// it is over black.
void LookPixel(float colour[3], float& a, bool coverage, bool straightInput, const ReviewLook& look,
               float gain) {
  if (coverage) {
    a = std::clamp(a, 0.0f, 1.0f);
    if (straightInput) {
      for (int c = 0; c < 3; ++c) colour[c] *= a;
    }
  }
  for (int c = 0; c < 3; ++c) colour[c] *= gain;
  if (look.flatten) {
    for (int c = 0; c < 3; ++c) colour[c] += (coverage ? 1.0f - a : 0.0f) * (*look.flatten)[c];
    if (look.soft) {
      for (int c = 0; c < 3; ++c) colour[c] = Shoulder(colour[c]);
    }
    return;
  }
  if (look.soft) {
    for (int c = 0; c < 3; ++c) colour[c] = Shoulder(colour[c]);
    if (coverage) a = std::max({a, colour[0], colour[1], colour[2]});
  }
  if (coverage) {
    for (int c = 0; c < 3; ++c) colour[c] = a > 0.0f ? colour[c] / a : 0.0f;
  }
}

// How a frame's pixels become samples under a look: colour unpremultiplied
// (or cleared under alpha 0) and sRGB-encoded, alpha as it is, each 0..max.
class PixelEncoder {
 public:
  PixelEncoder(const FramePlanes& frame, uint32_t max, const std::string& path,
               const ReviewLook& look)
      : red(frame.colour.empty() ? nullptr : &frame.colour[0]),
        green(frame.colour.size() >= 3 ? &frame.colour[1] : red),
        blue(frame.colour.size() >= 3 ? &frame.colour[2] : red),
        alpha(frame.alpha ? &*frame.alpha : nullptr),
        divide(alpha && frame.alphaMode == AlphaMode::Premultiplied),
        clearUnderZero(alpha && frame.alphaMode != AlphaMode::Ignore),
        straightInput(alpha && frame.alphaMode == AlphaMode::Straight),
        look(look),
        // Gamma and a view act on the colour after it is straight, so they
        // leave the pixels' own steps as the plain look has them.
        plain(look.exposure == 0.0f && !look.flatten && !look.soft),
        gain(std::exp2(look.exposure)),
        max(max) {
    if (!red || frame.width < 1 || frame.height < 1) throw FileError(path, "no colour to write");
  }

  int32_t Channels() const { return alpha && !look.flatten ? 4 : 3; }

  // The samples of pixels begin .. begin + count, `stride` samples a pixel
  // from `out` on (the first Channels() of each written).
  template <typename Sample>
  void EncodeRun(size_t begin, size_t count, Sample* out, int32_t stride) const {
    if (!look.view) {
      for (size_t i = 0; i < count; ++i) Encode(begin + i, out + i * stride);
      return;
    }
    // Through the view a run at a time: straight linear colour first, then
    // the processor on all of it, then the display values quantised.
    constexpr size_t RUN = 1024;
    // Four floats a pixel, as the processor works in place.
    float colour[4 * RUN];
    float alphas[RUN];
    for (size_t first = 0; first < count; first += RUN) {
      const size_t n = std::min(RUN, count - first);
      for (size_t k = 0; k < n; ++k) {
        StraightColour(begin + first + k, &colour[4 * k], alphas[k]);
        colour[4 * k + 3] = 1.0f;
      }
      look.view->Apply(colour, n);
      for (size_t k = 0; k < n; ++k) {
        Sample* pixel = out + (first + k) * stride;
        if (Channels() == 4) pixel[3] = static_cast<Sample>(ToSample(alphas[k], max));
        for (int c = 0; c < 3; ++c) {
          pixel[c] = static_cast<Sample>(ToSample(Gamma(colour[4 * k + c]), max));
        }
      }
    }
  }

 private:
  // Pixel i's colour as a display shows it, straight and in linear light
  // (before the encode), and its alpha.
  void StraightColour(size_t i, float colour[3], float& a) const {
    colour[0] = (*red)[i];
    colour[1] = (*green)[i];
    colour[2] = (*blue)[i];
    a = alpha ? (*alpha)[i] : 1.0f;
    if (!plain) {
      LookPixel(colour, a, clearUnderZero, straightInput, look, gain);
    } else if (alpha) {
      if (clearUnderZero && !(a > 0.0f)) {
        colour[0] = colour[1] = colour[2] = 0.0f;
      } else if (divide && a != 1.0f) {
        // Opaque pixels, most of a frame, skip a division that keeps them.
        for (int c = 0; c < 3; ++c) colour[c] /= a;
      }
    }
  }

  float Gamma(float value) const {
    if (look.gamma == 1.0f || !(value > 0.0f)) return value;
    return std::pow(value, 1.0f / look.gamma);
  }

  // Pixel i's samples into out[0 .. Channels()), through the sRGB encode.
  template <typename Sample>
  void Encode(size_t i, Sample* out) const {
    float colour[3];
    float a = 1.0f;
    StraightColour(i, colour, a);
    if (Channels() == 4) out[3] = static_cast<Sample>(ToSample(a, max));
    if (max == 255 && look.gamma == 1.0f) {
      for (int c = 0; c < 3; ++c) out[c] = static_cast<Sample>(SrgbByte(colour[c]));
    } else {
      for (int c = 0; c < 3; ++c)
        out[c] = static_cast<Sample>(ToSample(Gamma(SrgbEncode(colour[c])), max));
    }
  }

 private:
  const Plane* red;
  const Plane* green;
  const Plane* blue;
  const Plane* alpha;
  bool divide;
  bool clearUnderZero;
  bool straightInput;
  const ReviewLook& look;
  bool plain;
  float gain;
  uint32_t max;
};

// Rows firstRow .. firstRow + rows of the frame into `out`, `stride`
// samples a pixel, asking `abort` before the first row and before each row
// that starts a new ABORT_STRIDE pixels.
template <typename Sample>
void EncodeRows(const PixelEncoder& encoder, int32_t width, int32_t firstRow, int32_t rows,
                Sample* out, int32_t stride, const AbortCheck& abort) {
  const size_t w = static_cast<size_t>(width);
  for (int32_t row = 0; row < rows; ++row) {
    const size_t done = static_cast<size_t>(row) * w;
    if (row == 0 || done / ABORT_STRIDE != (done - w) / ABORT_STRIDE) abort.ThrowIfRequested();
    encoder.EncodeRun((static_cast<size_t>(firstRow) + static_cast<size_t>(row)) * w, w,
                      out + static_cast<size_t>(row) * w * static_cast<size_t>(stride), stride);
  }
}

}  // namespace

Samples Encode(const FramePlanes& frame, int32_t bits, const std::string& path,
               const ReviewLook& look, const AbortCheck& abort) {
  const size_t count = frame.PixelCount();
  Samples samples;
  samples.bits = bits;
  const PixelEncoder encoder(frame, samples.Max(), path, look);
  samples.width = frame.width;
  samples.height = frame.height;
  samples.channels = encoder.Channels();
  ResizeInterruptibly(samples.data, count * samples.channels, abort);
  EncodeRows(encoder, frame.width, 0, frame.height, samples.data.data(), samples.channels, abort);
  return samples;
}

FramePlanes Decode(const Samples& samples, const AbortCheck& abort) {
  FramePlanes frame;
  frame.width = samples.width;
  frame.height = samples.height;
  const size_t count = frame.PixelCount();
  frame.colour.resize(3);
  for (Plane& plane : frame.colour) ResizeInterruptibly(plane, count, abort);
  frame.colourNames = {"R", "G", "B"};
  frame.alphaMode = AlphaMode::Straight;
  if (samples.HasAlpha()) frame.alpha = FilledInterruptibly<float>(count, abort);
  // Every sample value decoded once.
  std::vector<float> linear(samples.Max() + 1);
  for (size_t v = 0; v < linear.size(); ++v) {
    linear[v] = SrgbDecode(static_cast<float>(v) / static_cast<float>(samples.Max()));
  }
  const bool grey = samples.channels <= 2;
  for (size_t i = 0; i < count; ++i) {
    abort.Poll(i);
    const uint16_t* in = &samples.data[i * samples.channels];
    for (int c = 0; c < 3; ++c) frame.colour[c][i] = linear[in[grey ? 0 : c]];
    if (frame.alpha) {
      (*frame.alpha)[i] = static_cast<float>(in[samples.channels - 1]) / samples.Max();
    }
  }
  return frame;
}

}  // namespace review_files

using review_files::EncodeRows;
using review_files::PixelEncoder;

void ReviewPixels8(const FramePlanes& frame, const std::string& name, const ReviewLook& look,
                   int32_t firstRow, int32_t rows, uint8_t* rgba, const AbortCheck& abort) {
  const PixelEncoder encoder(frame, 255u, name, look);
  if (firstRow < 0 || rows < 0 || firstRow > frame.height - rows) {
    throw FileError(name, "no such rows to encode");
  }
  const size_t begin = static_cast<size_t>(firstRow) * static_cast<size_t>(frame.width);
  const size_t end = begin + static_cast<size_t>(rows) * static_cast<size_t>(frame.width);
  EncodeRows(encoder, frame.width, firstRow, rows, rgba, 4, abort);
  if (encoder.Channels() == 3) {
    for (size_t i = begin; i < end; ++i) rgba[(i - begin) * 4 + 3] = 255;
  }
}

std::vector<uint8_t> ReviewPixels8(const FramePlanes& frame, const std::string& name,
                                   const ReviewLook& look, const AbortCheck& abort) {
  std::vector<uint8_t> rgba;
  ResizeInterruptibly(rgba, frame.PixelCount() * 4, abort);
  ReviewPixels8(frame, name, look, 0, frame.height, rgba.data(), abort);
  return rgba;
}

}  // namespace kestrion
