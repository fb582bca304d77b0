// view_config.h: a small colour configuration the view tests write: the
// sRGB curve as a display's plain view, a view two stops darker, a flat
// display that shows linear values, and a look that doubles the light.
#pragma once

#include <string>

namespace kestrion::test_files {

inline const char* const SMALL_VIEW_CONFIG = R"(ocio_profile_version: 2

roles:
  default: linear
  scene_linear: linear

file_rules:
  - !<Rule> {name: Default, colorspace: default}

displays:
  sRGB:
    - !<View> {name: Standard, colorspace: srgb}
    - !<View> {name: Dim, colorspace: dim}
  Flat:
    - !<View> {name: Raw, colorspace: linear}

active_displays: []
active_views: []

looks:
  - !<Look>
    name: Brighter
    process_space: linear
    transform: !<MatrixTransform> {matrix: [2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1]}

colorspaces:
  - !<ColorSpace>
    name: linear
  - !<ColorSpace>
    name: srgb
    from_scene_reference: !<ExponentWithLinearTransform> {gamma: 2.4, offset: 0.055, direction: inverse}
  - !<ColorSpace>
    name: dim
    from_scene_reference: !<GroupTransform>
      children:
        - !<MatrixTransform> {matrix: [0.25, 0, 0, 0, 0, 0.25, 0, 0, 0, 0, 0.25, 0, 0, 0, 0, 1]}
        - !<ExponentWithLinearTransform> {gamma: 2.4, offset: 0.055, direction: inverse}
)";

}  // namespace kestrion::test_files
