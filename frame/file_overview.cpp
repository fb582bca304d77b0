#include "frame/file_overview.h"

#include <ImfStandardAttributes.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <map>

#include "base/errors.h"
#include "formats/exr_document.h"
#include "frame/cryptomatte.h"
#include "frame/exr_planes.h"
#include "frame/render_input.h"
#include "frame/render_settings.h"

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
std::string PartTitle(const ExrDocument& document, int index) {
  const std::string name = document.parts[index].Name();
  return "part " + std::to_string(index) + (name.empty() ? "" : " \"" + ShownName(name) + "\"");
}

std::string RefText(const ExrDocument& document, const ChannelRef& ref) {
  const ExrChannel* channel = document.parts[ref.part].Find(ref.name);
  return ShownName(ref.name) + " (" + PixelTypeName(channel->Type()) + ", " +
         PartTitle(document, ref.part) + ")";
}

// The message of a role error without the file name, first line only.
std::string Reason(const CommandError& error, const std::string& path) {
  std::string message = error.what();
  const std::string prefix = ShownName(path) + ": ";
  if (message.rfind(prefix, 0) == 0) message = message.substr(prefix.size());
  return message.substr(0, message.find('\n'));
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

void PrintParts(const ExrDocument& document, std::string& out) {
  for (size_t i = 0; i < document.parts.size(); ++i) {
    const ExrPart& part = document.parts[i];
    const Imf::Header& header = part.header;
    Append(out, "%s: %s, %s, %zu channel%s\n", PartTitle(document, int(i)).c_str(),
           part.Tiled() ? "tiled" : "scanline", CompressionName(header.compression()).c_str(),
           part.channels.size(), part.channels.size() == 1 ? "" : "s");
    Append(out, "  data window    %s\n", WindowText(header.dataWindow()).c_str());
    Append(out, "  display window %s\n", WindowText(header.displayWindow()).c_str());
    Append(out, "  pixel aspect   %s\n", Number(header.pixelAspectRatio()).c_str());
    std::map<std::string, std::string> layers;
    std::vector<std::string> order;
    for (const ExrChannel& channel : part.channels) {
      const std::string layer = LayerOf(channel.name);
      if (!layers.count(layer)) order.push_back(layer);
      std::string& text = layers[layer];
      text += (text.empty() ? "" : ", ") +
              ShownName(layer.empty() ? channel.name : channel.name.substr(layer.size() + 1)) +
              " " + PixelTypeName(channel.Type());
    }
    for (const std::string& layer : order) {
      Append(out, "  layer %-8s %s\n", layer.empty() ? "(root)" : ShownName(layer).c_str(),
             layers[layer].c_str());
    }
  }
}

void PrintRoles(const ExrDocument& document, const ChannelRoles& roles, std::string& out) {
  std::string colour;
  for (const ChannelRef& ref : roles.colour) {
    colour += (colour.empty() ? "" : ", ") + ShownName(ref.name);
  }
  Append(out, "roles (%s, layer %s):\n", PartTitle(document, roles.colourPart).c_str(),
         roles.colourLayer.empty() ? "(root)" : ShownName(roles.colourLayer).c_str());
  Append(out, "  colour       %s\n", colour.c_str());
  auto line = [&](const char* role, const std::optional<ChannelRef>& ref) {
    Append(out, "  %-12s %s\n", role, ref ? RefText(document, *ref).c_str() : "none");
  };
  line("alpha", roles.alpha);
  line("depth", roles.depth);
  line("object ID", roles.objectId);
  line("material ID", roles.materialId);
}

// The depths with geometry, as the suggestion uses them.
struct DepthSpread {
  float median = 0.0f;
  float low = 0.0f;  // the 10th and 90th percentiles
  float high = 0.0f;
};

// What the depth means under `options`, in words: "infinite, NaN or from
// 1e+09 up".
std::string BackgroundRule(const DepthOptions& options) {
  std::string rule = "infinite, NaN or from " + Number(options.backgroundFrom) + " up";
  if (options.backgroundDepth) rule += ", or " + Number(*options.backgroundDepth) + " as stored";
  return rule;
}

// The range of the depths with geometry and the share of background; the
// depths' spread, for a suggested focus and range.
std::optional<DepthSpread> PrintDepth(const std::vector<float>& z, const DepthOptions& options,
                                      std::string& out) {
  std::vector<float> geometry;
  for (float value : z) {
    if (value > Z_BACKGROUND) geometry.push_back(-value);
  }
  const double background =
      100.0 * static_cast<double>(z.size() - geometry.size()) / static_cast<double>(z.size());
  if (geometry.empty()) {
    Append(out, "depth: no geometry (all %zu pixels background: %s)\n", z.size(),
           BackgroundRule(options).c_str());
    return std::nullopt;
  }
  const auto [min, max] = std::minmax_element(geometry.begin(), geometry.end());
  Append(out, "depth: %s to %s, background %s%% of pixels (%s)\n", Number(*min).c_str(),
         Number(*max).c_str(), Number(background).c_str(), BackgroundRule(options).c_str());
  auto percentile = [&geometry](size_t share) {
    const auto at = geometry.begin() + static_cast<ptrdiff_t>((geometry.size() - 1) * share / 100);
    std::nth_element(geometry.begin(), at, geometry.end());
    return *at;
  };
  DepthSpread spread;
  spread.low = percentile(10);
  spread.high = percentile(90);
  spread.median = percentile(50);
  return spread;
}

template <typename Id>
void PrintIds(const char* what, const std::optional<std::vector<Id>>& ids, std::string& out) {
  if (!ids) return;
  std::map<uint32_t, size_t> counts;
  for (Id id : *ids) ++counts[id];
  Append(out, "%s: %zu value%s:", what, counts.size(), counts.size() == 1 ? "" : "s");
  size_t listed = 0;
  for (const auto& [id, count] : counts) {
    if (listed++ == IDS_LISTED) {
      Append(out, " ... and %zu more", counts.size() - IDS_LISTED);
      break;
    }
    Append(out, " %u (%zu px)", id, count);
  }
  Append(out, "\n");
}

// Each Cryptomatte's names with the pixels each covers most, so that a
// user can pick a name for --focus-object.
void PrintMattes(const ExrDocument& document, const ChannelRoles& roles, std::string& out,
                 const AbortCheck& abort) {
  for (const CryptoMatte& matte : FindCryptoMattes(document)) {
    std::map<uint32_t, size_t> pixels;
    for (uint32_t id : TopRankedIds(document, roles, matte, abort)) ++pixels[id];
    Append(out, "Cryptomatte %s (%s, %zu ranks): %zu name%s:", ShownName(matte.name).c_str(),
           PartTitle(document, matte.part).c_str(), matte.ranks.size(), matte.manifest.size(),
           matte.manifest.size() == 1 ? "" : "s");
    size_t listed = 0;
    for (const auto& [name, id] : matte.manifest) {
      if (listed++ == IDS_LISTED) {
        Append(out, " ... and %zu more", matte.manifest.size() - IDS_LISTED);
        break;
      }
      const auto count = pixels.find(id);
      Append(out, " %s (%zu px)", ShownName(name).c_str(),
             count == pixels.end() ? size_t{0} : count->second);
    }
    Append(out, "%s\n", ObjectMatte(matte) ? " (objects: --focus-object NAME)" : "");
  }
}

void PrintPixel(const ExrDocument& document, int x, int y, std::string& out) {
  for (size_t i = 0; i < document.parts.size(); ++i) {
    const ExrPart& part = document.parts[i];
    const auto index = part.IndexOf(x, y);
    if (!index) {
      Append(out, "  %s: outside the data window\n", PartTitle(document, int(i)).c_str());
      continue;
    }
    Append(out, "  %s:\n", PartTitle(document, int(i)).c_str());
    for (const ExrChannel& channel : part.channels) {
      Append(out, "    %-24s %s\n", ShownName(channel.name).c_str(),
             Number(channel.ExactValue(*index)).c_str());
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
    words += " " + option + (value.empty() ? "" : " " + ShellWord(value));
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
std::string Suggestion(const InspectOptions& options, const DepthOptions& depth, bool focusOnPixel,
                       std::optional<FocusPixel> pixel, const std::optional<DepthSpread>& spread) {
  const std::filesystem::path input(options.input);
  const std::string output = (input.parent_path() / (input.stem().string() + ".dof.exr")).string();
  std::string line = "kestrion render " + ShellWord(options.input) + " -o " + ShellWord(output);
  std::string why;
  // Focus on the pixel asked about when it shows geometry, else on the
  // median depth.
  if (focusOnPixel) {
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

std::string FileOverview(const InspectOptions& options, const AbortCheck& abort) {
  std::string out;
  CheckDepthOptions(options.depth.For(false));
  const ExrDocument document = ReadExrDocument(options.input, {}, abort);
  std::optional<FocusPixel> pixel;
  int fileX = 0, fileY = 0;
  if (options.pixel) {
    pixel = ParseFocusPixel(*options.pixel, "--pixel");
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

  Append(out, "%s: %zu part%s\n", ShownName(options.input).c_str(), document.parts.size(),
         document.parts.size() == 1 ? "" : "s");
  PrintParts(document, out);

  RoleOptions roleOptions = options.roles;
  roleOptions.requireDepth = false;
  std::optional<ChannelRoles> roles;
  try {
    roles = FindChannelRoles(document, roleOptions);
  } catch (const CommandError& e) {
    Append(out, "roles: not found: %s\n", Reason(e, options.input).c_str());
  }
  FramePlanes planes;
  std::optional<DepthSpread> spread;
  std::vector<float> z;
  DepthOptions depth = options.depth.For(false);
  bool usable = false;
  if (roles) {
    PrintRoles(document, *roles, out);
    for (const std::string& line : roles->warnings) Append(out, "warning: %s\n", line.c_str());
    try {
      planes = ExtractPlanes(document, *roles, abort);
      if (!options.depthFile.empty()) {
        InputOptions input;
        input.roles = options.roles;
        input.depthFile = options.depthFile;
        bool normalisedMap = false;
        planes.depth = ReadDepthFile(input, ResourceLimits{}, planes.width, planes.height,
                                     normalisedMap, abort);
        depth = options.depth.For(normalisedMap);
        Append(out, "  depth file   %s\n", options.depthFile.c_str());
      }
      if (planes.depth) {
        CheckDepthOptions(depth);
        z = RendererZ(*planes.depth, depth, abort);
        spread = PrintDepth(z, depth, out);
        for (const std::string& line :
             DepthWarnings(*planes.depth, planes.alpha, depth, options.input, abort)) {
          Append(out, "warning: %s\n", line.c_str());
        }
      } else {
        Append(out, "depth: none (name one with --depth-channel, or give --depth-file)\n");
      }
      PrintIds("object IDs", planes.objectId, out);
      PrintIds("material IDs", planes.materialId, out);
      PrintMattes(document, *roles, out, abort);
      usable = planes.depth.has_value();
    } catch (const CommandError& e) {
      // Only what is wrong with the file is shown; a wrong option or an
      // abort ends the command.
      if (e.ExitCode() != EXIT_FAILED) throw;
      Append(out, "planes: %s\n", Reason(e, options.input).c_str());
    }
  }
  if (pixel) {
    Append(out, "pixel (%d, %d), file coordinates (%d, %d):\n", pixel->x, pixel->y, fileX, fileY);
    PrintPixel(document, fileX, fileY, out);
  }
  if (usable) {
    const auto index = document.parts[roles->colourPart].IndexOf(fileX, fileY);
    const bool focusOnPixel = pixel && index && z[*index] > Z_BACKGROUND;
    Append(out, "suggested: %s\n", Suggestion(options, depth, focusOnPixel, pixel, spread).c_str());
  } else {
    Append(out, "suggested: none until the roles above are found\n");
  }
  return out;
}

}  // namespace kestrion
