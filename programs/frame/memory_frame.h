// memory_frame.h: one frame filtered from planes the caller holds in
// memory, with no files: colour (interleaved or planar, float32 or
// float16, with or without alpha), depth as distances and optional object
// and material IDs go through the module with FrameSettings, and new
// planes in the colour's own layout and type come back. The pixels are
// those `kestrion render` writes for an OpenEXR file holding the same
// planes with the same settings, bit for bit.
//
// What may run at once: any number of calls, on any threads, each with its
// own MemoryFrame and its own result, sharing one FilterModule; each gives
// the result it gives alone. A call through the caller's ImageFilter uses
// that filter alone for its duration: the same filter must not be used by
// two calls at once, nor by its dialog while a call runs. The callbacks of
// a call run on the thread that made it, but for the message box observer:
// the platform has one, so at most one call at a time may give one (calls
// without one may run beside it). The focal node of each call lives in a
// scene of the call's own, never in the host's. OpenEXR's thread pool is
// not touched here: a program that also reads or writes files sizes it
// once (SetExrThreadCount, formats/exr_document.h).
//
// What goes wrong is an Error (base/errors.h) with its kind: Usage for
// settings and views that do not fit (named by the labels of
// MemoryFrameLabels), Input for planes the filter cannot take (IDs out of
// range, a frame beyond the limits), Failed for a filter that fails,
// OutOfMemory, Aborted when the abort callback said so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/frame_settings.h"
#include "frame/render_callbacks.h"
#include "host/filter_pipeline.h"

namespace kestrion {

// float16 is IEEE 754 binary16 as its bits, in a uint16_t.
enum class SampleType { Float32, Float16 };

// The caller's colour, read-only, read only during the call. Samples are
// addressed in elements of `type`: the sample of channel c of pixel (x, y)
// (x, y from the top-left) is at
//   data + y * rowStride + x * pixelStride + c * channelStride.
// A stride of 0 takes the contiguous layout's: interleaved, pixelStride
// `channels`, channelStride 1, rowStride width * channels; planar,
// pixelStride 1, rowStride width, channelStride width * height. Strides
// may be negative (a frame stored bottom-up).
struct ColourView {
  const void* data = nullptr;
  SampleType type = SampleType::Float32;
  int32_t channels = 3;  // 3 (R, G, B) or 4 (R, G, B, A, alpha last)
  bool planar = false;   // false: interleaved pixels; true: one plane per channel
  int64_t pixelStride = 0;
  int64_t rowStride = 0;
  int64_t channelStride = 0;
};

// One frame. depth, objectIds and materialIds are contiguous, row-major,
// width * height values from the top-left pixel, read-only during the call.
struct MemoryFrame {
  int32_t width = 0;
  int32_t height = 0;
  ColourView colour;
  // Distances in front of the camera; +infinity, NaN and values from
  // settings.depth.backgroundFrom (1e9) up are background, as an OpenEXR Z
  // channel is read. settings.depth may say the values mean something else
  // (depth_modes.h), as for a Z channel. Required.
  const float* depth = nullptr;
  // Whole numbers: object IDs 0 to OBJECT_ID_MAX, material IDs 0 to
  // MATERIAL_ID_MAX. Null: the frame has none.
  const int32_t* objectIds = nullptr;
  const int32_t* materialIds = nullptr;
  // Names the frame in messages and warnings.
  std::string name = "frame";
};

// The names an error gives the planes of a call that are at fault, a
// program's own (a Python module's argument names); the settings are named
// by their own labels (FrameSettings::labels).
struct MemoryFrameLabels {
  std::string colour = "colour";
  std::string depth = "depth";
  std::string objectIds = "object_ids";
  std::string materialIds = "material_ids";
};

// The filtered colour in the input's type, channels and arrangement
// (interleaved or planar), contiguous: colour32 holds it for Float32 input,
// colour16 for Float16, the other stays empty. Alpha comes back filtered
// with the colour (unchanged with AlphaMode::Ignore), straight colour stays
// straight.
struct FilteredImage {
  int32_t width = 0;
  int32_t height = 0;
  SampleType type = SampleType::Float32;
  int32_t channels = 3;
  bool planar = false;
  std::vector<float> colour32;
  std::vector<uint16_t> colour16;
  FrameResolution resolved;

  const void* Data() const {
    return type == SampleType::Float32 ? static_cast<const void*>(colour32.data())
                                       : static_cast<const void*>(colour16.data());
  }
  size_t Bytes() const { return colour32.size() * sizeof(float) + colour16.size() * 2; }
};

// Filters `frame` through a new filter of `module` given the record and
// keys `settings` make (as RenderFrameFiles does), a size in per cent of
// the frame's width. Never shows a dialog.
FilteredImage FilterMemoryFrame(const FilterModule& module, const MemoryFrame& frame,
                                const FrameSettings& settings,
                                const RenderCallbacks& callbacks = {},
                                const MemoryFrameLabels& labels = {});
// Filters `frame` through `filter` as the caller configured it (its record
// and its keyed tracks; settings' range, size and source are not applied:
// ConfigureFilter, frame_render.h, applies them); the focal depth is the
// settings' focus.
FilteredImage FilterMemoryFrame(ImageFilter& filter, const MemoryFrame& frame,
                                const FrameSettings& settings,
                                const RenderCallbacks& callbacks = {},
                                const MemoryFrameLabels& labels = {});

}  // namespace kestrion
