// render_output.h: where `kestrion render` puts its result.
//
// OpenEXR output from OpenEXR input is the input document with the colour
// layer and alpha replaced by the filtered ones, in their own pixel types,
// and everything else (parts, layers, depth, IDs, attributes, windows)
// unchanged; its compression is the input's unless one is asked for. From
// PNG or TIFF input it is one part of float R, G, B (and A), premultiplied,
// and Z: the filtered planes' depth when they hold one (distances, +infinity
// for no geometry), else the input's.
// PNG (8 or 16 bits) and TIFF (16 bits) are review images: sRGB-encoded,
// straight alpha, the planes' rectangle (an OpenEXR file's data window).
#pragma once

#include <ImfCompression.h>

#include <array>
#include <optional>
#include <string>

#include "base/abort_check.h"
#include "formats/frame_planes.h"
#include "formats/output_file.h"
#include "formats/review_io.h"
#include "frame/render_input.h"

namespace kestrion {

enum class OutputFormat { Exr, Png, Tiff };

// By the name's extension (.exr, .png, .tif, .tiff, any case); throws a
// UsageError for anything else.
OutputFormat OutputFormatOfName(const std::string& path);

// "none", "rle", "zips", "zip", "piz", "pxr24", "b44", "b44a", "dwaa",
// "dwab"; throws a UsageError naming `option` and the choices for anything
// else.
Imf::Compression ParseCompression(const std::string& name, const std::string& option);

// The attribute of an OpenEXR output's colour part that says it was filtered
// in layers (layered_passes.h): the count of depth layers.
inline constexpr const char* LAYERS_ATTRIBUTE = "kestrionLayers";

struct OutputOptions {
  std::optional<Imf::Compression> compression;  // OpenEXR; unset: the input's
  int32_t bitDepth = 16;                        // PNG: 8 or 16; TIFF: 16
  ReviewLook review;                            // PNG and TIFF (review_io.h)
  // A layered render's depth layers, recorded in an OpenEXR output as
  // LAYERS_ATTRIBUTE; 0 for the default render, which records nothing.
  int32_t layers = 0;
};

// "black", "white", "grey" (or "gray"), "#RRGGBB" (display colour, sRGB) or
// "R,G,B" (linear light, each at least 0): the linear colour. Throws a
// UsageError naming `option`.
std::array<float, 3> ParseFlattenColour(const std::string& text, const std::string& option);
// "clip" or "soft": whether the display clamp is soft. Throws a UsageError
// naming `option`.
bool ParseDisplayClamp(const std::string& text, const std::string& option);
// Throws a UsageError, naming the look's settings with `labels`, when a
// look other than the plain one is asked of an output that is no review
// image.
void CheckReviewLook(const std::string& output, const ReviewLook& look,
                     const SettingLabels& labels);

// Writes the filtered planes into the output's temporary file. `input` is
// consumed: its document takes the filtered planes. Errors name the target.
// Asks `abort` as the writers do.
void WriteRenderOutput(RenderInput& input, const FramePlanes& filtered, OutputFile& output,
                       const OutputOptions& options, const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
