#include "filter_calls.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/frame_numbers.h"
#include "base/numbers.h"
#include "frame/frame_render.h"
#include "frame/memory_frame.h"
#include "frame/render_settings.h"
#include "frame_arrays.h"
#include "kestrion/focus_config.h"
#include "keywords.h"
#include "module_file.h"
#include "python_errors.h"
#include "python_run.h"

namespace kestrion_python {

namespace {

using kestrion::FloatKeys;
using kestrion::FrameSettings;

// Runs the call with the interpreter's lock released and makes its result
// an array; the library's failures become exceptions. Every part of a call
// is an argument, so what the library finds wrong with the planes (an ID
// out of range, a frame beyond the limits) is a ValueError.
py::array RunFilter(
    const CallArguments& call,
    const std::function<kestrion::FilteredImage(const kestrion::RenderCallbacks&)>& filter) {
  PythonRun run(call.progress);
  const kestrion::RenderCallbacks callbacks = run.Callbacks();
  kestrion::FilteredImage image;
  try {
    run.Run([&] { image = filter(callbacks); });
  } catch (const kestrion::Error& e) {
    if (IsArgumentError(e)) throw py::value_error(KeywordNames(e.what()));
    throw;
  }
  // The in-memory entry has no output to put in place: done is the end of
  // the call.
  if (!call.progress.is_none()) call.progress("done", 1.0);
  return ResultArray(std::move(image));
}

// A record as bytes, and bytes as a record.
py::bytes RecordBytes(const FocusConfig& record) {
  return py::bytes(reinterpret_cast<const char*>(&record), sizeof record);
}

FocusConfig RecordOf(const py::handle& value) {
  if (!py::isinstance<py::bytes>(value) && !py::isinstance<py::bytearray>(value) &&
      !py::isinstance<py::memoryview>(value)) {
    throw py::type_error("record: bytes, not " + TypeName(value));
  }
  const std::string bytes = py::bytes(py::reinterpret_borrow<py::object>(value));
  if (bytes.size() != sizeof(FocusConfig)) {
    throw py::value_error("record: " + std::to_string(sizeof(FocusConfig)) + " bytes, not " +
                          std::to_string(bytes.size()));
  }
  FocusConfig record;
  std::memcpy(&record, bytes.data(), sizeof record);
  return record;
}

}  // namespace

bool IsArgumentError(const kestrion::Error& error) {
  return error.Kind() == kestrion::ErrorKind::Usage || error.Kind() == kestrion::ErrorKind::Input;
}

py::array Filter(const py::handle& colour, const py::handle& depth, const CallArguments& call,
                 const py::handle& range, const py::handle& size, const py::handle& source,
                 const py::handle& sourceId) {
  FrameArrays arrays = ReadFrameArrays(colour, depth, call.objectIds, call.materialIds);
  FrameSettings settings = CallSettings(call, arrays);
  settings.range = FloatKeys{{0, RangeValue(range, "range")}};
  if (py::isinstance<py::str>(size)) {
    std::string text = py::str(size);
    if (text.empty() || text.back() != '%') {
      throw py::value_error(
          "size: pixels as a number, or a share of the frame's width such as "
          "\"5%\", not '" +
          text + "'");
    }
    text.pop_back();
    float percent = 0.0f;
    try {
      percent = kestrion::FloatOption<float>(text, "size");
    } catch (const kestrion::Error& e) {
      throw py::value_error(e.what());
    }
    if (!(percent > 0.0f && percent <= 100.0f)) {
      throw py::value_error("size: " + Shown(percent) +
                            "% is no share of the frame's width (more than 0% and at most 100%)");
    }
    settings.size = FloatKeys{{0, percent}};
    settings.sizeInPercent = true;
  } else {
    settings.size = FloatKeys{{0, SizePixels(size, "size")}};
  }
  settings.source = SourceOf(source, sourceId);
  const FilterModule& module = LoadedModule();
  return RunFilter(call, [&](const kestrion::RenderCallbacks& callbacks) {
    return kestrion::FilterMemoryFrame(module, arrays.frame, settings, callbacks);
  });
}

// The module's filter kept between calls. Calls through it take turns: a
// second thread waits (without the interpreter's lock) for the first.
class KeptFilter {
 public:
  KeptFilter(const py::handle& range, const py::handle& size, const py::handle& source,
             const py::handle& sourceId, const py::handle& record)
      : filter(LoadedModule().CreateFilter()) {
    if (!filter) throw kestrion::Failure(ModulePath() + ": the module made no filter");
    if (!record.is_none()) {
      if (!range.is_none() || !size.is_none() || !sourceId.cast<py::object>().equal(py::int_(0)) ||
          Text(source, "source") != "whole") {
        throw py::value_error("record: give the record or range, size and source, not both");
      }
      SetRecord(record);
      return;
    }
    kestrion::RenderSettings settings;
    if (!range.is_none()) settings.range = KeysOf(range, "range", RangeValue);
    if (!size.is_none()) settings.size = KeysOf(size, "size", SizePixels);
    settings.source = SourceOf(source, sourceId);
    kestrion::ConfigureFilter(*filter, settings);
  }

