#include "cli/overview_text.h"

#include <ImathBox.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <map>
#include <vector>

#include "base/errors.h"
#include "formats/exr_document.h"
#include "frame/channel_roles.h"

namespace kestrion {

namespace {

constexpr size_t IDS_LISTED = 32;
// The suggested size: a share of the frame's width that shows depth of
// field at any resolution.
constexpr const char* SUGGESTED_SIZE = "1%";

// Appends printf-style text to `out`.
[[gnu::format(printf, 2, 3)]] void Append(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length > 0) {
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(length) + 1);
    std::vsnprintf(out.data() + start, static_cast<size_t>(length) + 1, format, again);
    out.resize(start + static_cast<size_t>(length));
  }
  va_end(again);
}

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.7g", value);
  return text;
}

// Names from the file and the command line are listed escaped (errors.h).
std::string PartTitle(const FileOverview& overview, int index) {
  const std::string& name = overview.parts[static_cast<size_t>(index)].name;
  return "part " + std::to_string(index) + (name.empty() ? "" : " \"" + ShownName(name) + "\"");
}

std::string RefText(const FileOverview& overview, const OverviewRef& ref) {
  return ShownName(ref.name) + " (" + ref.type + ", " + PartTitle(overview, ref.part) + ")";
}

std::string WindowOf(const OverviewWindow& window) {
  return WindowText(Imath::Box2i({window.minX, window.minY}, {window.maxX, window.maxY}));
}

// A word of a shell command, quoted where it needs it. One that holds what
// a name is shown escaped for (a control character, a byte that is not
// UTF-8) is written in the shell's $'...' quoting with the same escapes, so
// that the line shows no control character and still names the file.
std::string ShellWord(const std::string& word) {
  const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string("/._-+,:=@").find(c) != std::string::npos;
  });
  if (plain) return word;
  if (ShownName(word) != word) {
    std::string quoted = "$'";
    size_t start = 0;
    for (size_t at; (at = word.find_first_of("\\'", start)) != std::string::npos; start = at + 1) {
      quoted += ShownName(std::string_view(word).substr(start, at - start));
      quoted += word[at] == '\\' ? "\\\\" : "\\'";
    }
    return quoted + ShownName(std::string_view(word).substr(start)) + "'";
  }
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

void PrintParts(const FileOverview& overview, std::string& out) {
  for (size_t i = 0; i < overview.parts.size(); ++i) {
    const OverviewPart& part = overview.parts[i];
    Append(out, "%s: %s, %s, %zu channel%s\n", PartTitle(overview, int(i)).c_str(),
           part.tiled ? "tiled" : "scanline", part.compression.c_str(), part.channels.size(),
           part.channels.size() == 1 ? "" : "s");
    Append(out, "  data window    %s\n", WindowOf(part.dataWindow).c_str());
    Append(out, "  display window %s\n", WindowOf(part.displayWindow).c_str());
    Append(out, "  pixel aspect   %s\n", Number(part.pixelAspect).c_str());
    if (part.layers) {
      Append(out, "  filtered       by kestrion in %d depth layers (--layered)\n", *part.layers);
    }
    std::map<std::string, std::string> layers;
    std::vector<std::string> order;
    for (const OverviewChannel& channel : part.channels) {
      const std::string layer = LayerOf(channel.name);
      if (!layers.count(layer)) order.push_back(layer);
      std::string& text = layers[layer];
      text += (text.empty() ? "" : ", ") +
              ShownName(layer.empty() ? channel.name : channel.name.substr(layer.size() + 1)) +
              " " + channel.type;
    }
    for (const std::string& layer : order) {
      Append(out, "  layer %-8s %s\n", layer.empty() ? "(root)" : ShownName(layer).c_str(),
             layers[layer].c_str());
    }
  }
}

void PrintRoles(const FileOverview& overview, const OverviewRoles& roles, std::string& out) {
  std::string colour;
  for (const std::string& name : roles.colour) {
    colour += (colour.empty() ? "" : ", ") + ShownName(name);
  }
  Append(out, "roles (%s, layer %s):\n", PartTitle(overview, roles.colourPart).c_str(),
         roles.colourLayer.empty() ? "(root)" : ShownName(roles.colourLayer).c_str());
  Append(out, "  colour       %s\n", colour.c_str());
  auto line = [&](const char* role, const std::optional<OverviewRef>& ref) {
    Append(out, "  %-12s %s\n", role, ref ? RefText(overview, *ref).c_str() : "none");
  };
  line("alpha", roles.alpha);
  line("depth", roles.depth);
  line("object ID", roles.objectId);
  line("material ID", roles.materialId);
}

