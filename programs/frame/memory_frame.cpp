#include "frame/memory_frame.h"

#include <half.h>

#include <cstdio>
#include <new>
#include <utility>

#include "base/abort_check.h"
#include "base/allocation_record.h"
#include "base/errors.h"
#include "base/memory_budget.h"
#include "frame/frame_render.h"

namespace kestrion {

namespace {

// The strides of a view, its zeros replaced by the contiguous layout's.
struct Strides {
  int64_t pixel = 0;
  int64_t row = 0;
  int64_t channel = 0;
};

Strides StridesOf(const ColourView& view, int32_t width, int32_t height) {
  const int64_t w = width;
  const int64_t channels = view.channels;
  Strides contiguous = view.planar ? Strides{1, w, w * height} : Strides{channels, w * channels, 1};
  return {view.pixelStride ? view.pixelStride : contiguous.pixel,
          view.rowStride ? view.rowStride : contiguous.row,
          view.channelStride ? view.channelStride : contiguous.channel};
}

float Sample(const ColourView& view, int64_t at) {
  if (view.type == SampleType::Float32) return static_cast<const float*>(view.data)[at];
  half value;
  value.setBits(static_cast<const uint16_t*>(view.data)[at]);
  return static_cast<float>(value);
}

void CheckView(const MemoryFrame& frame, const MemoryFrameLabels& labels) {
  const ColourView& colour = frame.colour;
  if (frame.width < 1 || frame.height < 1) {
    throw UsageError(labels.colour + ": a frame of " + std::to_string(frame.width) + " x " +
                     std::to_string(frame.height) + " pixels has no pixels to filter");
  }
  if (!colour.data) throw UsageError(labels.colour + ": give the frame's colour");
  if (colour.channels != 3 && colour.channels != 4) {
    throw UsageError(labels.colour + ": " + std::to_string(colour.channels) +
                     " channels; give 3 (R, G, B) or 4 (R, G, B, A)");
  }
  if (!frame.depth) {
    throw UsageError(labels.depth + ": give the frame's depth (distances in front of the camera)");
  }
}

// An ID plane checked as the ID channels of a file are: whole numbers from
// 0 to `max`, else an input error naming the first pixel that is not.
template <typename Id>
std::vector<Id> IdPlane(const int32_t* ids, const MemoryFrame& frame, int32_t max,
                        const std::string& label, const AbortCheck& abort) {
  std::vector<Id> plane;
  const size_t count = static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height);
  ResizeInterruptibly(plane, count, abort);
  size_t bad = 0;
  size_t first = 0;
  for (size_t i = 0; i < count; ++i) {
    abort.Poll(i);
    if (ids[i] >= 0 && ids[i] <= max) {
      plane[i] = static_cast<Id>(ids[i]);
    } else if (bad++ == 0) {
      first = i;
    }
  }
  if (bad > 0) {
    const size_t width = static_cast<size_t>(frame.width);
    const size_t others = bad - 1;
    throw FileError(frame.name,
                    label + " holds " + std::to_string(ids[first]) + " at pixel (" +
                        std::to_string(first % width) + ", " + std::to_string(first / width) + ")" +
                        (others == 0 ? std::string()
                                     : " (and " + std::to_string(others) + " more pixel" +
                                           (others == 1 ? "" : "s") + ")") +
                        ", not an ID (a whole number 0 to " + std::to_string(max) + ")");
  }
  return plane;
}

// The frame as the render of files holds an OpenEXR frame's planes: R, G,
// B (and A) in float, premultiplied unless the settings say otherwise, the
// depth as stored, the IDs checked.
RenderInput InputOf(const MemoryFrame& frame, const FrameSettings& settings,
                    const MemoryFrameLabels& labels, const AbortCheck& abort) {
  CheckView(frame, labels);
  CheckSides(frame.width, frame.height, settings.Limits(), frame.name, "a frame");
  RenderInput input;
  input.name = frame.name;
  RenderNeed& need = input.need;
  need.pixels = static_cast<uint64_t>(frame.width) * static_cast<uint64_t>(frame.height);
  need.channels = static_cast<uint64_t>(frame.colour.channels) + 1;
  CheckNeed(need.Bytes(), settings.Limits(), frame.name, "filtering it");

  FramePlanes& planes = input.planes;
  planes.width = frame.width;
  planes.height = frame.height;
  planes.alphaMode = AlphaMode::Premultiplied;
  const size_t count = planes.PixelCount();
  const ColourView& colour = frame.colour;
  const Strides strides = StridesOf(colour, frame.width, frame.height);
  std::vector<Plane> channels(static_cast<size_t>(colour.channels));
  for (size_t c = 0; c < channels.size(); ++c) {
    Plane& plane = channels[c];
    ResizeInterruptibly(plane, count, abort);
    size_t i = 0;
    for (int64_t y = 0; y < frame.height; ++y) {
      for (int64_t x = 0; x < frame.width; ++x, ++i) {
        abort.Poll(i);
        plane[i] = Sample(colour, y * strides.row + x * strides.pixel +
                                      static_cast<int64_t>(c) * strides.channel);
      }
    }
  }
  if (channels.size() == 4) {
    planes.alpha = std::move(channels.back());
    channels.pop_back();
  }
  planes.colour = std::move(channels);
  planes.colourNames = {"R", "G", "B"};
  planes.depth = Plane(frame.depth, frame.depth + count);
  if (frame.objectIds) {
    planes.objectId =
        IdPlane<uint16_t>(frame.objectIds, frame, OBJECT_ID_MAX, labels.objectIds, abort);
  }
  if (frame.materialIds) {
    planes.materialId =
        IdPlane<uint8_t>(frame.materialIds, frame, MATERIAL_ID_MAX, labels.materialIds, abort);
  }
  return input;
}

// The filtered planes in the input's type, channels and arrangement, each
// sample stored as an OpenEXR channel of that type stores it.
FilteredImage ImageOf(const MemoryFrame& frame, FilteredFrame filtered, const AbortCheck& abort) {
  FilteredImage image;
  image.width = frame.width;
  image.height = frame.height;
  image.type = frame.colour.type;
  image.channels = frame.colour.channels;
  image.planar = frame.colour.planar;
  image.resolved = std::move(filtered.resolved);
  const FramePlanes& planes = filtered.planes;
  std::vector<const Plane*> sources;
  for (const Plane& plane : planes.colour) sources.push_back(&plane);
  if (image.channels == 4) sources.push_back(&*planes.alpha);
  const size_t count = planes.PixelCount();
  const size_t channels = sources.size();
  auto at = [&](size_t c, size_t i) { return image.planar ? c * count + i : i * channels + c; };
  if (image.type == SampleType::Float32) {
    ResizeInterruptibly(image.colour32, count * channels, abort);
  } else {
    ResizeInterruptibly(image.colour16, count * channels, abort);
  }
  for (size_t c = 0; c < channels; ++c) {
    const Plane& plane = *sources[c];
    for (size_t i = 0; i < count; ++i) {
      abort.Poll(i);
      if (image.type == SampleType::Float32) {
        image.colour32[at(c, i)] = plane[i];
      } else {
        image.colour16[at(c, i)] = half(plane[i]).bits();
      }
    }
  }
  return image;
}

RenderSettings RenderSettingsOf(const FrameSettings& settings) {
  RenderSettings render;
  static_cast<FrameSettings&>(render) = settings;
  return render;
}

// The call: through a new filter of `module`, or through `filter`.
FilteredImage FilterMemory(const FilterModule* module, ImageFilter* filter,
                           const MemoryFrame& frame, const FrameSettings& settings,
                           const RenderCallbacks& callbacks, const MemoryFrameLabels& labels) {
  const AbortCheck abort(callbacks.abort);
  const AllocationWatch allocations;
  try {
    const RenderInput input = InputOf(frame, settings, labels, abort);
    const RenderSettings render = RenderSettingsOf(settings);
    const PreparedFrame prepared = PrepareFrame(input, render, callbacks);
    FilteredFrame filtered = module ? FilterFrame(*module, input, prepared, render, callbacks)
                                    : FilterFrame(*filter, input, prepared, render, callbacks);
    return ImageOf(frame, std::move(filtered), abort);
  } catch (const std::bad_alloc&) {
    const size_t failed = allocations.Since().lastSize;
    throw OutOfMemory(
        ShownName(frame.name) + ": not enough memory" +
        (failed ? " (an allocation of " + ByteSizeText(failed) + " failed)" : std::string()));
  }
}

}  // namespace

FilteredImage FilterMemoryFrame(const FilterModule& module, const MemoryFrame& frame,
                                const FrameSettings& settings, const RenderCallbacks& callbacks,
                                const MemoryFrameLabels& labels) {
  return FilterMemory(&module, nullptr, frame, settings, callbacks, labels);
}

FilteredImage FilterMemoryFrame(ImageFilter& filter, const MemoryFrame& frame,
                                const FrameSettings& settings, const RenderCallbacks& callbacks,
                                const MemoryFrameLabels& labels) {
  return FilterMemory(nullptr, &filter, frame, settings, callbacks, labels);
}

}  // namespace kestrion
