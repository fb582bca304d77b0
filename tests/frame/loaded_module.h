// loaded_module.h: what the frame library's tests share: the built module,
// loaded once, and pass options that only name the frame.
#pragma once

#include <memory>

#include "frame/filter_session.h"
#include "frame/focus_record.h"
#include "frame/module_passes.h"

namespace kestrion::frame_tests {

inline const FilterModule& Module() {
  static const std::unique_ptr<FilterModule> module = LoadFilterModule(KESTRION_MODULE_PATH);
  return *module;
}

// The record of a filter focused on the node "Focus" with this blur.
inline FocusConfig RecordOf(float range, float size, SourceSelection source = {}) {
  FocusSettings settings;
  settings.focalName = "Focus";
  settings.range = range;
  settings.size = size;
  settings.source = source;
  return ComposeRecord(settings);
}

inline PassOptions Named(const char* name) {
  PassOptions options;
  options.frameName = name;
  return options;
}

}  // namespace kestrion::frame_tests
