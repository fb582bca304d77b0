#include "filter_arguments.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "base/frame_numbers.h"
#include "kestrion/focus_config.h"
#include "keywords.h"

namespace kestrion_python {

namespace {

// The most threads a call may ask for, as kestrion's --threads.
constexpr int64_t THREADS_MAX = 1024;

bool IsWhole(const py::handle& value) {
  return !py::isinstance<py::bool_>(value) && PyIndex_Check(value.ptr());
}

}  // namespace

using kestrion::FloatKeys;
using kestrion::FrameSettings;

double Number(const py::handle& value, const std::string& name) {
  if (!IsNumber(value)) throw py::type_error(name + ": a number, not " + TypeName(value));
  return py::float_(py::reinterpret_borrow<py::object>(value));
}

int64_t Whole(const py::handle& value, const std::string& name) {
  if (!IsWhole(value)) throw py::type_error(name + ": a whole number, not " + TypeName(value));
  const py::int_ number = py::reinterpret_borrow<py::object>(value);
  int overflow = 0;
  const long long whole = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow != 0)
    throw py::value_error(name + ": " + std::string(py::str(py::object(number))) +
                          " is out of range");
  return whole;
}

std::string Text(const py::handle& value, const std::string& name) {
  if (!py::isinstance<py::str>(value))
    throw py::type_error(name + ": a string, not " + TypeName(value));
  return py::str(value);
}

std::string Shown(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

float RangeValue(const py::handle& value, const std::string& name) {
  const double range = Number(value, name);
  if (!(range > 0.0 && range <= BLUR_RANGE_MAX)) {
    throw py::value_error(name + ": " + Shown(range) +
                          " is no blur range (give more than 0 and at most " +
                          Shown(BLUR_RANGE_MAX) + ")");
  }
  return static_cast<float>(range);
}

float SizePixels(const py::handle& value, const std::string& name) {
  const double size = Number(value, name);
  if (!(size >= BLUR_SIZE_MIN && size <= BLUR_SIZE_MAX)) {
    throw py::value_error(name + ": " + Shown(size) + " is no blur size (give " +
                          Shown(BLUR_SIZE_MIN) + " to " + Shown(BLUR_SIZE_MAX) +
                          " pixels, or a share of the frame's width such as \"5%\")");
  }
  return static_cast<float>(size);
}

int32_t FrameNumber(const py::handle& value, const std::string& name) {
  const int64_t frame = Whole(value, name);
  if (frame < kestrion::FRAME_MIN || frame > kestrion::FRAME_MAX) {
    throw py::value_error(name + ": frame " + std::to_string(frame) + " is out of range (" +
                          std::to_string(kestrion::FRAME_MIN) + " to " +
                          std::to_string(kestrion::FRAME_MAX) + ")");
  }
  return static_cast<int32_t>(frame);
}

// A value for every frame, or keys {frame: value} / [(frame, value), ...].
FloatKeys KeysOf(const py::handle& value, const std::string& name,
                 float (*read)(const py::handle&, const std::string&)) {
  FloatKeys keys;
  const auto add = [&](const py::handle& frame, const py::handle& key) {
    const int32_t at = FrameNumber(frame, name);
    keys[at] = read(key, name + " at frame " + std::to_string(at));
  };
  if (py::isinstance<py::dict>(value)) {
    for (const auto& [frame, key] : py::reinterpret_borrow<py::dict>(value)) add(frame, key);
  } else if (py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value)) {
    for (const py::handle item : py::reinterpret_borrow<py::sequence>(value)) {
      if (!(py::isinstance<py::tuple>(item) || py::isinstance<py::list>(item)) ||
          py::len(item) != 2) {
        throw py::type_error(name + ": keys are (frame, value) pairs, not " + TypeName(item));
      }
      add(item[py::int_(0)], item[py::int_(1)]);
    }
  } else {
    keys[0] = read(value, name);
    return keys;
  }
  if (keys.empty()) throw py::value_error(name + ": no keys");
  return keys;
}

