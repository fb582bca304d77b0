"""The add-on's operators: filtering the last render again, opening it in
the kestrion studio, and the add-on's lines shown in the info area."""

import os
import queue
import subprocess
import threading
import webbrowser

import bpy
from bpy.props import CollectionProperty, EnumProperty, StringProperty

from . import messages, render_hooks
from .filtering import FilterError, kestrion_program, make_folder, output_path
from .frame_values import frame_values

_studios = []
_STUDIO_START_SECONDS = 20


def stop_studios():
    for studio in _studios:
        if studio.poll() is None:
            studio.terminate()
            try:
                studio.wait(5)
            except subprocess.TimeoutExpired:
                studio.kill()
    _studios.clear()


def _last_render(scene):
    """(path, frame) of the render to filter again: the last one the add-on
    saw, else the render result as it stands."""
    kept = render_hooks.last_render()
    if kept is None:
        path = render_hooks.save_render_result(scene, scene.frame_current)
        render_hooks.keep_last(path, scene.frame_current)
        kept = (path, scene.frame_current)
    return kept


def _values_at(context, frame):
    """The frame's values as the settings and objects have them at that
    frame; the scene returns to its own frame after."""
    scene = context.scene
    current = scene.frame_current, scene.frame_subframe
    if frame != current[0]:
        scene.frame_set(frame)
    try:
        return frame_values(scene, context.evaluated_depsgraph_get(), frame)
    finally:
        if frame != current[0]:
            scene.frame_set(current[0], subframe=current[1])


def _prepared(operator, context):
    """(source, values) of the last render, or None after saying why."""
    try:
        source, frame = _last_render(context.scene)
        values = _values_at(context, frame)
    except FilterError as error:
        messages.say(str(error), 'ERROR', operator)
        return None
    if values.focus_error is not None:
        messages.say("frame %d: %s" % (frame, values.focus_error), 'ERROR', operator)
        return None
    return source, values


class KESTRION_OT_filter_last_render(bpy.types.Operator):
    """Filter the last render again with the settings as they are now, without rendering again"""

    bl_idname = "kestrion.filter_last_render"
    bl_label = "Filter the Last Render"

    def execute(self, context):
        prepared = _prepared(self, context)
        if prepared is None:
            return {'CANCELLED'}
        source, values = prepared
        ok = render_hooks.run_filter(context.scene, source, values, report_to=self)
        return {'FINISHED'} if ok else {'CANCELLED'}


def _first_line(stream, lines):
    lines.put(stream.readline())
    for _ in stream:  # keep the pipe drained so that the studio never blocks
        pass


class KESTRION_OT_open_studio(bpy.types.Operator):
    """Open the last render in the kestrion studio, in the browser, with these settings"""

    bl_idname = "kestrion.open_studio"
    bl_label = "Open in the Studio"

    def execute(self, context):
        prepared = _prepared(self, context)
        if prepared is None:
            return {'CANCELLED'}
        source, values = prepared
        try:
            program = kestrion_program()
            output = output_path(context.scene.kestrion.output, values.frame)
            make_folder(output)
        except FilterError as error:
            messages.say(str(error), 'ERROR', self)
            return {'CANCELLED'}
        command = [program, "studio", source, "-o", output] + values.command_options()
        try:
            studio = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, text=True)
        except OSError as error:
            messages.say("cannot start the studio: %s" % (error.strerror or error), 'ERROR', self)
            return {'CANCELLED'}
        lines = queue.SimpleQueue()
        threading.Thread(target=_first_line, args=(studio.stdout, lines), daemon=True).start()
        try:
            address = lines.get(timeout=_STUDIO_START_SECONDS).strip()
        except queue.Empty:
            address = ""
        if not address.startswith("http"):
            studio.kill()
            studio.wait()
            reason = studio.stderr.read().strip().splitlines()
            messages.say("the studio did not start: %s" % (reason[-1] if reason else "no address"), 'ERROR', self)
            return {'CANCELLED'}
        threading.Thread(target=lambda: [None for _ in studio.stderr], daemon=True).start()
        _studios.append(studio)
        webbrowser.open(address)
        messages.say("the studio serves frame %d at %s" % (values.frame, address), 'INFO', self)
        return {'FINISHED'}


class KestrionLine(bpy.types.PropertyGroup):
    """One line of the report operator."""

    level: EnumProperty(items=(('INFO', "Info", ""), ('WARNING', "Warning", ""), ('ERROR', "Error", "")))
    text: StringProperty()


# Only reports of an operator the window manager runs reach the info area,
# not those of one Python calls: invoked, the report operator waits as a
# modal operator for the window's next event (its own timer makes one) and
# reports there; executed, its lines go to the caller's reports.
class KESTRION_OT_report(bpy.types.Operator):
    """Shows lines of the add-on in the info area"""

    bl_idname = "kestrion.report"
    bl_label = "Kestrion Report"
    bl_options = {'INTERNAL'}

    lines: CollectionProperty(type=KestrionLine)

    def _report_lines(self, context):
        for line in self.lines:
            self.report({line.level}, "Kestrion: " + line.text)
        # Blender redraws Info editors for new reports through a timer of
        # the active window, and there is none while no window has focus.
        for window in context.window_manager.windows:
            for area in window.screen.areas:
                if area.type == 'INFO':
                    area.tag_redraw()

    def invoke(self, context, event):
        manager = context.window_manager
        self._timer = manager.event_timer_add(0.01, window=context.window)
        manager.modal_handler_add(self)
        return {'RUNNING_MODAL'}

    def modal(self, context, event):
        context.window_manager.event_timer_remove(self._timer)
        self._report_lines(context)
        return {'FINISHED', 'PASS_THROUGH'}

    def execute(self, context):
        self._report_lines(context)
        return {'FINISHED'}
