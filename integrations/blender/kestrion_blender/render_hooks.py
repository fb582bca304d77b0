"""The add-on's part in every render: the passes switched on before it
starts, each frame's values taken as the render evaluates the frame, and
each rendered frame filtered after Blender has it."""

import atexit
import os
import shutil
import tempfile
import time

import bpy
from bpy.app.handlers import persistent

from . import messages
from .filtering import FilterError, append_report, filter_frame, make_folder, output_path
from .frame_values import float_text, frame_values
from .settings import switch_on_passes

RESULT_IMAGE = "Kestrion Result"

_folder = None  # this session's own files: renders Blender did not write
_last = None  # (path, frame) of the last render, for filtering it again
_job = None  # the render running now


def _session_folder():
    global _folder
    if _folder is None or not os.path.isdir(_folder):
        _folder = tempfile.mkdtemp(prefix="kestrion-blender-")
        atexit.register(shutil.rmtree, _folder, True)
    return _folder


def _own(path):
    return _folder is not None and os.path.dirname(path) == _folder


def save_render_result(scene, frame):
    """Writes the render result as a multilayer OpenEXR with every pass, as
    Blender writes one: in the scene's own depth and codec when its output
    is multilayer OpenEXR already, else as 32-bit float ZIP."""
    image = bpy.data.images.get("Render Result")
    if image is None:
        raise FilterError("there is no render result to filter")
    path = os.path.join(_session_folder(), "render-%d-%d.exr" % (frame, time.monotonic_ns()))
    settings = scene.render.image_settings
    kept = (settings.file_format, settings.color_depth, settings.exr_codec)
    try:
        if settings.file_format != 'OPEN_EXR_MULTILAYER':
            settings.file_format = 'OPEN_EXR_MULTILAYER'
            settings.color_depth = '32'
            settings.exr_codec = 'ZIP'
        image.save_render(path, scene=scene)
    except RuntimeError as error:
        raise FilterError("cannot save the render result: %s" % error)
    finally:
        settings.file_format = kept[0]
        if settings.color_depth != kept[1]:
            settings.color_depth = kept[1]
        if settings.exr_codec != kept[2]:
            settings.exr_codec = kept[2]
    return path


def _blender_file(scene, frame, started):
    """The multilayer OpenEXR Blender itself wrote of this frame, if any."""
    render = scene.render
    if render.image_settings.file_format != 'OPEN_EXR_MULTILAYER':
        return None
    path = bpy.path.abspath(render.frame_path(frame=frame))
    try:
        written = os.stat(path).st_mtime
    except OSError:
        return None
    return path if started is not None and written >= started - 1.0 else None


def keep_last(path, frame):
    """Remembers the last render, for filtering it again."""
    global _last
    _last = (path, frame)


def last_render():
    if _last and os.path.exists(_last[0]):
        return _last
    return None


def _remove(path):
    try:
        os.remove(path)
    except OSError:
        pass


def show_result(output):
    """Shows a filtered frame in the image "Kestrion Result"."""
    def load():
        image = bpy.data.images.get(RESULT_IMAGE)
        if image is not None and image.source == 'FILE':
            image.filepath = output
            image.reload()
        else:
            image = bpy.data.images.load(output, check_existing=False)
            image.name = RESULT_IMAGE
    messages.on_main_thread(load)


def run_filter(scene, source, values, report_to=None):
    """Filters one frame and says how it went; False when it failed."""
    try:
        output, report, warnings = filter_frame(scene, source, values)
    except FilterError as error:
        messages.say("frame %d: %s" % (values.frame, error), 'ERROR', report_to)
        return False
    for warning in warnings:
        messages.say("frame %d: %s" % (values.frame, warning), 'WARNING', report_to)
    messages.say("frame %d filtered into %s (focus %s)" % (values.frame, output, float_text(values.focus_depth)),
                 'INFO', report_to)
    show_result(output)
    return True


