#include "app/filter_runner.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/allocation_record.h"
#include "app/errors.h"
#include "app/interrupt.h"
#include "app/memory_budget.h"
#include "app/progress_report.h"
#include "host/progress_window.h"
#include "platform/message_box.h"

namespace kestrion {

namespace {

// Prints every message box the filter shows while it lives.
class MessageBoxPrinter {
 public:
  MessageBoxPrinter() {
    platform::SetMessageBoxObserver([](const platform::ShownMessage& message) {
      std::fprintf(stderr, "kestrion: %s: %s\n", message.caption.c_str(), message.text.c_str());
    });
  }
  ~MessageBoxPrinter() { platform::SetMessageBoxObserver({}); }
  MessageBoxPrinter(const MessageBoxPrinter&) = delete;
  MessageBoxPrinter& operator=(const MessageBoxPrinter&) = delete;
};

const char* ChannelName(uint32_t code) {
  switch (code) {
    case CHANNEL_Z:
      return "Z (depth)";
    case CHANNEL_MTL_ID:
      return "material-effects ID";
    default:
      return "object ID";
  }
}

void CheckChannels(ImageFilter& filter, Image& frame, const std::string& frameName) {
  uint32_t type = 0;
  BitmapStorage& storage = frame.Storage();
  const uint32_t required = filter.ChannelsRequired();
  for (uint32_t code : {CHANNEL_Z, CHANNEL_MTL_ID, CHANNEL_OBJ_ID}) {
    if ((required & code) && !storage.GetChannel(code, type)) {
      throw FileError(frameName, std::string("the filter needs a ") + ChannelName(code) +
                                     " channel, which the image lacks");
    }
  }
}

}  // namespace

std::string ResolveModulePath(const std::string& commandLine) {
  if (!commandLine.empty()) return commandLine;
  if (const char* environment = std::getenv(MODULE_ENVIRONMENT); environment && *environment) {
    return environment;
  }
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return MODULE_FILE_NAME;
  return (self.parent_path() / MODULE_FILE_NAME).string();
}

std::unique_ptr<FilterModule> LoadFilterModule(const std::string& path) {
  std::string error;
  auto module = FilterModule::Load(path, error);
  // The pipeline's messages name the file already.
  if (!module)
    throw error.empty() ? FileError(path, "cannot load the filter module") : Failure(error);
  return module;
}

FocusFilterSession::FocusFilterSession(const FilterModule& module, const FocusConfig& record)
    : filter(module.CreateFilter()) {
  if (!filter) throw FileError(module.Path(), "the module could not create a filter");
  if (filter->EvaluateConfigure() != sizeof(FocusConfig)) {
    throw FileError(module.Path(), "the filter's configuration record is not " +
                                       std::to_string(sizeof(FocusConfig)) + " bytes");
  }
  FocusConfig copy = record;
  if (!filter->LoadConfigure(&copy)) {
    throw FileError(module.Path(), "the filter rejected the configuration record");
  }
  // kestrion runs frames as the host application does, whose renderer keeps
  // one frame's memory for the next.
  KeepFrameMemory();
}

FocusFilterSession::~FocusFilterSession() = default;

void FocusFilterSession::KeyTrack(TrackId id, const FloatKeys& keys) {
  if (!filter->Node()) filter->FilterUpdate();
  ITrackViewNode* node = filter->Node();
  Control* control = node ? node->GetController(id) : nullptr;
  if (!control) throw Failure("the filter module publishes no track to key");
  control->SetKeys(KeysAtTicks(keys));
}

float FocusFilterSession::TrackValue(TrackId id, int32_t frameNumber, float unkeyed) const {
  ITrackViewNode* node = filter->Node();
  Control* control = node ? node->GetController(id) : nullptr;
  if (!control) return unkeyed;
  float value = unkeyed;
  Interval valid;
  control->GetValue(frameNumber * GetTicksPerFrame(), &value, valid, 0);
  return value;
}

void FocusFilterSession::Run(Image& frame, const std::string& frameName, const RowObserver& onRow,
                             int32_t frameNumber) {
  CheckChannels(*filter, frame, frameName);
  ProgressWindow window;
  window.Record(false);
  window.OnProgress([&onRow](int32_t row, int32_t lastRow) {
    if (onRow) onRow(row, lastRow);
    return InterruptRequested();
  });
  MessageBoxPrinter printer;
  FilterFrame run;
  run.bitmap = &frame.bitmap;
  run.info.firstFrame = frameNumber;
  run.info.lastFrame = frameNumber;
  run.info.frameRendered = frameNumber;
  const AllocationWatch allocations;
  const int32_t processed = RunFilter(*filter, run, window.Handle());
  ThrowIfInterrupted();
  if (!processed) {
    // The filter gives up without saying why; an allocation that failed
    // while it ran is the reason.
    const FailedAllocations failed = allocations.Since();
    if (failed.count > 0) {
      throw FileError(frameName, "the filter ran out of memory (an allocation of " +
                                     ByteSizeText(failed.lastSize) + " failed)");
    }
    throw FileError(frameName, "the filter did not process the frame");
  }
}

void RunFocusFilter(const FilterModule& module, const FilterJob& job) {
  FocusFilterSession session(module, *job.record);
  ProgressReport report(job.showProgress, stderr);
  try {
    session.Run(*job.frame, job.frameName,
                [&report](int32_t row, int32_t lastRow) { report.Update(row, lastRow); });
  } catch (...) {
    report.Finish(false);
    throw;
  }
  report.Finish(true);
}

}  // namespace kestrion
