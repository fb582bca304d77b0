"""Lines for the user: on the console at once, and in Blender's info area
through an operator run on the main thread (renders call the add-on from
their own thread, where the interface must not be touched)."""

import queue
import sys

import bpy

_waiting = queue.SimpleQueue()
_POLL_SECONDS = 0.2


def say(text, level='INFO', operator=None):
    """One line, 'Kestrion: text', on the console and in the info area;
    through `operator`'s own reports when an operator says it."""
    print("Kestrion: " + text, file=sys.stderr if level == 'ERROR' else sys.stdout, flush=True)
    if bpy.app.background:
        return
    if operator is not None:
        operator.report({level}, "Kestrion: " + text)
    else:
        _waiting.put(("report", level, text))


def on_main_thread(work):
    """Runs work() on the main thread: at once in a background Blender
    (whose renders run on it), else at the next poll."""
    if bpy.app.background:
        work()
    else:
        _waiting.put(("call", work, None))


def _poll():
    while True:
        try:
            kind, first, second = _waiting.get_nowait()
        except queue.Empty:
            return _POLL_SECONDS
        try:
            if kind == "report":
                bpy.ops.kestrion.report(level=first, message=second)
            else:
                first()
        except Exception as error:  # a report must never stop the rest
            print("Kestrion: " + str(error), file=sys.stderr, flush=True)


def register():
    if not bpy.app.timers.is_registered(_poll):
        bpy.app.timers.register(_poll, first_interval=_POLL_SECONDS, persistent=True)


def unregister():
    if bpy.app.timers.is_registered(_poll):
        bpy.app.timers.unregister(_poll)
