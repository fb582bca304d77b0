// filter_arguments.h: the arguments of kestrion.filter and Filter read
// into the frame library's settings, each checked here so that every error
// names its argument as the caller wrote it: a TypeError for a value of the
// wrong kind, a ValueError for one out of range.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "frame/frame_settings.h"
#include "frame_arrays.h"

namespace kestrion_python {

namespace py = pybind11;

// The keywords filter() and Filter.filter() share, as given.
struct CallArguments {
  py::object focusDepth = py::none();
  py::object focusPixel = py::none();
  py::object focusObject = py::none();
  py::object objectIds = py::none();
  py::object materialIds = py::none();
  py::object alpha = py::str("premultiplied");
  py::object layered = py::bool_(false);
  py::object threads = py::int_(0);
  py::object progress = py::none();
};

double Number(const py::handle& value, const std::string& name);
int64_t Whole(const py::handle& value, const std::string& name);
std::string Text(const py::handle& value, const std::string& name);
// A number as messages show it (%g).
std::string Shown(double value);

// A blur range: more than 0, at most the filter's largest.
float RangeValue(const py::handle& value, const std::string& name);
// A blur size in pixels, within what the filter offers.
float SizePixels(const py::handle& value, const std::string& name);
// A frame of a shot, FRAME_MIN to FRAME_MAX.
int32_t FrameNumber(const py::handle& value, const std::string& name);
// A value for every frame, or keys {frame: value} / [(frame, value), ...],
// each value read by `read`.
kestrion::FloatKeys KeysOf(const py::handle& value, const std::string& name,
                           float (*read)(const py::handle&, const std::string&));
// "whole", "object" or "material" with the ID it blurs.
kestrion::SourceSelection SourceOf(const py::handle& source, const py::handle& sourceId);
// What every call is given besides the blur: the focus (one of the three,
// checked against the frame), alpha, layered and threads.
kestrion::FrameSettings CallSettings(const CallArguments& call, const FrameArrays& arrays);

}  // namespace kestrion_python
