#include "frame_arrays.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "keywords.h"

namespace kestrion_python {

namespace {

std::string ShapeText(const py::array& array) {
  std::string text = "(";
  for (py::ssize_t d = 0; d < array.ndim(); ++d) {
    text += (d ? ", " : "") + std::to_string(array.shape(d));
  }
  return text + (array.ndim() == 1 ? ",)" : ")");
}

std::string DtypeName(const py::array& array) { return py::str(array.dtype().attr("name")); }

// `value` as an array, without copying one; a TypeError naming `name` for
// anything numpy cannot see as an array of numbers.
py::array AsArray(const py::handle& value, const std::string& name) {
  const py::object asarray = py::module_::import("numpy").attr("asarray");
  py::array array;
  try {
    array = asarray(value);
  } catch (py::error_already_set&) {
    throw py::type_error(name + ": an array of numbers, not " + TypeName(value));
  }
  const char kind = array.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b') {
    throw py::type_error(name + ": an array of numbers, not of " + DtypeName(array));
  }
  return array;
}

py::array Contiguous(const py::array& array, const char* dtype) {
  const py::object ascontiguousarray = py::module_::import("numpy").attr("ascontiguousarray");
  return ascontiguousarray(array, py::arg("dtype") = dtype);
}

void CheckPlaneShape(const py::array& array, const std::string& name, py::ssize_t height,
                     py::ssize_t width) {
  if (array.ndim() != 2 || array.shape(0) != height || array.shape(1) != width) {
    throw py::value_error(name + ": an array of shape (" + std::to_string(height) + ", " +
                          std::to_string(width) + ") like colour's first two sides, not " +
                          ShapeText(array));
  }
}

// Strides in samples, when every stride of the array is a whole number of
// samples and none is 0 (a broadcast side), which the library would read
// as "contiguous".
bool SampleStrides(const py::array& array, int64_t strides[3]) {
  const py::ssize_t size = array.itemsize();
  for (int d = 0; d < 3; ++d) {
    const py::ssize_t stride = array.strides(d);
    if (stride % size != 0) return false;
    if (stride == 0 && array.shape(d) > 1) return false;
    strides[d] = stride / size;
    if (strides[d] == 0)
      strides[d] = d == 0 ? array.shape(1) * array.shape(2) : d == 1 ? array.shape(2) : 1;
  }
  return true;
}

// IDs as int32: integers checked to fit, floats checked to be whole.
py::array IdPlane(const py::handle& value, const std::string& name, py::ssize_t height,
                  py::ssize_t width) {
  py::array array = AsArray(value, name);
  CheckPlaneShape(array, name, height, width);
  const py::module_ numpy = py::module_::import("numpy");
  if (array.size() > 0 && array.dtype().kind() == 'f') {
    const py::object finite = numpy.attr("all")(numpy.attr("isfinite")(array));
    const py::object whole = numpy.attr("array_equal")(array, numpy.attr("floor")(array));
    if (!finite.cast<bool>() || !whole.cast<bool>())
      throw py::value_error(name + ": IDs are whole numbers");
  }
  if (array.size() > 0 && array.dtype().kind() != 'b') {
    const double low = py::float_(numpy.attr("min")(array));
    const double high = py::float_(numpy.attr("max")(array));
    if (low < std::numeric_limits<int32_t>::min() || high > std::numeric_limits<int32_t>::max()) {
      throw py::value_error(name + ": an ID from " + std::string(py::str(py::float_(low))) +
                            " to " + std::string(py::str(py::float_(high))) + " is out of range");
    }
  }
  return Contiguous(array, "int32");
}

}  // namespace

FrameArrays ReadFrameArrays(const py::handle& colour, const py::handle& depth,
                            const py::handle& objectIds, const py::handle& materialIds) {
  FrameArrays arrays;
  py::array given = AsArray(colour, "colour");
  const std::string type = DtypeName(given);
  if (type != "float32" && type != "float16") {
    throw py::type_error("colour: float32 or float16 samples, not " + type);
  }
  if (given.ndim() != 3 || (given.shape(2) != 3 && given.shape(2) != 4)) {
    throw py::value_error(
        "colour: an array of shape (height, width, 3) or (height, width, 4), not " +
        ShapeText(given));
  }
  const py::ssize_t height = given.shape(0);
  const py::ssize_t width = given.shape(1);
  if (height < 1 || width < 1 || height > std::numeric_limits<int32_t>::max() ||
      width > std::numeric_limits<int32_t>::max()) {
    throw py::value_error("colour: a frame of " + ShapeText(given) + " has no pixels to filter");
  }
  kestrion::MemoryFrame& frame = arrays.frame;
  frame.width = static_cast<int32_t>(width);
  frame.height = static_cast<int32_t>(height);
  kestrion::ColourView& view = frame.colour;
  view.type = type == "float32" ? kestrion::SampleType::Float32 : kestrion::SampleType::Float16;
  view.channels = static_cast<int32_t>(given.shape(2));
  int64_t strides[3];
  if (!SampleStrides(given, strides)) {
    given = Contiguous(given, type.c_str());
    SampleStrides(given, strides);
  }
  arrays.colour = given;
  view.data = given.data();
  view.rowStride = strides[0];
  view.pixelStride = strides[1];
  view.channelStride = strides[2];

  py::array distances = AsArray(depth, "depth");
  if (distances.dtype().kind() != 'f') {
    throw py::type_error("depth: floating-point distances, not " + DtypeName(distances));
  }
  CheckPlaneShape(distances, "depth", height, width);
  arrays.depth = Contiguous(distances, "float32");
  frame.depth = static_cast<const float*>(arrays.depth.data());
  if (!objectIds.is_none()) {
    arrays.objectIds = IdPlane(objectIds, "object_ids", height, width);
    frame.objectIds = static_cast<const int32_t*>(arrays.objectIds.data());
  }
  if (!materialIds.is_none()) {
    arrays.materialIds = IdPlane(materialIds, "material_ids", height, width);
    frame.materialIds = static_cast<const int32_t*>(arrays.materialIds.data());
  }
  return arrays;
}

py::array ResultArray(kestrion::FilteredImage image) {
  auto owned = std::make_unique<kestrion::FilteredImage>(std::move(image));
  const kestrion::FilteredImage& held = *owned;
  const py::ssize_t size = held.type == kestrion::SampleType::Float32 ? 4 : 2;
  const std::vector<py::ssize_t> shape{held.height, held.width, held.channels};
  const std::vector<py::ssize_t> strides{size * held.width * held.channels, size * held.channels,
                                         size};
  const py::dtype dtype(held.type == kestrion::SampleType::Float32 ? "float32" : "float16");
  const void* data = held.Data();
  py::capsule base(owned.get(),
                   [](void* pointer) { delete static_cast<kestrion::FilteredImage*>(pointer); });
  owned.release();
  return py::array(dtype, shape, strides, data, base);
}

}  // namespace kestrion_python