  py::bytes Record() {
    const std::unique_lock<std::mutex> lock = Turn();
    return RecordBytes(kestrion::FocusFilterSession(*filter).Record());
  }

  void SetRecord(const py::handle& value) {
    const FocusConfig record = RecordOf(value);
    const std::unique_lock<std::mutex> lock = Turn();
    try {
      kestrion::FocusFilterSession(*filter).Configure(record);
    } catch (const kestrion::Error& e) {
      throw py::value_error("record: " + std::string(e.what()));
    }
  }

  py::dict Keys(TrackId id, float recordValue) {
    const std::unique_lock<std::mutex> lock = Turn();
    py::dict keys;
    ITrackViewNode* node = filter->Node();
    const Control* control = node ? node->GetController(id) : nullptr;
    if (!control || control->Keys().empty()) {
      keys[py::int_(0)] = recordValue;
      return keys;
    }
    const int ticks = GetTicksPerFrame();
    for (const auto& [time, value] : control->Keys()) keys[py::int_(time / ticks)] = value;
    return keys;
  }

  py::dict RangeKeys() {
    const float value = RecordValue().blurRange;
    return Keys(RANGE_TRACK, value);
  }
  py::dict SizeKeys() {
    const float value = RecordValue().blurSize;
    return Keys(SIZE_TRACK, value);
  }

  void SetKeys(TrackId id, const FloatKeys& keys) {
    const std::unique_lock<std::mutex> lock = Turn();
    kestrion::FocusFilterSession(*filter).KeyTrack(id, keys);
  }
  void SetRangeKeys(const py::handle& value) {
    SetKeys(RANGE_TRACK, KeysOf(value, "range", RangeValue));
  }
  void SetSizeKeys(const py::handle& value) {
    SetKeys(SIZE_TRACK, KeysOf(value, "size", SizePixels));
  }

  float ValueAt(TrackId id, const py::handle& frame, float recordValue) {
    const int32_t at = FrameNumber(frame, "frame");
    const std::unique_lock<std::mutex> lock = Turn();
    return kestrion::FocusFilterSession(*filter).TrackValue(id, at, recordValue);
  }
  float RangeAt(const py::handle& frame) {
    return ValueAt(RANGE_TRACK, frame, RecordValue().blurRange);
  }
  float SizeAt(const py::handle& frame) {
    return ValueAt(SIZE_TRACK, frame, RecordValue().blurSize);
  }

  py::array FilterFrame(const py::handle& colour, const py::handle& depth,
                        const CallArguments& call, const py::handle& frame) {
    FrameArrays arrays = ReadFrameArrays(colour, depth, call.objectIds, call.materialIds);
    FrameSettings settings = CallSettings(call, arrays);
    settings.frame = FrameNumber(frame, "frame");
    return RunFilter(call, [&](const kestrion::RenderCallbacks& callbacks) {
      const std::lock_guard<std::mutex> lock(busy);
      return kestrion::FilterMemoryFrame(*filter, arrays.frame, settings, callbacks);
    });
  }

