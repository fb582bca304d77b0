// view_config.h: a small colour configuration the view tests use
// (small_view.ocio beside this file): the sRGB curve as a display's plain
// view, a view two stops darker, a flat display that shows linear values,
// and a look that doubles the light.
#pragma once

#include <string>

namespace kestrion::test_files {

inline const std::string SMALL_VIEW_CONFIG_PATH =
    std::string(KESTRION_SOURCE_DIR) + "/tests/support/small_view.ocio";

}  // namespace kestrion::test_files
