#include "frame/render_input.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "base/abort_check.h"
#include "base/errors.h"
#include "base/file_names.h"
#include "formats/exr_preflight.h"
#include "formats/review_io.h"
#include "frame/exr_planes.h"

namespace kestrion {

namespace {

bool IsExr(const std::string& path) { return LowercaseExtension(path) == ".exr"; }

// The depth channel of a depth file: the one roles.depthChannel names, else
// the one the naming conventions find, else the file's only channel.
Plane ExrDepthFile(const std::string& path, const InputOptions& options,
                   const ResourceLimits& limits, int32_t width, int32_t height,
                   const SettingLabels& labels, const AbortCheck& abort) {
  const RoleOptions& roles = options.roles;
  const ExrDocument document = ReadExrDocument(path, limits, abort);
  std::optional<ChannelRef> found;
  if (document.parts.size() == 1 && document.parts[0].channels.size() == 1 && !roles.depthChannel) {
    found = ChannelRef{0, document.parts[0].channels[0].name};
  } else {
    // A depth file may hold no colour at all: look for depth by itself.
    for (size_t p = 0; p < document.parts.size() && !found; ++p) {
      for (const ExrChannel& channel : document.parts[p].channels) {
        const std::string& name = channel.name;
        const bool named = roles.depthChannel ? name == *roles.depthChannel
                                              : name == "Z" || name == "depth" ||
                                                    name == "depth.Z" || name.ends_with(".Depth.Z");
        if (named) {
          found = ChannelRef{static_cast<int>(p), name};
          break;
        }
      }
    }
  }
  if (!found) {
    throw FileError(path, "no depth channel (name it with " + labels.depthChannel + ")\n" +
                              DescribeParts(document));
  }
  const ExrPart& part = document.parts[static_cast<size_t>(found->part)];
  if (part.Width() != width || part.Height() != height) {
    throw FileError(path, "the depth is " + std::to_string(part.Width()) + " x " +
                              std::to_string(part.Height()) + ", the image " +
                              std::to_string(width) + " x " + std::to_string(height));
  }
  const ExrChannel& channel = *part.Find(found->name);
  Plane depth(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (size_t i = 0; i < depth.size(); ++i) {
    abort.Poll(i);
    depth[i] = channel.Value(i);
  }
  return depth;
}

// What a PNG or TIFF read whole holds, its frame's pixels and channels.
void AddReviewImage(const std::string& path, const ResourceLimits& limits, RenderNeed& need) {
  const ImageSize size = ReadReviewImageSize(path);
  CheckSides(size.width, size.height, limits, path, "an image");
  const uint64_t pixels = static_cast<uint64_t>(size.width) * static_cast<uint64_t>(size.height);
  need.fileBytes += pixels * REVIEW_BYTES_PER_PIXEL;
  need.pixels = std::max(need.pixels, pixels);
}

}  // namespace

RenderNeed InputNeed(const std::string& path, const InputOptions& options,
                     const ResourceLimits& limits) {
  RenderNeed need;
  if (IsExr(path)) {
    const ExrShape shape = PreflightExr(path, limits);
    need.fileBytes = shape.sampleBytes;
    need.pixels = shape.largestPixels;
    need.channels = shape.channels;
  } else {
    AddReviewImage(path, limits, need);
    need.channels = 4;  // colour and alpha
  }
  if (!options.depthFile.empty()) {
    if (IsExr(options.depthFile)) {
      need.fileBytes += PreflightExr(options.depthFile, limits).sampleBytes;
    } else {
      AddReviewImage(options.depthFile, limits, need);
    }
    need.channels += 1;
  }
  return need;
}

RenderInput ReadRenderInput(const std::string& path, const InputOptions& options,
                            const ResourceLimits& limits, const SettingLabels& labels,
                            const AbortCheck& abort) {
  const RenderNeed need = InputNeed(path, options, limits);
  CheckNeed(need.Bytes(), limits, path, "filtering it");
  RenderInput input;
  input.need = need;
  input.name = path;
  const bool separateDepth = !options.depthFile.empty();
  if (IsExr(path)) {
    input.document = ReadExrDocument(path, limits, abort);
    RoleOptions roles = options.roles;
    roles.requireDepth = !separateDepth;
    input.roles = FindChannelRoles(*input.document, roles, labels);
    input.planes = ExtractPlanes(*input.document, input.roles, abort);
    const Imf::Header& header =
        input.document->parts[static_cast<size_t>(input.roles.colourPart)].header;
    input.originX = header.dataWindow().min.x - header.displayWindow().min.x;
    input.originY = header.dataWindow().min.y - header.displayWindow().min.y;
    input.frameWidth = header.displayWindow().max.x - header.displayWindow().min.x + 1;
  } else {
    input.planes = ReadReviewImage(path, abort);
    if (!separateDepth) {
      throw UsageError(ShownName(path) +
                       ": a PNG or TIFF image carries no depth; give a depth map with " +
                       labels.depthFile);
    }
  }
  if (separateDepth) {
    input.planes.depth = ReadDepthFile(options, limits, input.planes.width, input.planes.height,
                                       input.depthIsNormalisedMap, labels, abort);
  }
  return input;
}

Plane ReadDepthFile(const InputOptions& options, const ResourceLimits& limits, int32_t width,
                    int32_t height, bool& normalisedMap, const SettingLabels& labels,
                    const AbortCheck& abort) {
  normalisedMap = !IsExr(options.depthFile);
  if (!normalisedMap) {
    return ExrDepthFile(options.depthFile, options, limits, width, height, labels, abort);
  }
  return ReadDepthMap(options.depthFile, width, height, abort);
}

}  // namespace kestrion
