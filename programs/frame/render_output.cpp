#include "frame/render_output.h"

#include <ImfChannelList.h>
#include <ImfIntAttribute.h>
#include <ImfPartType.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <utility>

#include "base/abort_check.h"
#include "base/errors.h"
#include "base/file_names.h"
#include "base/numbers.h"
#include "formats/exr_document.h"
#include "formats/image.h"
#include "formats/review_io.h"
#include "frame/exr_planes.h"

namespace kestrion {

namespace {

constexpr Imf::Compression COMPRESSIONS[] = {
    Imf::NO_COMPRESSION,   Imf::RLE_COMPRESSION,   Imf::ZIPS_COMPRESSION, Imf::ZIP_COMPRESSION,
    Imf::PIZ_COMPRESSION,  Imf::PXR24_COMPRESSION, Imf::B44_COMPRESSION,  Imf::B44A_COMPRESSION,
    Imf::DWAA_COMPRESSION, Imf::DWAB_COMPRESSION};

ExrChannel FloatChannel(const std::string& name, const Plane& plane) {
  return {name, std::vector<float>(plane.begin(), plane.end())};
}

// One part of float R, G, B, A and Z over the planes, for input that was no
// OpenEXR document; the depth as `planes` hold it. Colour is written
// premultiplied, as OpenEXR colour is: straight colour is multiplied by
// its alpha.
ExrDocument DocumentOf(FramePlanes planes, const AbortCheck& abort) {
  if (planes.alpha && planes.alphaMode == AlphaMode::Straight) {
    for (Plane& colour : planes.colour) {
      for (size_t i = 0; i < colour.size(); ++i) {
        abort.Poll(i);
        colour[i] *= (*planes.alpha)[i];
      }
    }
    planes.alphaMode = AlphaMode::Premultiplied;
  }
  ExrDocument document;
  ExrPart part;
  part.header = Imf::Header(planes.width, planes.height);
  // Written as a part of a (one-part) multi-part file, which needs its type.
  part.header.setType(Imf::SCANLINEIMAGE);
  std::vector<ExrChannel> channels;
  const char* names[] = {"R", "G", "B"};
  for (size_t c = 0; c < 3 && c < planes.colour.size(); ++c) {
    channels.push_back(FloatChannel(names[c], planes.colour[c]));
  }
  if (planes.alpha) channels.push_back(FloatChannel("A", *planes.alpha));
  if (planes.depth) channels.push_back(FloatChannel("Z", *planes.depth));
  // The header lists channels alphabetically, and so does the part.
  std::sort(channels.begin(), channels.end(),
            [](const ExrChannel& a, const ExrChannel& b) { return a.name < b.name; });
  for (const ExrChannel& channel : channels) {
    part.header.channels().insert(channel.name, Imf::Channel(Imf::FLOAT));
  }
  part.channels = std::move(channels);
  document.parts.push_back(std::move(part));
  return document;
}

// Records a layered render's layers in the part's header.
void MarkLayers(ExrPart& part, int32_t layers) {
  if (layers > 0) part.header.insert(LAYERS_ATTRIBUTE, Imf::IntAttribute(layers));
}

}  // namespace

OutputFormat OutputFormatOfName(const std::string& path) {
  const std::string extension = LowercaseExtension(path);
  if (extension == ".exr") return OutputFormat::Exr;
  if (extension == ".png") return OutputFormat::Png;
  if (extension == ".tif" || extension == ".tiff") return OutputFormat::Tiff;
  throw UsageError(ShownName(path) +
                   ": unknown image format (use a .exr, .png, .tif or .tiff file name)");
}

Imf::Compression ParseCompression(const std::string& name, const std::string& option) {
  std::string choices;
  for (Imf::Compression compression : COMPRESSIONS) {
    if (CompressionName(compression) == name) return compression;
    choices += (choices.empty() ? "" : ", ") + CompressionName(compression);
  }
  throw UsageError(option + ": unknown compression " + QuotedValue(name) + " (one of " + choices +
                   ")");
}

std::array<float, 3> ParseFlattenColour(const std::string& text, const std::string& option) {
  const std::string choices = " is not a colour (give black, white, grey, #RRGGBB or linear R,G,B)";
  if (text == "black") return {0.0f, 0.0f, 0.0f};
  if (text == "white") return {1.0f, 1.0f, 1.0f};
  std::string hex = text;
  if (text == "grey" || text == "gray") hex = "#808080";
  std::array<float, 3> colour{};
  if (hex.size() == 7 && hex[0] == '#') {
    for (int c = 0; c < 3; ++c) {
      const char* first = hex.data() + 1 + 2 * c;
      unsigned byte = 0;
      const auto [end, error] = std::from_chars(first, first + 2, byte, 16);
      if (error != std::errc() || end != first + 2) {
        throw UsageError(option + ": " + QuotedValue(text) + choices);
      }
      colour[c] = SrgbDecode(static_cast<float>(byte) / 255.0f);
    }
    return colour;
  }
  size_t start = 0;
  for (int c = 0; c < 3; ++c) {
    const size_t end = c < 2 ? text.find(',', start) : text.size();
    if (end == std::string::npos) throw UsageError(option + ": " + QuotedValue(text) + choices);
    const Parsed<float> value =
        ParseFloat<float>(std::string_view(text).substr(start, end - start), 0.0f, 1.0e6f);
    if (!value.value || (c == 2 && text.find(',', start) != std::string::npos)) {
      throw UsageError(option + ": " + QuotedValue(text) + choices);
    }
    colour[c] = *value.value;
    start = end + 1;
  }
  return colour;
}

bool ParseDisplayClamp(const std::string& text, const std::string& option) {
  if (text == "clip") return false;
  if (text == "soft") return true;
  throw UsageError(option + ": " + QuotedValue(text) + " is not one of clip, soft");
}

void CheckReviewLook(const std::string& output, const ReviewLook& look,
                     const SettingLabels& labels) {
  if (!look.Plain() && OutputFormatOfName(output) == OutputFormat::Exr) {
    throw UsageError(labels.flatten + ", " + labels.exposure + ", " + labels.gamma + " and " +
                     labels.display +
                     " are for PNG and TIFF review images; an OpenEXR output keeps the frame's "
                     "light as it is");
  }
}

void WriteRenderOutput(RenderInput& input, const FramePlanes& filtered, OutputFile& output,
                       const OutputOptions& options, const AbortCheck& abort) {
  const OutputFormat format = OutputFormatOfName(output.Target());
  output.Write([&](const std::string& path) {
    switch (format) {
      case OutputFormat::Exr:
        if (input.document) {
          ReplacePlanes(*input.document, input.roles, filtered, abort);
          MarkLayers(input.document->parts[input.roles.colourPart], options.layers);
          WriteExrDocument(*input.document, path, options.compression, abort);
        } else {
          FramePlanes whole = filtered;
          if (!whole.depth) whole.depth = input.planes.depth;
          ExrDocument document = DocumentOf(std::move(whole), abort);
          MarkLayers(document.parts.front(), options.layers);
          WriteExrDocument(document, path, options.compression, abort);
        }
        break;
      case OutputFormat::Png:
        WriteReviewImage(filtered, path, ReviewFormat::Png, options.bitDepth, options.review,
                         abort);
        break;
      case OutputFormat::Tiff:
        WriteReviewImage(filtered, path, ReviewFormat::Tiff, options.bitDepth, options.review,
                         abort);
        break;
    }
  });
}

}  // namespace kestrion
