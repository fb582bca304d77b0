// frame_arrays.h: numpy arrays as the frame library's in-memory frame, and
// its result as a numpy array. Arrays follow the conventions of the
// well-liked imaging libraries: colour H x W x C (C 3 or 4, alpha last),
// float32 or float16; depth H x W distances; IDs H x W, integer or whole
// floats. Colour is read in place through its strides when they are whole
// samples, else copied; depth and IDs are copied when they are not
// C-contiguous float32 and int32. The caller's arrays are never written.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "frame/memory_frame.h"

namespace kestrion_python {

namespace py = pybind11;

// The arrays of one call, kept alive (and the copies made) for as long as
// the library reads them.
struct FrameArrays {
  py::array colour;
  py::array depth;
  py::array objectIds;
  py::array materialIds;
  kestrion::MemoryFrame frame;
};

// Checks and converts the arguments: a TypeError for an argument that is
// no array of numbers or of a kind the filter cannot take (integer colour),
// a ValueError for a shape that does not fit, each naming the argument.
// `objectIds` and `materialIds` may be None.
FrameArrays ReadFrameArrays(const py::handle& colour, const py::handle& depth,
                            const py::handle& objectIds, const py::handle& materialIds);

// The filtered colour as a new array of the input colour's shape and type,
// owning the library's buffer (no copy).
py::array ResultArray(kestrion::FilteredImage image);

}  // namespace kestrion_python
