// kestrion.inspect(path, *, pixel=None): what `kestrion inspect` shows of
// an OpenEXR file, as dicts and lists: its parts and channels, the roles
// kestrion would filter with, the depth's spread, the IDs present, the
// Cryptomatte names and the values at one pixel.
#include <pybind11/stl.h>

#include "command_calls.h"
#include "frame/file_overview.h"
#include "python_errors.h"

namespace kestrion_python {

namespace {

using namespace kestrion;

template <typename T>
py::object Optional(const std::optional<T>& value) {
  return value ? py::cast(*value) : py::none();
}

py::dict WindowOf(const OverviewWindow& window) {
  py::dict data;
  data["min"] = py::make_tuple(window.minX, window.minY);
  data["max"] = py::make_tuple(window.maxX, window.maxY);
  return data;
}

py::object RefOf(const std::optional<OverviewRef>& ref) {
  if (!ref) return py::none();
  py::dict data;
  data["part"] = ref->part;
  data["name"] = ref->name;
  data["type"] = ref->type;
  return data;
}

py::list PartsOf(const std::vector<OverviewPart>& parts) {
  py::list list;
  for (const OverviewPart& part : parts) {
    py::dict data;
    data["name"] = part.name.empty() ? py::none() : py::cast(part.name);
    data["tiled"] = part.tiled;
    data["compression"] = part.compression;
    data["data_window"] = WindowOf(part.dataWindow);
    data["display_window"] = WindowOf(part.displayWindow);
    data["pixel_aspect"] = part.pixelAspect;
    py::list channels;
    for (const OverviewChannel& channel : part.channels) {
      channels.append(py::make_tuple(channel.name, channel.type));
    }
    data["channels"] = channels;
    list.append(data);
  }
  return list;
}

py::object RolesOf(const std::optional<OverviewRoles>& roles) {
  if (!roles) return py::none();
  py::dict data;
  data["colour_part"] = roles->colourPart;
  data["colour_layer"] = roles->colourLayer;
  data["colour"] = roles->colour;
  data["alpha"] = RefOf(roles->alpha);
  data["depth"] = RefOf(roles->depth);
  data["object_id"] = RefOf(roles->objectId);
  data["material_id"] = RefOf(roles->materialId);
  data["warnings"] = roles->warnings;
  return data;
}

py::object DepthOf(const std::optional<OverviewDepth>& depth) {
  if (!depth) return py::none();
  py::dict data;
  data["pixels"] = depth->pixels;
  data["background"] = depth->background;
  data["nearest"] = Optional(depth->nearest);
  data["farthest"] = Optional(depth->farthest);
  if (depth->spread) {
    data["spread"] =
        py::dict(py::arg("low") = depth->spread->low, py::arg("median") = depth->spread->median,
                 py::arg("high") = depth->spread->high);
  } else {
    data["spread"] = py::none();
  }
  data["warnings"] = depth->warnings;
  return data;
}

py::object IdsOf(const std::optional<std::map<uint32_t, size_t>>& ids) {
  return ids ? py::cast(*ids) : py::none();
}

py::list MattesOf(const std::vector<OverviewMatte>& mattes) {
  py::list list;
  for (const OverviewMatte& matte : mattes) {
    py::dict data;
    data["name"] = matte.name;
    data["part"] = matte.part;
    data["ranks"] = matte.ranks;
    data["names"] = matte.names;
    data["objects"] = matte.objects;
    list.append(data);
  }
  return list;
}

py::object PixelOf(const std::optional<OverviewPixel>& pixel) {
  if (!pixel) return py::none();
  py::dict data;
  data["at"] = py::make_tuple(pixel->at.x, pixel->at.y);
  data["file"] = py::make_tuple(pixel->fileX, pixel->fileY);
  py::list parts;
  for (const OverviewPixelPart& part : pixel->parts) {
    py::dict values;
    for (const auto& [name, value] : part.values) values[py::str(name)] = value;
    parts.append(part.inside ? py::object(values) : py::none());
  }
  data["parts"] = parts;
  return data;
}

py::dict Inspect(const py::object& path, const py::object& pixel) {
  InspectOptions options;
  options.input = py::str(py::module_::import("os").attr("fspath")(path));
  if (!pixel.is_none()) {
    if (!(py::isinstance<py::tuple>(pixel) || py::isinstance<py::list>(pixel)) ||
        py::len(pixel) != 2) {
      throw py::type_error("pixel: an (x, y) pair");
    }
    options.pixel =
        std::string(py::str(pixel[py::int_(0)])) + "," + std::string(py::str(pixel[py::int_(1)]));
  }
  FileOverview overview;
  {
    const py::gil_scoped_release released;
    overview = InspectFile(options);
  }
  py::dict data;
  data["path"] = overview.path;
  data["parts"] = PartsOf(overview.parts);
  data["roles"] = RolesOf(overview.roles);
  data["roles_error"] = Optional(overview.rolesError);
  data["depth_mode"] = DepthModeText(overview.depthOptions.mode);
  data["depth_file"] = Optional(overview.depthFile);
  data["depth"] = DepthOf(overview.depth);
  data["no_depth"] = overview.noDepth;
  data["object_ids"] = IdsOf(overview.objectIds);
  data["material_ids"] = IdsOf(overview.materialIds);
  data["mattes"] = MattesOf(overview.mattes);
  data["planes_error"] = Optional(overview.planesError);
  data["pixel"] = PixelOf(overview.pixel);
  data["usable"] = overview.usable;
  data["pixel_has_geometry"] = overview.pixelHasGeometry;
  return data;
}

}  // namespace

void DefineInspect(py::module_& module) {
  module.def("inspect", &Inspect, py::arg("path"), py::kw_only(), py::arg("pixel") = py::none(),
             "inspect(path, *, pixel=None) -> dict\n\nWhat `kestrion inspect` shows of an "
             "OpenEXR file, as data: parts and channels, the roles kestrion filters with, the "
             "depth's spread, the IDs present (pixels by ID), the Cryptomatte names, and with "
             "pixel=(x, y) every channel's value there. Raises kestrion.Error naming the file "
             "when it cannot be read.");
}

}  // namespace kestrion_python