// What the depth means under `options`, in words: "infinite, NaN or from
// 1e+09 up".
std::string BackgroundRule(const DepthOptions& options) {
  std::string rule = "infinite, NaN or from " + Number(options.backgroundFrom) + " up";
  if (options.backgroundDepth) rule += ", or " + Number(*options.backgroundDepth) + " as stored";
  return rule;
}

// The range of the depths with geometry and the share of background.
void PrintDepth(const OverviewDepth& depth, const DepthOptions& options, std::string& out) {
  if (!depth.nearest) {
    Append(out, "depth: no geometry (all %zu pixels background: %s)\n", depth.pixels,
           BackgroundRule(options).c_str());
  } else {
    const double background =
        100.0 * static_cast<double>(depth.background) / static_cast<double>(depth.pixels);
    Append(out, "depth: %s to %s, background %s%% of pixels (%s)\n", Number(*depth.nearest).c_str(),
           Number(*depth.farthest).c_str(), Number(background).c_str(),
           BackgroundRule(options).c_str());
  }
  for (const std::string& line : depth.warnings) Append(out, "warning: %s\n", line.c_str());
}

void PrintIds(const char* what, const std::optional<std::map<uint32_t, size_t>>& counts,
              std::string& out) {
  if (!counts) return;
  Append(out, "%s: %zu value%s:", what, counts->size(), counts->size() == 1 ? "" : "s");
  size_t listed = 0;
  for (const auto& [id, count] : *counts) {
    if (listed++ == IDS_LISTED) {
      Append(out, " ... and %zu more", counts->size() - IDS_LISTED);
      break;
    }
    Append(out, " %u (%zu px)", id, count);
  }
  Append(out, "\n");
}

// Each Cryptomatte's names with the pixels each covers most, so that a
// user can pick a name for --focus-object.
void PrintMattes(const FileOverview& overview, std::string& out) {
  for (const OverviewMatte& matte : overview.mattes) {
    Append(out, "Cryptomatte %s (%s, %zu ranks): %zu name%s:", ShownName(matte.name).c_str(),
           PartTitle(overview, matte.part).c_str(), matte.ranks, matte.names.size(),
           matte.names.size() == 1 ? "" : "s");
    size_t listed = 0;
    for (const auto& [name, pixels] : matte.names) {
      if (listed++ == IDS_LISTED) {
        Append(out, " ... and %zu more", matte.names.size() - IDS_LISTED);
        break;
      }
      Append(out, " %s (%zu px)", ShownName(name).c_str(), pixels);
    }
    Append(out, "%s\n", matte.objects ? " (objects: --focus-object NAME)" : "");
  }
}

void PrintPixel(const FileOverview& overview, const OverviewPixel& pixel, std::string& out) {
  Append(out, "pixel (%d, %d), file coordinates (%d, %d):\n", pixel.at.x, pixel.at.y, pixel.fileX,
         pixel.fileY);
  for (size_t i = 0; i < pixel.parts.size(); ++i) {
    const OverviewPixelPart& part = pixel.parts[i];
    if (!part.inside) {
      Append(out, "  %s: outside the data window\n", PartTitle(overview, int(i)).c_str());
      continue;
    }
    Append(out, "  %s:\n", PartTitle(overview, int(i)).c_str());
    for (const auto& [name, value] : part.values) {
      Append(out, "    %-24s %s\n", ShownName(name).c_str(), Number(value).c_str());
    }
  }
}

// Two significant digits: a range to start from, not a measurement.
std::string Rounded(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2g", value);
  return text;
}