 private:
  // The filter's mutex, waited for without the interpreter's lock, so that
  // a call running on another thread can take the lock to report progress.
  std::unique_lock<std::mutex> Turn() {
    const py::gil_scoped_release released;
    return std::unique_lock<std::mutex>(busy);
  }

  FocusConfig RecordValue() {
    const std::unique_lock<std::mutex> lock = Turn();
    return kestrion::FocusFilterSession(*filter).Record();
  }

  std::unique_ptr<ImageFilter> filter;
  std::mutex busy;
};

namespace {

constexpr const char* FILTER_DOC =
    R"(filter(colour, depth, *, focus_depth=None, focus_pixel=None, focus_object=None, object_ids=None, material_ids=None, range, size, source="whole", source_id=0, alpha="premultiplied", layered=False, threads=0, progress=None) -> numpy.ndarray

Filters one frame through the Kestrion module and returns a new array of
colour's shape and dtype; the arguments are left alone. The pixels are
those `kestrion render` writes for a file holding the same planes with the
same settings.

colour: (H, W, 3) or (H, W, 4) float32 or float16, any strides.
depth: (H, W) distances in front of the camera; infinity, NaN and 1e9 and
    up are background (no geometry, blurred fully).
focus_depth, focus_pixel=(x, y), focus_object=ID: the focal plane, one of
    them (focus_object needs object_ids).
object_ids, material_ids: (H, W) IDs, integer or whole floats.
range: the depth distance at which the blur reaches its full size (> 0).
size: the full blur radius in pixels, or a string such as "5%" of the
    frame's width.
source: "whole", "object" or "material"; source_id the ID it blurs.
alpha: "premultiplied", "straight" or "ignore".
layered: filter in depth layers, as `kestrion render --layered` does: no
    halo around sharp objects, blurred ones spread over what lies behind.
threads: 0 for one per core.
progress: called as progress(stage, fraction) while the frame filters.

Raises TypeError or ValueError naming the argument at fault, kestrion.Error
when the filter fails, KeyboardInterrupt when Ctrl-C stops it.)";

constexpr const char* FILTER_CLASS_DOC =
    R"(Filter(*, range=None, size=None, source="whole", source_id=0, record=None)

The module's filter kept between calls, for filtering one frame again as
its settings change: its 284-byte configuration record (record, as bytes)
and its animated Range and Size tracks (range_keys, size_keys: {frame:
value}). range and size take a value or keys {frame: value}; unset, the
filter's defaults (range 50, size 2 pixels). Or give the record a host
saved. One call at a time goes through a Filter; another thread's call
waits for it.)";

CallArguments CallArgumentsOf(const Keywords& keywords) {
  CallArguments call;
  call.focusDepth = keywords.Get("focus_depth");
  call.focusPixel = keywords.Get("focus_pixel");
  call.focusObject = keywords.Get("focus_object");
  call.objectIds = keywords.Get("object_ids");
  call.materialIds = keywords.Get("material_ids");
  call.alpha = keywords.Get("alpha", py::str("premultiplied"));
  call.layered = keywords.Get("layered", py::bool_(false));
  call.threads = keywords.Get("threads", py::int_(0));
  call.progress = keywords.Get("progress");
  if (!call.progress.is_none() && !PyCallable_Check(call.progress.ptr())) {
    throw py::type_error("progress: a callable, not " + TypeName(call.progress));
  }
  return call;
}

}  // namespace