class RenderJob:
    """One render, still or animation, with the frames it has seen."""

    def __init__(self):
        self.values = {}  # frame -> FrameValues, taken when the render evaluates it
        self.started = {}
        self.good = None  # the values of the last frame with a focus
        self.waiting = []  # (source, values) of frames before the first focus
        self.copies = [_last[0]] if _last and _own(_last[0]) else []

    def evaluated(self, scene, depsgraph):
        frame = scene.frame_current
        self.values[frame] = frame_values(scene, depsgraph, frame)

    def rendered(self, scene):
        frame = scene.frame_current
        values = self.values.pop(frame, None)
        if values is None:
            values = self._evaluate_here(scene, frame)
        source = _blender_file(scene, frame, self.started.pop(frame, None))
        try:
            if source is None:
                source = save_render_result(scene, frame)
                self.copies.append(source)
        except FilterError as error:
            messages.say("frame %d: %s" % (frame, error), 'ERROR')
            return
        keep_last(source, frame)
        if values.focus_error is None:
            self.good = values
            run_filter(scene, source, values)
            for waiting_source, waiting in self.waiting:
                self._hold(waiting, values)
                run_filter(scene, waiting_source, waiting)
            self.waiting = []
        elif self.good is not None:
            self._hold(values, self.good)
            messages.say("frame %d: %s; it keeps the focus of frame %d (%s)"
                         % (frame, values.focus_error, self.good.frame, float_text(self.good.focus_depth)), 'WARNING')
            run_filter(scene, source, values)
        else:
            messages.say("frame %d: %s; it waits for the focus of a later frame" % (frame, values.focus_error),
                         'WARNING')
            self.waiting.append((source, values))

    def _evaluate_here(self, scene, frame):
        """The frame's values when no frame change of the render handed
        over its evaluation: the scene's own evaluation set to the frame,
        which only a render on the main thread, as in a background
        Blender, may do."""
        if not bpy.app.background:
            return frame_values(scene, None, frame)
        scene.frame_set(frame)
        return frame_values(scene, bpy.context.evaluated_depsgraph_get(), frame)

    @staticmethod
    def _hold(values, good):
        values.focus_depth = good.focus_depth
        values.held_from = good.frame

    def finish(self, scene, cancelled):
        for source, values in self.waiting:
            reason = "the render was cancelled" if cancelled else "no frame of this render had a focus"
            messages.say("frame %d was not filtered: %s (%s)" % (values.frame, values.focus_error, reason), 'ERROR')
            try:
                output = output_path(scene.kestrion.output, values.frame)
                make_folder(output)
                append_report(output, {"frame": values.frame, "status": "failed", "input": source,
                                       "error": "%s: %s" % (values.focus_error, reason)})
            except (FilterError, OSError):
                pass
        self.waiting = []
        # The add-on's copies of renders go, but for the last one.
        for copy in self.copies:
            if _last is None or copy != _last[0]:
                _remove(copy)
        self.copies = []


def _guarded(work):
    """A handler that says what went wrong in one line instead of a
    traceback, and never stops the render. Blender hands a handler the
    depsgraph only when it takes two arguments."""
    def handler(scene, depsgraph=None):
        try:
            work(scene, depsgraph)
        except Exception as error:
            messages.say("%s: %s" % (type(error).__name__, error), 'ERROR')
    handler.__name__ = "kestrion_" + work.__name__
    return persistent(handler)


def _render_init(scene, *args):
    global _job
    _job = None
    if scene.kestrion.enabled:
        switch_on_passes(scene)
        _job = RenderJob()


def _frame_change(scene, depsgraph=None, *args):
    if _job is not None and depsgraph is not None and depsgraph.mode == 'RENDER':
        _job.evaluated(scene, depsgraph)


def _render_pre(scene, *args):
    if _job is not None:
        _job.started[scene.frame_current] = time.time()


def _render_post(scene, *args):
    if _job is not None:
        _job.rendered(scene)


def _render_complete(scene, *args):
    global _job
    if _job is not None:
        job, _job = _job, None
        job.finish(scene, cancelled=False)


def _render_cancel(scene, *args):
    global _job
    if _job is not None:
        job, _job = _job, None
        job.finish(scene, cancelled=True)


_HANDLERS = (
    ("render_init", _guarded(_render_init)),
    ("frame_change_post", _guarded(_frame_change)),
    ("render_pre", _guarded(_render_pre)),
    ("render_post", _guarded(_render_post)),
    ("render_complete", _guarded(_render_complete)),
    ("render_cancel", _guarded(_render_cancel)),
)


def register():
    for name, handler in _HANDLERS:
        getattr(bpy.app.handlers, name).append(handler)
    messages.register()


def unregister():
    messages.unregister()
    for name, handler in _HANDLERS:
        handlers = getattr(bpy.app.handlers, name)
        if handler in handlers:
            handlers.remove(handler)
