// render_input.h: the frame `kestrion render` filters, read from its input
// file (and, when given, a separate depth file) into float planes, with what
// is needed to write the result back.
//
// OpenEXR input is read whole, so that every part, layer, channel and
// attribute it holds can be written back; its colour, alpha, depth and IDs
// are found by their names (channel_roles.h). PNG and TIFF input give colour
// and alpha only: their depth comes from a depth file, an OpenEXR channel
// or a grey PNG read as a normalised map.
#pragma once

#include <ImathBox.h>

#include <optional>
#include <string>

#include "base/abort_check.h"
#include "base/memory_budget.h"
#include "formats/exr_document.h"
#include "formats/frame_planes.h"
#include "frame/channel_roles.h"

namespace kestrion {

struct RenderInput {
  // Names the frame in messages: the input file's path.
  std::string name;
  FramePlanes planes;
  // Set for OpenEXR input: the whole document and where its roles are.
  std::optional<ExrDocument> document;
  ChannelRoles roles;
  // The planes' rectangle in the coordinates where (0, 0) is the top-left
  // pixel of the frame (the display window); (0, 0) for PNG and TIFF.
  int32_t originX = 0;
  int32_t originY = 0;
  // The depth plane came from a grey image, a normalised map.
  bool depthIsNormalisedMap = false;
  // What the render was found to need from the files' headers (the memory
  // budget's estimate); unset (0 pixels) for input made otherwise.
  RenderNeed need;
  // The frame's width (the display window's, for OpenEXR), which a size in
  // per cent is of; 0: the planes' width.
  int32_t frameWidth = 0;

  int32_t FrameWidth() const { return frameWidth > 0 ? frameWidth : planes.width; }
};

struct InputOptions {
  RoleOptions roles;
  std::string depthFile;  // empty: depth from the input itself
};

// What filtering the input (and its depth file) will need, from their
// headers alone. Throws a FileError naming a file that cannot be read or
// is damaged.
RenderNeed InputNeed(const std::string& path, const InputOptions& options,
                     const ResourceLimits& limits = {});

// Refuses, before any pixel memory is allocated, input whose frame has a
// side beyond limits.maxSide or whose filtering would need more
// than the memory limit (InputNeed), then reads it. Throws a FileError
// naming the file at fault, or a UsageError for options that do not fit
// the file, with `labels` for the settings it names. Asks `abort` as its
// readers do.
RenderInput ReadRenderInput(const std::string& path, const InputOptions& options,
                            const ResourceLimits& limits, const SettingLabels& labels = {},
                            const AbortCheck& abort = NeverAbort());

// The depth of options.depthFile for a frame of width x height: a channel of
// an OpenEXR file (options.roles.depthChannel, else the conventions' names,
// else its only channel) or a grey PNG, which sets `normalisedMap`. Throws
// a FileError naming the file, also for a size other than the frame's.
Plane ReadDepthFile(const InputOptions& options, const ResourceLimits& limits, int32_t width,
                    int32_t height, bool& normalisedMap, const SettingLabels& labels = {},
                    const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
