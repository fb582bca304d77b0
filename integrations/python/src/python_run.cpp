#include "python_run.h"

#include <algorithm>
#include <atomic>

#include "python_errors.h"

namespace kestrion_python {

using kestrion::RenderProgress;

namespace {

// The least change of a stage's fraction that is reported.
constexpr double PROGRESS_STEP = 0.01;

// The platform hands the filter's message boxes to one observer at a time:
// the run that holds this hears them, runs beside it go without.
std::atomic<bool> messageBoxesTaken{false};

}  // namespace

const char* StageName(RenderProgress::Stage stage) {
  switch (stage) {
    case RenderProgress::Stage::Reading:
      return "reading";
    case RenderProgress::Stage::Filtering:
      return "filtering";
    case RenderProgress::Stage::Writing:
      return "writing";
    case RenderProgress::Stage::Done:
      return "done";
  }
  return "unknown";
}

double StageFraction(const RenderProgress& progress) {
  if (progress.stage == RenderProgress::Stage::Done) return 1.0;
  if (progress.stage != RenderProgress::Stage::Filtering) return 0.0;
  if (progress.passes < 1 || progress.lastRow < 0) return 0.0;
  const double rows = static_cast<double>(progress.lastRow) + 1.0;
  const double done = progress.pass * rows + std::clamp<double>(progress.row, 0.0, rows);
  return std::clamp(done / (progress.passes * rows), 0.0, 1.0);
}

PythonRun::PythonRun(py::object callable) : progress(std::move(callable)) {
  if (progress.is_none()) progress = py::object();
}

PythonRun::~PythonRun() {
  if (hearsMessageBoxes) messageBoxesTaken.store(false);
  Py_XDECREF(errorType);
  Py_XDECREF(errorValue);
  Py_XDECREF(errorTrace);
}

kestrion::RenderCallbacks PythonRun::Callbacks() {
  kestrion::RenderCallbacks callbacks;
  callbacks.abort = [this] { return AbortQuery(); };
  if (progress) callbacks.progress = [this](const RenderProgress& now) { Progress(now); };
  callbacks.warning = [this](const std::string& line) { Warn(line); };
  if (!hearsMessageBoxes) hearsMessageBoxes = !messageBoxesTaken.exchange(true);
  if (hearsMessageBoxes) {
    callbacks.messageBox = [this](const std::string& caption, const std::string& text) {
      Warn(caption + ": " + text);
    };
  }
  return callbacks;
}

void PythonRun::KeepError() {
  std::lock_guard<std::mutex> lock(mutex);
  if (failed) {
    PyErr_Clear();
    return;
  }
  failed = true;
  PyErr_Fetch(&errorType, &errorValue, &errorTrace);
}

bool PythonRun::AbortQuery() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (failed) return true;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - lastSignalCheck < SIGNAL_INTERVAL) return false;
  lastSignalCheck = now;
  py::gil_scoped_acquire gil;
  if (PyErr_CheckSignals() != 0) {
    KeepError();
    return true;
  }
  return false;
}

void PythonRun::Progress(const RenderProgress& now) {
  const double fraction = StageFraction(now);
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (failed) return;
    const bool due = now.stage != lastStage || lastFraction < 0.0 ||
                     fraction >= lastFraction + PROGRESS_STEP ||
                     (fraction == 1.0 && lastFraction < 1.0);
    if (!due) return;
    lastStage = now.stage;
    lastFraction = fraction;
  }
  py::gil_scoped_acquire gil;
  try {
    progress(StageName(now.stage), fraction);
  } catch (py::error_already_set& e) {
    e.restore();
    KeepError();
  }
}

void PythonRun::Warn(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex);
  warnings.push_back(line);
}

void PythonRun::Run(const std::function<void()>& work) {
  lastSignalCheck = std::chrono::steady_clock::now();
  std::exception_ptr thrown;
  {
    py::gil_scoped_release released;
    try {
      work();
    } catch (...) {
      thrown = std::current_exception();
    }
  }
  for (const std::string& line : warnings) {
    if (PyErr_WarnEx(WarningCategory().ptr(), line.c_str(), 1) != 0) {
      // A filter that turned warnings into errors: the first one raises.
      if (!failed) {
        failed = true;
        PyErr_Fetch(&errorType, &errorValue, &errorTrace);
      } else {
        PyErr_Clear();
      }
    }
  }
  if (failed) {
    PyErr_Restore(errorType, errorValue, errorTrace);
    errorType = errorValue = errorTrace = nullptr;
    throw py::error_already_set();
  }
  if (thrown) std::rethrow_exception(thrown);
}

}  // namespace kestrion_python
