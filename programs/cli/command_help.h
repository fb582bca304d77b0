// command_help.h: the text `kestrion render --help` and `kestrion studio
// --help` print after their options: what the input holds, how the blur
// grows, what the output is, and how shots and the studio go.
#pragma once

namespace kestrion {

inline constexpr const char* RENDER_FOOTER = R"(
OpenEXR input, single- or multi-part: colour from the root R, G, B (A) or
one layer's (ViewLayer.Combined.*, rgba.*); depth from Z, depth.Z,
<layer>.Depth.Z, <layer>.Z or depth; IDs from objectId / materialId or
<layer>.IndexOB.X / IndexMA.X. Choose explicitly with --part, --layer and
the channel options; `kestrion inspect FILE` shows what a file holds.
Depth is the distance in front of the camera unless --depth-mode says
otherwise; infinite, NaN and distances from 1e9 up (--background-from) are
background: no geometry, always fully blurred. The focal plane is at --focus-depth, at the depth seen at --focus-pixel X,Y
(0,0 is the frame's top-left pixel), or at the median depth of an object's
pixels (--focus-object ID, or a name in the file's Cryptomatte). A pixel at
depth distance d from the focal plane is blurred with a radius of
min(d x size / range, size) pixels, rounded down; background with size.
--size 2% is 2 % of the frame's width. --range, --size and --focus-depth
take keys F:V,F:V,... (linear between keys, held outside them);
--focus-pixel takes F:X,Y;F:X,Y (the last key at or before the frame).
--frame N says which frame of a shot this file is.
Output: .exr keeps every part, layer, channel and attribute of the input
with the colour and alpha filtered; .png (8/16-bit) and .tif (16-bit) are
sRGB review images with straight alpha, or shown through an OpenColorIO
view (--ocio-config, $OCIO or Blender's config). The output is replaced only when
the run succeeds. Details: docs/app.md.)";

inline constexpr const char* SHOT_FOOTER = R"(
A shot: INPUT with a frame pattern (frame.####.exr, frame.%04d.exr,
frame.@@@@.exr) renders every frame of --frames (default: every input frame
on disk) as its own kestrion process, --jobs at a time, into -o's pattern.
--chunk K/N renders the K-th of N slices (in a Slurm job array:
--chunk $SLURM_ARRAY_TASK_ID/N or --chunk slurm/N). Exit codes: 0 all done,
1 some frame failed, 2 usage, 130/143/129 interrupted by SIGINT/SIGTERM/
SIGHUP. Details: docs/shots.md.)";

inline constexpr const char* STUDIO_FOOTER = R"(
INPUT is a frame or a shot pattern as render takes it, with render's
options. The first line of stdout is the page's address on 127.0.0.1 with
the run's secret; Ctrl-C ends the studio. The page shows the module's own
control dialog beside the frame filtered through the module after every
change; Save writes the settings file of --save and shows the kestrion
render command line that writes what the preview shows. Details:
docs/studio.md.)";

}  // namespace kestrion
