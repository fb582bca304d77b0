// filter_runner.h: the host side of one filtering job. kestrion loads the
// module by file name as the host's pipeline does, creates a filter, hands
// it the configuration record and runs one frame through it with a
// progress window that reports to stderr and answers the abort query with
// "abort" once the user has pressed Ctrl-C.
#pragma once

#include <memory>
#include <string>

#include "app/image.h"
#include "host/filter_pipeline.h"
#include "kestrion/focus_config.h"

namespace kestrion {

inline constexpr const char* MODULE_FILE_NAME = "KESTRION.FLT";
inline constexpr const char* MODULE_ENVIRONMENT = "KESTRION_MODULE";

// The module to load: `commandLine` when given, else $KESTRION_MODULE when
// set, else KESTRION.FLT beside the running executable.
std::string ResolveModulePath(const std::string& commandLine);

// Throws a FileError naming the module when it cannot be loaded.
std::unique_ptr<FilterModule> LoadFilterModule(const std::string& path);

struct FilterJob {
  const FocusConfig* record = nullptr;
  Image* frame = nullptr;  // filtered in place
  std::string frameName;   // names the frame in messages
  bool showProgress = true;
};

// Runs the job through a new filter of the module. Message boxes the filter
// shows are printed to stderr as they appear. Throws Aborted() after a
// Ctrl-C, and a Failure when the filter refuses the record, needs a channel
// the frame lacks or does not process the frame.
void RunFocusFilter(const FilterModule& module, const FilterJob& job);

}  // namespace kestrion
