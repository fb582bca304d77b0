// loaded_module.h: what the frame library's tests share: the built module,
// loaded once, and pass options that only name the frame.
#pragma once

#include <memory>

#include "frame/filter_session.h"
#include "frame/module_passes.h"

namespace kestrion::frame_tests {

inline const FilterModule& Module() {
  static const std::unique_ptr<FilterModule> module = LoadFilterModule(KESTRION_MODULE_PATH);
  return *module;
}

inline PassOptions Named(const char* name) {
  PassOptions options;
  options.frameName = name;
  return options;
}

}  // namespace kestrion::frame_tests