kestrion::SourceSelection SourceOf(const py::handle& source, const py::handle& sourceId) {
  const std::string mode = Text(source, "source");
  const int64_t id = Whole(sourceId, "source_id");
  kestrion::SourceSelection selection;
  if (mode == "whole") {
    if (id != 0) {
      throw py::value_error("source_id: " + std::to_string(id) +
                            " needs source \"object\" or \"material\"");
    }
    return selection;
  }
  int64_t most = 0;
  if (mode == "object") {
    selection.mode = SOURCE_OBJECT_CHANNEL;
    most = OBJECT_ID_MAX;
  } else if (mode == "material") {
    selection.mode = SOURCE_MATERIAL_EFFECTS;
    most = MATERIAL_ID_MAX;
  } else {
    throw py::value_error("source: \"whole\", \"object\" or \"material\", not '" + mode + "'");
  }
  if (id < 0 || id > most) {
    throw py::value_error("source_id: " + std::to_string(id) + " is no " + mode + " ID (0 to " +
                          std::to_string(most) + ")");
  }
  selection.id = static_cast<int32_t>(id);
  return selection;
}

namespace {

kestrion::AlphaMode AlphaOf(const py::handle& value) {
  const std::string alpha = Text(value, "alpha");
  if (alpha == "premultiplied") return kestrion::AlphaMode::Premultiplied;
  if (alpha == "straight") return kestrion::AlphaMode::Straight;
  if (alpha == "ignore") return kestrion::AlphaMode::Ignore;
  throw py::value_error("alpha: \"premultiplied\", \"straight\" or \"ignore\", not '" + alpha +
                        "'");
}

// The focus, one of the three, checked against the frame.
void SetFocus(FrameSettings& settings, const CallArguments& call, const FrameArrays& arrays) {
  const int given = (call.focusDepth.is_none() ? 0 : 1) + (call.focusPixel.is_none() ? 0 : 1) +
                    (call.focusObject.is_none() ? 0 : 1);
  if (given == 0) throw py::value_error("give focus_depth, focus_pixel or focus_object");
  if (given > 1) throw py::value_error("give one of focus_depth, focus_pixel and focus_object");
  if (!call.focusDepth.is_none()) {
    const double depth = Number(call.focusDepth, "focus_depth");
    if (!std::isfinite(depth) || std::fabs(depth) > std::numeric_limits<float>::max()) {
      throw py::value_error("focus_depth: " + Shown(depth) + " is no distance");
    }
    settings.focusDepth = FloatKeys{{0, static_cast<float>(depth)}};
  } else if (!call.focusPixel.is_none()) {
    const py::handle pixel = call.focusPixel;
    if (!(py::isinstance<py::tuple>(pixel) || py::isinstance<py::list>(pixel)) ||
        py::len(pixel) != 2) {
      throw py::type_error("focus_pixel: an (x, y) pair, not " + TypeName(pixel));
    }
    const int64_t x = Whole(pixel[py::int_(0)], "focus_pixel");
    const int64_t y = Whole(pixel[py::int_(1)], "focus_pixel");
    if (x < 0 || y < 0 || x >= arrays.frame.width || y >= arrays.frame.height) {
      throw py::value_error("focus_pixel: (" + std::to_string(x) + ", " + std::to_string(y) +
                            ") is not a pixel of a frame " + std::to_string(arrays.frame.width) +
                            " wide and " + std::to_string(arrays.frame.height) + " high");
    }
    settings.focusPixel =
        kestrion::PixelKeys{{0, kestrion::FocusPixel{static_cast<int>(x), static_cast<int>(y)}}};
  } else {
    const int64_t id = Whole(call.focusObject, "focus_object");
    if (id < 0 || id > OBJECT_ID_MAX) {
      throw py::value_error("focus_object: " + std::to_string(id) + " is no object ID (0 to " +
                            std::to_string(OBJECT_ID_MAX) + ")");
    }
    if (!arrays.frame.objectIds) throw py::value_error("focus_object: needs object_ids");
    settings.focusObject = static_cast<int32_t>(id);
  }
}

}  // namespace

FrameSettings CallSettings(const CallArguments& call, const FrameArrays& arrays) {
  FrameSettings settings;
  SetFocus(settings, call, arrays);
  settings.alpha = AlphaOf(call.alpha);
  if (!py::isinstance<py::bool_>(call.layered)) {
    throw py::type_error("layered: True or False, not " + TypeName(call.layered));
  }
  settings.layered = call.layered.cast<bool>();
  const int64_t threads = Whole(call.threads, "threads");
  if (threads < 0 || threads > THREADS_MAX) {
    throw py::value_error("threads: " + std::to_string(threads) + " is out of range (0 to " +
                          std::to_string(THREADS_MAX) + ", 0: one per core)");
  }
  settings.threads = static_cast<unsigned>(threads);
  return settings;
}

}  // namespace kestrion_python
