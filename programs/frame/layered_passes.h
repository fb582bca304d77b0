// layered_passes.h: a frame filtered in depth layers, so that edges come out
// as a lens makes them: an in-focus object does not glow into the blurred
// background behind it, and a blurred object in front of a sharp background
// spreads over it instead of ending at a hard silhouette.
//
// The module's blur gathers: each pixel takes the mean of a window sized by
// its own depth, whatever lies nearer or farther in that window. Here the
// frame is cut instead into layers by the radius the module gives its pixels
// (a whole number from 0 to the size, on either side of the focal plane), as
// in the layered and "pyramidal" depth-of-field methods of the literature
// (Barsky's partition of an image into depth sub-images; Kraus and
// Strengert's blurred layers with disoccluded pixels filled from the
// normalised blur of the layers behind):
//
//   - each layer holds its own pixels' premultiplied colour, alpha and
//     coverage (1 on its pixels, 0 elsewhere), and is filtered through the
//     module with every pixel of the pass at the layer's radius, so that its
//     colour spreads over its neighbours weighted by its coverage; the
//     in-focus layer (radius 0) is taken as it is;
//   - the layers are laid over one another from far to near, each over what
//     lies behind it by its blurred alpha;
//   - what lies behind a layer has holes where nearer layers' pixels were
//     cut out. Behind the layers beyond the focal plane (and the in-focus
//     one) it is normalised by its own blurred coverage: the farther layers
//     have larger radii and have spread into every hole a nearer layer can
//     uncover. A layer before the focal plane can uncover more than the
//     layers behind it spread into, so what lies behind it is completed by
//     the blur of that stack at the layer's own radius, normalised by its
//     blurred coverage: no dark fringe where a near edge thins out;
//   - in-focus pixels that no nearer layer reaches keep their values
//     exactly, as the module leaves them.
//
// Each layer's pass runs on the part of the frame its blur can reach (its
// pixels' bounds widened by twice its radius), where every window the
// layer's spread needs is clipped exactly as on the whole frame. The passes
// are FilterPlanes's band passes, so HDR values keep their precision and
// straight or premultiplied alpha is handled as in the default path.
#pragma once

#include <cstdint>
#include <vector>

#include "base/abort_check.h"
#include "formats/frame_planes.h"
#include "frame/filter_session.h"
#include "frame/module_passes.h"

namespace kestrion {

// FilterPlanes's work, layered as above. The result's `layers` counts the
// depth layers (the in-focus one included), `passes` and `channelBands` the
// module passes of all of them. The progress observer hears the layers as
// the passes: layer `pass` of `passes`. Throws what FilterPlanes throws.
FilteredPlanes FilterPlanesLayered(FocusFilterSession& session, float focalDepth,
                                   const FramePlanes& frame, const std::vector<float>& rendererZ,
                                   int32_t frameNumber, const PassOptions& options = {},
                                   const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
