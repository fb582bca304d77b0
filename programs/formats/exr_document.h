// exr_document.h: a whole OpenEXR file held in memory, so that kestrion can
// replace a few channels and write everything else back as it was.
//
// Every part is kept with its header whole (attributes, data and display
// windows, pixel aspect, compression, tiling, part name and type) and every
// channel's samples in the channel's own pixel type over the part's data
// window, row-major, pixel (x, y) of the file at
//   (y - dataWindow.min.y) * width + (x - dataWindow.min.x).
// A single-part file is a document with one part and is written back as a
// single-part file.
//
// Read: scanline and single-level tiled parts, any compression OpenEXR
// reads. Deep parts, mipmapped or ripmapped tiled parts, subsampled
// channels and damaged files are refused with one line saying so, before
// any pixel memory is allocated (exr_preflight.h).
#pragma once

#include <ImfCompression.h>
#include <ImfHeader.h>
#include <ImfPixelType.h>
#include <half.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "base/abort_check.h"
#include "base/memory_budget.h"

namespace kestrion {

// One channel's samples. The vector's type follows the pixel type: the
// variant's index is the Imf::PixelType (UINT 0, HALF 1, FLOAT 2).
// `value` as a sample of type T: rounded to half for HALF; rounded to the
// nearest whole number in range for UINT (NaN becomes 0); as it is for
// FLOAT.
template <typename T>
T SampleFromFloat(float value) {
  if constexpr (std::is_same_v<T, uint32_t>) {
    if (!(value > 0.0f)) return 0;
    if (value >= 4294967295.0f) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(std::lround(static_cast<double>(value)));
  } else {
    return T(value);
  }
}

struct ExrChannel {
  using Samples = std::variant<std::vector<uint32_t>, std::vector<half>, std::vector<float>>;

  std::string name;
  Samples samples;

  Imf::PixelType Type() const { return static_cast<Imf::PixelType>(samples.index()); }
  size_t Size() const;
  // Sample i as a float (a UINT above 2^24 loses its low bits) and as a
  // double (exact for every type).
  float Value(size_t i) const;
  double ExactValue(size_t i) const;
  // Stores `value` in the channel's own type: rounded to half for HALF,
  // rounded to the nearest whole number in range for UINT (NaN becomes 0).
  void SetValue(size_t i, float value);
  // The raw bytes, for comparing samples exactly.
  const char* Bytes() const;
  size_t ByteSize() const;
};

struct ExrPart {
  Imf::Header header;
  std::vector<ExrChannel> channels;  // in the header's (alphabetical) order

  const Imath::Box2i& DataWindow() const { return header.dataWindow(); }
  int32_t Width() const;
  int32_t Height() const;
  // The part's name attribute, or empty when it has none.
  std::string Name() const;
  bool Tiled() const;
  const ExrChannel* Find(const std::string& name) const;
  ExrChannel* Find(const std::string& name);
  // Index of pixel (x, y) (file coordinates) in the channels' samples, or
  // nothing when the data window does not hold it.
  std::optional<size_t> IndexOf(int x, int y) const;
};

struct ExrDocument {
  std::string path;  // the file it was read from, for messages
  std::vector<ExrPart> parts;
};

// The number of threads OpenEXR uses to compress and decompress; 0 means
// one per hardware thread (the default when never set).
void SetExrThreadCount(unsigned count);
unsigned ExrThreadCount();

// Throws a FileError naming `path` (one line) when the file cannot be read,
// holds something kestrion does not read, is damaged, has a side beyond
// limits.maxSide or samples that would take more than the memory limit.
// The file is checked before any pixel memory is allocated, and the
// samples are decoded into zero-filled memory. Asks `abort` between blocks
// of scanlines or runs of tiles.
ExrDocument ReadExrDocument(const std::string& path, const ResourceLimits& limits = {},
                            const AbortCheck& abort = NeverAbort());

// Writes every part back, single-part when the document has one part,
// headers unchanged except the compression when one is given, tiled parts
// as tiled, with OpenEXR's threads (SetExrThreadCount). A file of ZIP and
// ZIPS parts is written by the core library with kestrion's deflate
// (exr_encode.h), any other by OpenEXR's C++ library; either way the bytes
// do not depend on the thread count. Throws a FileError naming `path`.
void WriteExrDocument(const ExrDocument& document, const std::string& path,
                      std::optional<Imf::Compression> compression = std::nullopt,
                      const AbortCheck& abort = NeverAbort());

// Text for messages and listings.
const char* PixelTypeName(Imf::PixelType type);  // "uint", "half", "float"
std::string CompressionName(Imf::Compression compression);
std::string WindowText(const Imath::Box2i& window);  // "7 x 5 at (-1, 2)"

}  // namespace kestrion
