#include "frame/file_overview.h"

#include <ImfIntAttribute.h>
#include <ImfStandardAttributes.h>

#include <algorithm>
#include <string>

#include "base/errors.h"
#include "formats/exr_document.h"
#include "frame/cryptomatte.h"
#include "frame/exr_planes.h"
#include "frame/render_input.h"
#include "frame/render_output.h"
#include "frame/settings_text.h"

namespace kestrion {

namespace {

// The message of a role error without the file name, first line only.
std::string Reason(const Error& error, const std::string& path) {
  std::string message = error.what();
  const std::string prefix = ShownName(path) + ": ";
  if (message.rfind(prefix, 0) == 0) message = message.substr(prefix.size());
  return message.substr(0, message.find('\n'));
}

OverviewWindow WindowOf(const Imath::Box2i& box) {
  return {box.min.x, box.min.y, box.max.x, box.max.y};
}

std::vector<OverviewPart> PartsOf(const ExrDocument& document) {
  std::vector<OverviewPart> parts;
  for (const ExrPart& part : document.parts) {
    const Imf::Header& header = part.header;
    OverviewPart& shown = parts.emplace_back();
    shown.name = part.Name();
    shown.tiled = part.Tiled();
    shown.compression = CompressionName(header.compression());
    shown.dataWindow = WindowOf(header.dataWindow());
    shown.displayWindow = WindowOf(header.displayWindow());
    shown.pixelAspect = header.pixelAspectRatio();
    if (const auto* layers = header.findTypedAttribute<Imf::IntAttribute>(LAYERS_ATTRIBUTE)) {
      shown.layers = layers->value();
    }
    for (const ExrChannel& channel : part.channels) {
      shown.channels.push_back({channel.name, PixelTypeName(channel.Type())});
    }
  }
  return parts;
}

std::optional<OverviewRef> RefOf(const ExrDocument& document,
                                 const std::optional<ChannelRef>& ref) {
  if (!ref) return std::nullopt;
  const ExrChannel* channel = document.parts[ref->part].Find(ref->name);
  return OverviewRef{ref->part, ref->name, PixelTypeName(channel->Type())};
}

OverviewRoles RolesOf(const ExrDocument& document, const ChannelRoles& roles) {
  OverviewRoles shown;
  shown.colourPart = roles.colourPart;
  shown.colourLayer = roles.colourLayer;
  for (const ChannelRef& ref : roles.colour) shown.colour.push_back(ref.name);
  shown.alpha = RefOf(document, roles.alpha);
  shown.depth = RefOf(document, roles.depth);
  shown.objectId = RefOf(document, roles.objectId);
  shown.materialId = RefOf(document, roles.materialId);
  shown.warnings = roles.warnings;
  return shown;
}

// The range of the depths with geometry, the share of background, and the
// depths' spread.
OverviewDepth DepthOf(const std::vector<float>& z) {
  OverviewDepth depth;
  std::vector<float> geometry;
  for (float value : z) {
    if (value > Z_BACKGROUND) geometry.push_back(-value);
  }
  depth.pixels = z.size();
  depth.background = z.size() - geometry.size();
  if (geometry.empty()) return depth;
  const auto [min, max] = std::minmax_element(geometry.begin(), geometry.end());
  depth.nearest = *min;
  depth.farthest = *max;
  auto percentile = [&geometry](size_t share) {
    const auto at = geometry.begin() + static_cast<ptrdiff_t>((geometry.size() - 1) * share / 100);
    std::nth_element(geometry.begin(), at, geometry.end());
    return *at;
  };
  DepthSpread spread;
  spread.low = percentile(10);
  spread.high = percentile(90);
  spread.median = percentile(50);
  depth.spread = spread;
  return depth;
}

template <typename Id>
std::optional<std::map<uint32_t, size_t>> IdCounts(const std::optional<std::vector<Id>>& ids) {
  if (!ids) return std::nullopt;
  std::map<uint32_t, size_t> counts;
  for (Id id : *ids) ++counts[id];
  return counts;
}

// Each Cryptomatte's names with the pixels each covers most, added as they
// are found.
void AddMattes(const ExrDocument& document, const ChannelRoles& roles,
               std::vector<OverviewMatte>& mattes, const AbortCheck& abort) {
  for (const CryptoMatte& matte : FindCryptoMattes(document)) {
    std::map<uint32_t, size_t> pixels;
    for (uint32_t id : TopRankedIds(document, roles, matte, abort)) ++pixels[id];
    OverviewMatte& shown = mattes.emplace_back();
    shown.name = matte.name;
    shown.part = matte.part;
    shown.ranks = matte.ranks.size();
    for (const auto& [name, id] : matte.manifest) {
      const auto count = pixels.find(id);
      shown.names.emplace_back(name, count == pixels.end() ? size_t{0} : count->second);
    }
    shown.objects = ObjectMatte(matte);
  }
}

OverviewPixel PixelOf(const ExrDocument& document, FocusPixel at, int x, int y) {
  OverviewPixel pixel;
  pixel.at = at;
  pixel.fileX = x;
  pixel.fileY = y;
  for (const ExrPart& part : document.parts) {
    OverviewPixelPart& shown = pixel.parts.emplace_back();
    const auto index = part.IndexOf(x, y);
    shown.inside = index.has_value();
    if (!index) continue;
    for (const ExrChannel& channel : part.channels) {
      shown.values.emplace_back(channel.name, channel.ExactValue(*index));
    }
  }
  return pixel;
}

}  // namespace

FileOverview InspectFile(const InspectOptions& options, const AbortCheck& abort) {
  FileOverview overview;
  overview.path = options.input;
  CheckDepthOptions(options.depth.For(false), options.labels);
  const ExrDocument document = ReadExrDocument(options.input, {}, abort);
  std::optional<FocusPixel> pixel;
  int fileX = 0, fileY = 0;
  if (options.pixel) {
    pixel = ParseFocusPixel(*options.pixel, options.labels.pixel);
    const ExrPart& first = document.parts.front();
    const Imath::Box2i& display = first.header.displayWindow();
    const int width = display.max.x - display.min.x + 1;
    const int height = display.max.y - display.min.y + 1;
    if (pixel->x < 0 || pixel->y < 0 || pixel->x >= width || pixel->y >= height) {
      throw UsageError("pixel (" + std::to_string(pixel->x) + ", " + std::to_string(pixel->y) +
                       ") lies outside the " + std::to_string(width) + " x " +
                       std::to_string(height) + " display window of " + ShownName(options.input));
    }
    fileX = display.min.x + pixel->x;
    fileY = display.min.y + pixel->y;
  }
  overview.parts = PartsOf(document);

  RoleOptions roleOptions = options.roles;
  roleOptions.requireDepth = false;
  std::optional<ChannelRoles> roles;
  try {
    roles = FindChannelRoles(document, roleOptions, options.labels);
  } catch (const Error& e) {
    overview.rolesError = Reason(e, options.input);
  }
  FramePlanes planes;
  std::vector<float> z;
  overview.depthOptions = options.depth.For(false);
  DepthOptions& depth = overview.depthOptions;
  if (roles) {
    overview.roles = RolesOf(document, *roles);
    try {
      planes = ExtractPlanes(document, *roles, abort);
      if (!options.depthFile.empty()) {
        InputOptions input;
        input.roles = options.roles;
        input.depthFile = options.depthFile;
        bool normalisedMap = false;
        planes.depth = ReadDepthFile(input, ResourceLimits{}, planes.width, planes.height,
                                     normalisedMap, options.labels, abort);
        depth = options.depth.For(normalisedMap);
        overview.depthFile = options.depthFile;
      }
      if (planes.depth) {
        CheckDepthOptions(depth, options.labels);
        z = RendererZ(*planes.depth, depth, abort);
        overview.depth = DepthOf(z);
        overview.depth->warnings =
            DepthWarnings(*planes.depth, planes.alpha, depth, options.input, options.labels, abort);
      } else {
        overview.noDepth = true;
      }
      overview.objectIds = IdCounts(planes.objectId);
      overview.materialIds = IdCounts(planes.materialId);
      AddMattes(document, *roles, overview.mattes, abort);
      overview.usable = planes.depth.has_value();
    } catch (const Error& e) {
      // Only what is wrong with the file is kept; a wrong option or an
      // abort ends the inspection.
      if (e.Kind() == ErrorKind::Usage || e.Kind() == ErrorKind::Aborted) throw;
      overview.planesError = Reason(e, options.input);
    }
  }
  if (pixel) overview.pixel = PixelOf(document, *pixel, fileX, fileY);
  if (overview.usable) {
    const auto index = document.parts[roles->colourPart].IndexOf(fileX, fileY);
    overview.pixelHasGeometry = pixel && index && z[*index] > Z_BACKGROUND;
  }
  return overview;
}

}  // namespace kestrion
