// progress_window.h: forwards to the host's progress window under its
// former path and name, for sources not yet moved over (bench/,
// tests/render/). Remove with its last user.
#pragma once

#include "host/progress_window.h"

namespace platform {
using ::ProgressWindow;
}