void DefineFilterCalls(py::module_& module) {
  py::options options;
  options.disable_function_signatures();
  module.def(
      "filter",
      [](const py::object& colour, const py::object& depth, const py::kwargs& given) {
        const Keywords keywords(
            "filter", given,
            {"focus_depth", "focus_pixel", "focus_object", "object_ids", "material_ids", "range",
             "size", "source", "source_id", "alpha", "layered", "threads", "progress"});
        const CallArguments call = CallArgumentsOf(keywords);
        return Filter(colour, depth, call, keywords.Required("range"), keywords.Required("size"),
                      keywords.Get("source", py::str("whole")),
                      keywords.Get("source_id", py::int_(0)));
      },
      py::arg("colour"), py::arg("depth"), FILTER_DOC);

  // The library's own call on C-contiguous float32 RGBA planes, with no
  // argument reading, callbacks or result array: what the benchmark sets
  // kestrion.filter against, in the same process.
  module.def(
      "_library_filter",
      [](const py::array_t<float, py::array::c_style>& colour,
         const py::array_t<float, py::array::c_style>& depth, float focusDepth, float range,
         float size) {
        if (colour.ndim() != 3 || colour.shape(2) != 4 || depth.ndim() != 2 ||
            depth.shape(0) != colour.shape(0) || depth.shape(1) != colour.shape(1)) {
          throw py::value_error("colour: (H, W, 4) float32 with depth (H, W)");
        }
        kestrion::MemoryFrame frame;
        frame.height = static_cast<int32_t>(colour.shape(0));
        frame.width = static_cast<int32_t>(colour.shape(1));
        frame.colour.data = colour.data();
        frame.colour.channels = 4;
        frame.depth = depth.data();
        FrameSettings settings;
        settings.focusDepth = FloatKeys{{0, focusDepth}};
        settings.range = FloatKeys{{0, range}};
        settings.size = FloatKeys{{0, size}};
        const FilterModule& filterModule = LoadedModule();
        const py::gil_scoped_release released;
        kestrion::FilterMemoryFrame(filterModule, frame, settings);
      },
      py::arg("colour"), py::arg("depth"), py::arg("focus_depth"), py::arg("range"),
      py::arg("size"));

  py::class_<KeptFilter>(module, "Filter", FILTER_CLASS_DOC)
      .def(py::init([](const py::kwargs& given) {
             const Keywords keywords("Filter", given,
                                     {"range", "size", "source", "source_id", "record"});
             return std::make_unique<KeptFilter>(keywords.Get("range"), keywords.Get("size"),
                                                 keywords.Get("source", py::str("whole")),
                                                 keywords.Get("source_id", py::int_(0)),
                                                 keywords.Get("record"));
           }),
           "Filter(*, range=None, size=None, source=\"whole\", source_id=0, record=None)")
      .def_property(
          "record", &KeptFilter::Record,
          [](KeptFilter& filter, const py::object& value) { filter.SetRecord(value); },
          "The filter's 284-byte configuration record, as the host saves and loads it.")
      .def_property(
          "range_keys", &KeptFilter::RangeKeys,
          [](KeptFilter& filter, const py::object& value) { filter.SetRangeKeys(value); },
          "The Range track's keys, {frame: value}; set a value or keys.")
      .def_property(
          "size_keys", &KeptFilter::SizeKeys,
          [](KeptFilter& filter, const py::object& value) { filter.SetSizeKeys(value); },
          "The Size track's keys in pixels, {frame: value}; set a value or keys.")
      .def(
          "range_at",
          [](KeptFilter& filter, const py::object& frame) { return filter.RangeAt(frame); },
          py::arg("frame"),
          "range_at(frame) -> float: the blur range the filter uses at the frame.")
      .def(
          "size_at",
          [](KeptFilter& filter, const py::object& frame) { return filter.SizeAt(frame); },
          py::arg("frame"), "size_at(frame) -> float: the blur size the filter uses at the frame.")
      .def(
          "filter",
          [](KeptFilter& filter, const py::object& colour, const py::object& depth,
             const py::kwargs& given) {
            const Keywords keywords(
                "Filter.filter", given,
                {"focus_depth", "focus_pixel", "focus_object", "object_ids", "material_ids",
                 "frame", "alpha", "layered", "threads", "progress"});
            return filter.FilterFrame(colour, depth, CallArgumentsOf(keywords),
                                      keywords.Get("frame", py::int_(0)));
          },
          py::arg("colour"), py::arg("depth"),
          "filter(colour, depth, *, focus_depth=None, focus_pixel=None, focus_object=None, "
          "object_ids=None, material_ids=None, frame=0, alpha=\"premultiplied\", layered=False, "
          "threads=0, progress=None) -> numpy.ndarray\n\nFilters the frame through this filter's "
          "record "
          "and tracks, evaluated at `frame`; the arguments as kestrion.filter's.");
}

}  // namespace kestrion_python
