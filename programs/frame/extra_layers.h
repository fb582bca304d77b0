// extra_layers.h: the further layers of an OpenEXR file filtered like the
// colour (--layers): the ones named, or with "all" every layer that holds
// light: R, G, B (and A) in the colour's data window and view layer, not a
// pass of data (normals, positions, IDs, depth, Cryptomattes).
#pragma once

#include "formats/exr_document.h"
#include "frame/channel_roles.h"

namespace kestrion {

// Appends the layers' channels to roles.colour and their labels to
// roles.extraLayers. Throws a UsageError listing the parts for a layer
// that is missing, ambiguous, the colour layer itself or in a part of
// another data window.
void AddExtraLayers(const ExrDocument& document, const RoleOptions& options,
                    const SettingLabels& labels, ChannelRoles& roles);

}  // namespace kestrion
