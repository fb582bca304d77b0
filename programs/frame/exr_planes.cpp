#include "frame/exr_planes.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <optional>
#include <stdexcept>
#include <variant>

#include "base/abort_check.h"
#include "base/errors.h"

namespace kestrion {

namespace {

// A channel as messages name it, escaped (errors.h).
std::string RefName(const ExrDocument& document, const ChannelRoles& roles, const ChannelRef& ref) {
  if (ref.part == roles.colourPart) return ShownName(ref.name);
  const std::string part = document.parts[ref.part].Name();
  return (part.empty() ? std::to_string(ref.part) : ShownName(part)) + ":" + ShownName(ref.name);
}

const ExrChannel& ChannelOf(const ExrDocument& document, const ChannelRef& ref) {
  const ExrChannel* channel = document.parts.at(ref.part).Find(ref.name);
  if (!channel)
    throw std::invalid_argument("no channel " + ShownName(ref.name) + " in the document");
  return *channel;
}

// Calls visit(i, x, y, source) for every pixel (x, y) of the colour window:
// i its index in the planes, source its index in `part`'s samples, or
// nothing when the part's data window does not hold it. The windows are
// looked up once, not per pixel.
template <typename Visit>
void ForEachPixel(const ExrPart& colour, const ExrPart& part, const AbortCheck& abort,
                  Visit visit) {
  const Imath::Box2i window = colour.DataWindow();
  const Imath::Box2i source = part.DataWindow();
  const size_t sourceWidth = static_cast<size_t>(part.Width());
  size_t i = 0;
  for (int y = window.min.y; y <= window.max.y; ++y) {
    abort.ThrowIfRequested();
    const bool rowHeld = y >= source.min.y && y <= source.max.y;
    const size_t rowStart = rowHeld ? static_cast<size_t>(y - source.min.y) * sourceWidth : 0;
    for (int x = window.min.x; x <= window.max.x; ++x, ++i) {
      const bool held = rowHeld && x >= source.min.x && x <= source.max.x;
      visit(i, x, y,
            held ? std::optional<size_t>(rowStart + static_cast<size_t>(x - source.min.x))
                 : std::nullopt);
    }
  }
}

Plane FloatPlane(const ExrDocument& document, const ChannelRoles& roles, const ChannelRef& ref,
                 float outside, const AbortCheck& abort) {
  const ExrPart& colour = document.parts[roles.colourPart];
  const ExrChannel& channel = ChannelOf(document, ref);
  const size_t count = static_cast<size_t>(colour.Width()) * static_cast<size_t>(colour.Height());
  if (document.parts[ref.part].DataWindow() == colour.DataWindow()) {
    // Every pixel has its sample: the plane is the samples converted in
    // order, never filled first.
    Plane plane;
    plane.reserve(count);
    std::visit(
        [&](const auto& samples) {
          for (size_t start = 0; start < count; start += 16 * ABORT_STRIDE) {
            abort.ThrowIfRequested();
            const auto from = samples.begin() + static_cast<std::ptrdiff_t>(start);
            plane.insert(
                plane.end(), from,
                from + static_cast<std::ptrdiff_t>(std::min(count - start, 16 * ABORT_STRIDE)));
          }
        },
        channel.samples);
    return plane;
  }
  Plane plane = FilledInterruptibly(count, abort, outside);
  std::visit(
      [&](const auto& samples) {
        ForEachPixel(colour, document.parts[ref.part], abort,
                     [&](size_t i, int, int, std::optional<size_t> source) {
                       if (source) plane[i] = static_cast<float>(samples[*source]);
                     });
      },
      channel.samples);
  return plane;
}

// An ID channel's values as IDs. A value that is not a whole number in
// range is refused, not rounded or clamped: another ID would blur or spare
// the wrong pixels without a word. The error names the first such pixel (in
// rows from the top) and how many more there are, which tells a stray
// pixel from a channel that holds no IDs at all (a filtered pass, say).
template <typename Id>
std::vector<Id> IdPlane(const ExrDocument& document, const ChannelRoles& roles,
                        const ChannelRef& ref, const AbortCheck& abort) {
  const ExrPart& colour = document.parts[roles.colourPart];
  const ExrChannel& channel = ChannelOf(document, ref);
  constexpr double max = std::numeric_limits<Id>::max();
  std::vector<Id> ids = FilledInterruptibly<Id>(
      static_cast<size_t>(colour.Width()) * static_cast<size_t>(colour.Height()), abort);
  struct Bad {
    double value;
    int x;
    int y;
  };
  std::optional<Bad> first;
  size_t badCount = 0;
  ForEachPixel(colour, document.parts[ref.part], abort,
               [&](size_t i, int x, int y, std::optional<size_t> source) {
                 if (!source) return;
                 const double value = channel.ExactValue(*source);
                 if (value >= 0.0 && value <= max && value == std::floor(value)) {
                   ids[i] = static_cast<Id>(value);
                 } else if (badCount++ == 0) {
                   first = Bad{value, x, y};
                 }
               });
  if (first) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", first->value);
    const size_t others = badCount - 1;
    const std::string more = others == 0 ? ""
                                         : " (and " + std::to_string(others) + " more pixel" +
                                               (others == 1 ? "" : "s") + ")";
    throw FileError(document.path, "channel " + RefName(document, roles, ref) + " holds " + text +
                                       " at pixel (" + std::to_string(first->x) + ", " +
                                       std::to_string(first->y) + ")" + more +
                                       ", not an ID (a whole number 0 to " +
                                       std::to_string(static_cast<uint64_t>(max)) +
                                       "); name another with the ID channel option");
  }
  return ids;
}

}  // namespace