// The options that say what the depth means, as the user gave them.
std::string DepthWords(const InspectOptions& options, const DepthOptions& depth) {
  std::string words;
  auto add = [&words](const std::string& option, const std::string& value) {
    words += ' ';
    words += option;
    if (!value.empty()) {
      words += ' ';
      words += ShellWord(value);
    }
  };
  if (!options.depthFile.empty()) add("--depth-file", options.depthFile);
  if (options.depth.mode) add("--depth-mode", DepthModeText(*options.depth.mode));
  if (depth.mode == DepthMode::Normalised) {
    add("--depth-near", Number(depth.near));
    add("--depth-far", Number(depth.far));
  }
  if (depth.invert) add("--depth-invert", "");
  if (depth.backgroundDepth) add("--background-depth", Number(*depth.backgroundDepth));
  if (depth.backgroundFrom != FAR_BACKGROUND_DISTANCE) {
    add("--background-from", Number(depth.backgroundFrom));
  }
  return words;
}

// The command line to start from, and a line that says where its focus,
// range and size come from.
std::string Suggestion(const InspectOptions& options, const DepthOptions& depth,
                       const FocusPixel* pixel, const std::optional<DepthSpread>& spread) {
  const std::filesystem::path input(options.input);
  const std::string output = (input.parent_path() / (input.stem().string() + ".dof.exr")).string();
  std::string line = "kestrion render " + ShellWord(options.input) + " -o " + ShellWord(output);
  std::string why;
  // Focus on the pixel asked about when it shows geometry, else on the
  // median depth.
  if (pixel) {
    line += " --focus-pixel " + std::to_string(pixel->x) + "," + std::to_string(pixel->y);
    why = "focus: the depth at the pixel asked about";
  } else if (spread) {
    line += " --focus-depth " + Number(spread->median);
    why = "focus depth: the median depth of the pixels with geometry (--pixel X,Y focuses on one)";
  }
  if (spread && spread->high > spread->low) {
    line += " --range " + Rounded((spread->high - spread->low) / 2.0) + " --size " + SUGGESTED_SIZE;
    why += "; range: half the spread of the middle 80 % of those depths; size: " +
           std::string(SUGGESTED_SIZE) + " of the frame's width";
  }
  const RoleOptions& r = options.roles;
  auto add = [&](const char* option, const std::optional<std::string>& value) {
    if (value) line += std::string(" ") + option + " " + ShellWord(*value);
  };
  add("--part", r.part);
  add("--layer", r.layer);
  add("--depth-channel", r.depthChannel);
  add("--object-id-channel", r.objectIdChannel);
  add("--material-id-channel", r.materialIdChannel);
  if (!r.layers.empty()) {
    std::string layers;
    for (const std::string& l : r.layers) layers += (layers.empty() ? "" : ",") + l;
    line += " --layers " + ShellWord(layers);
  }
  line += DepthWords(options, depth);
  return line + (why.empty() ? "" : "\n  (" + why + ")");
}

}  // namespace

std::string OverviewText(const FileOverview& overview, const InspectOptions& options) {
  std::string out;
  Append(out, "%s: %zu part%s\n", ShownName(overview.path).c_str(), overview.parts.size(),
         overview.parts.size() == 1 ? "" : "s");
  PrintParts(overview, out);
  if (overview.rolesError) Append(out, "roles: not found: %s\n", overview.rolesError->c_str());
  if (overview.roles) {
    PrintRoles(overview, *overview.roles, out);
    for (const std::string& line : overview.roles->warnings) {
      Append(out, "warning: %s\n", line.c_str());
    }
    if (overview.depthFile) Append(out, "  depth file   %s\n", overview.depthFile->c_str());
    if (overview.depth) PrintDepth(*overview.depth, overview.depthOptions, out);
    if (overview.noDepth) {
      Append(out, "depth: none (name one with --depth-channel, or give --depth-file)\n");
    }
    PrintIds("object IDs", overview.objectIds, out);
    PrintIds("material IDs", overview.materialIds, out);
    PrintMattes(overview, out);
    if (overview.planesError) Append(out, "planes: %s\n", overview.planesError->c_str());
  }
  if (overview.pixel) PrintPixel(overview, *overview.pixel, out);
  if (overview.usable) {
    const std::optional<DepthSpread>& spread =
        overview.depth ? overview.depth->spread : std::optional<DepthSpread>();
    // Focus on the pixel asked about when it shows geometry.
    const FocusPixel* pixel =
        overview.pixel && overview.pixelHasGeometry ? &overview.pixel->at : nullptr;
    Append(out, "suggested: %s\n",
           Suggestion(options, overview.depthOptions, pixel, spread).c_str());
  } else {
    Append(out, "suggested: none until the roles above are found\n");
  }
  return out;
}

}  // namespace kestrion
