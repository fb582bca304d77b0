// exr_planes.h: between an OpenEXR document and the float planes a render
// filters (frame_planes.h), both ways.
#pragma once

#include "base/abort_check.h"
#include "formats/exr_document.h"
#include "formats/frame_planes.h"
#include "frame/channel_roles.h"

namespace kestrion {

// The colour part's data window as planes: the colour channels (named
// "R", "ViewLayer.Combined.G", "part:N.X" ... in colourNames), alpha,
// depth and the IDs as the roles give them. Depth and IDs in other parts
// are mapped by pixel coordinates: a pixel their data window does not hold
// has depth +infinity (no geometry) and ID 0. Colour is premultiplied.
// IDs must be whole numbers in range (object 0..65535, material 0..255):
// otherwise a FileError names the channel and the pixel.
FramePlanes ExtractPlanes(const ExrDocument& document, const ChannelRoles& roles,
                          const AbortCheck& abort = NeverAbort());

// One channel over the colour part's data window, as ExtractPlanes maps
// it: `outside` where the channel's part does not hold a pixel. A FLOAT
// channel's samples are kept bit for bit.
Plane ChannelPlane(const ExrDocument& document, const ChannelRoles& roles, const ChannelRef& ref,
                   float outside, const AbortCheck& abort = NeverAbort());

// Writes `filtered`'s colour planes (and alpha, when it holds one and the
// roles have alpha) into the channels the roles name, each in its own pixel
// type; every other channel and all headers stay as they are. `filtered`
// must hold one plane per colour channel over the colour part's data
// window (std::invalid_argument otherwise).
void ReplacePlanes(ExrDocument& document, const ChannelRoles& roles, const FramePlanes& filtered,
                   const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