Plane ChannelPlane(const ExrDocument& document, const ChannelRoles& roles, const ChannelRef& ref,
                   float outside, const AbortCheck& abort) {
  return FloatPlane(document, roles, ref, outside, abort);
}

FramePlanes ExtractPlanes(const ExrDocument& document, const ChannelRoles& roles,
                          const AbortCheck& abort) {
  const ExrPart& colour = document.parts.at(roles.colourPart);
  FramePlanes planes;
  planes.width = colour.Width();
  planes.height = colour.Height();
  planes.alphaMode = AlphaMode::Premultiplied;
  for (const ChannelRef& ref : roles.colour) {
    planes.colour.push_back(FloatPlane(document, roles, ref, 0.0f, abort));
    planes.colourNames.push_back(RefName(document, roles, ref));
  }
  if (roles.alpha) planes.alpha = FloatPlane(document, roles, *roles.alpha, 0.0f, abort);
  if (roles.depth) {
    planes.depth =
        FloatPlane(document, roles, *roles.depth, std::numeric_limits<float>::infinity(), abort);
  }
  if (roles.objectId) planes.objectId = IdPlane<uint16_t>(document, roles, *roles.objectId, abort);
  if (roles.materialId) {
    planes.materialId = IdPlane<uint8_t>(document, roles, *roles.materialId, abort);
  }
  return planes;
}

void ReplacePlanes(ExrDocument& document, const ChannelRoles& roles, const FramePlanes& filtered,
                   const AbortCheck& abort) {
  const ExrPart& colour = document.parts.at(roles.colourPart);
  const size_t count = static_cast<size_t>(colour.Width()) * static_cast<size_t>(colour.Height());
  if (filtered.width != colour.Width() || filtered.height != colour.Height() ||
      filtered.colour.size() != roles.colour.size()) {
    throw std::invalid_argument("filtered planes do not match the document's colour channels");
  }
  auto replace = [&](const ChannelRef& ref, const Plane& plane) {
    if (plane.size() != count) throw std::invalid_argument("a filtered plane has the wrong size");
    ExrPart& part = document.parts.at(ref.part);
    ExrChannel* channel = part.Find(ref.name);
    if (!channel)
      throw std::invalid_argument("no channel " + ShownName(ref.name) + " in the document");
    std::visit(
        [&](auto& samples) {
          using T = typename std::decay_t<decltype(samples)>::value_type;
          ForEachPixel(document.parts[roles.colourPart], part, abort,
                       [&](size_t i, int, int, std::optional<size_t> target) {
                         if (target) samples[*target] = SampleFromFloat<T>(plane[i]);
                       });
        },
        channel->samples);
  };
  for (size_t i = 0; i < roles.colour.size(); ++i) replace(roles.colour[i], filtered.colour[i]);
  if (roles.alpha && filtered.alpha) replace(*roles.alpha, *filtered.alpha);
}

}  // namespace kestrion
