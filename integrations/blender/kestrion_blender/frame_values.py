"""What one frame is filtered with: its focus, range, size and source, as
Blender's depth of field and the scene's animated settings have them at
that frame."""

import struct
from dataclasses import dataclass
from typing import Optional


class FocusError(Exception):
    """A frame whose focus cannot be had: no camera, no object, or an
    object behind the camera."""


def float_text(value):
    """The shortest decimal text that reads back as the same 32-bit float,
    which is what the filter's tracks hold."""
    single = struct.unpack("f", struct.pack("f", value))[0]
    for digits in range(6, 10):
        text = "%.*g" % (digits, single)
        if struct.unpack("f", struct.pack("f", float(text)))[0] == single:
            return text
    return repr(single)


@dataclass
class FrameValues:
    frame: int
    range: float
    size: float
    size_unit: str
    source: str
    source_id: int
    focus_from: str
    focus_depth: Optional[float] = None
    focus_object: Optional[str] = None
    focus_error: Optional[str] = None
    held_from: Optional[int] = None
    layered: bool = False

    def size_text(self):
        text = float_text(self.size)
        return text + "%" if self.size_unit == 'PERCENT' else text

    def source_text(self):
        if self.source == 'OBJECT':
            return "object:%d" % self.source_id
        if self.source == 'MATERIAL':
            return "material:%d" % self.source_id
        return "whole"

    def command_options(self):
        """The values as `kestrion render` takes them on its command line."""
        options = ["--focus-depth", float_text(self.focus_depth), "--range", float_text(self.range),
                   "--size", self.size_text()]
        if self.source != 'WHOLE':
            options += ["--source", self.source_text()]
        if self.layered:
            options.append("--layered")
        return options

    def module_options(self):
        """The same values as keywords of the Python module's render()."""
        options = {"focus_depth": float_text(self.focus_depth), "range": float_text(self.range),
                   "size": self.size_text()}
        if self.source != 'WHOLE':
            options["source"] = self.source_text()
        if self.layered:
            options["layered"] = True
        return options


def depth_along_axis(camera, obj):
    """The depth of obj's origin along the camera's view axis, as Blender's
    depth of field measures a focus object."""
    matrix = camera.matrix_world
    forward = -matrix.col[2].xyz.normalized()
    return forward.dot(obj.matrix_world.translation - matrix.translation)


def _focus(settings, scene, depsgraph):
    """(depth, object name) of the frame the depsgraph is evaluated at, from
    the camera or a focus object."""
    camera = scene.camera
    if camera is None:
        raise FocusError("the scene has no active camera to focus with")
    camera = camera.evaluated_get(depsgraph)
    if settings.focus_from == 'OBJECT':
        target = settings.focus_object
        if target is None:
            raise FocusError("no focus object is set")
    else:
        if camera.type != 'CAMERA':
            raise FocusError("the active camera '%s' is not a camera" % camera.name)
        target = camera.data.dof.focus_object
        if target is None:
            return camera.data.dof.focus_distance, None
    depth = depth_along_axis(camera, target.evaluated_get(depsgraph))
    if not depth > 0.0:
        raise FocusError("the focus object '%s' is behind the camera (depth %s)" % (target.name, float_text(depth)))
    return depth, target.name


def _animated(scene, name, frame):
    """A setting at a frame: its keys' curve there when it is keyed, else
    the value it has (which a change made since the last evaluation may
    not have reached in an evaluated copy)."""
    action = scene.animation_data.action if scene.animation_data else None
    curve = action.fcurves.find("kestrion." + name) if action else None
    return curve.evaluate(frame) if curve else getattr(scene.kestrion, name)


def frame_values(scene, depsgraph, frame):
    """The values of the frame the depsgraph is evaluated at: the settings
    as animated at that frame and the focus from the evaluated objects
    (without a depsgraph, no focus)."""
    settings = scene.kestrion
    values = FrameValues(frame=frame, range=_animated(scene, "range", frame), size=_animated(scene, "size", frame),
                         size_unit=settings.size_unit, source=settings.source, source_id=settings.source_id,
                         focus_from=settings.focus_from, layered=settings.layered)
    if settings.focus_from == 'DISTANCE':
        values.focus_depth = _animated(scene, "focus_distance", frame)
        return values
    if depsgraph is None:
        values.focus_error = "the render did not evaluate the frame's focus"
        return values
    try:
        values.focus_depth, values.focus_object = _focus(settings, scene.evaluated_get(depsgraph), depsgraph)
    except FocusError as error:
        values.focus_error = str(error)
    return values
