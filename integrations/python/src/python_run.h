// python_run.h: one call into the frame library from Python, made with the
// interpreter's lock released. The library asks its abort query on the
// calling thread; every SIGNAL_INTERVAL the query takes the lock back for a
// moment and lets Python run its signal handlers, so that Ctrl-C (or any
// handler that raises) stops the work soon. The progress callable is called
// with the lock held, from whichever thread reports, a few hundred times a
// run at most. Warnings and the filter's message boxes are kept and given
// to Python's warnings once the call is over (message boxes only for one
// call at a time, as the platform has one observer of them).
#pragma once

#include <pybind11/pybind11.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "frame/frame_render.h"

namespace kestrion_python {

namespace py = pybind11;

inline constexpr std::chrono::milliseconds SIGNAL_INTERVAL{50};

class PythonRun {
 public:
  // `progress`: None or a callable taking (stage, fraction). Made with the
  // lock held.
  explicit PythonRun(py::object progress);
  // Destroyed with the lock held.
  ~PythonRun();
  PythonRun(const PythonRun&) = delete;
  PythonRun& operator=(const PythonRun&) = delete;

  // The callbacks to hand the library while the lock is released.
  kestrion::RenderCallbacks Callbacks();

  // Runs `work` with the lock released. Afterwards (lock held) the
  // warnings go to Python's warnings module, and an exception a signal
  // handler or the progress callable raised is raised again in place of
  // whatever the work ended in (its abort). Otherwise an exception of the
  // work propagates as it is.
  void Run(const std::function<void()>& work);

 private:
  bool AbortQuery();
  void Progress(const kestrion::RenderProgress& progress);
  void Warn(const std::string& line);
  // Keeps the Python error being raised (lock held): the work then stops.
  void KeepError();

  py::object progress;
  bool hearsMessageBoxes = false;
  std::chrono::steady_clock::time_point lastSignalCheck;
  std::mutex mutex;  // guards what follows, which several threads reach
  bool failed = false;
  PyObject* errorType = nullptr;
  PyObject* errorValue = nullptr;
  PyObject* errorTrace = nullptr;
  std::vector<std::string> warnings;
  kestrion::RenderProgress::Stage lastStage = kestrion::RenderProgress::Stage::Reading;
  double lastFraction = -1.0;
};

// The stage's name as the progress callable hears it: "reading",
// "filtering", "writing", "done".
const char* StageName(kestrion::RenderProgress::Stage stage);
// How far the stage has come, 0 to 1: the rows of all passes done while
// filtering, 0 at the start of reading and writing, 1 when done.
double StageFraction(const kestrion::RenderProgress& progress);

}  // namespace kestrion_python
