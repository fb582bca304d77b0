"""Lines for the user, each once on the console and once in the info area.

A background Blender has no info area: the line is printed at once. With a
window, the line becomes a report of an operator run from the main thread
(renders call the add-on from their own thread, where the interface must
not be touched), and Blender prints the report on the console itself. A
report reaches the info area only from an operator the window manager
runs, not from one that Python calls, so the report operator waits, as a
modal operator, for the next event of the window, and reports there."""

import atexit
import queue
import sys

import bpy

_waiting = queue.SimpleQueue()
_POLL_SECONDS = 0.2


def _print(level, text):
    print("Kestrion: " + text, file=sys.stderr if level == 'ERROR' else sys.stdout, flush=True)


def say(text, level='INFO', operator=None):
    """One line, 'Kestrion: text', on the console and in the info area;
    through `operator`'s own reports when an operator says it."""
    if bpy.app.background:
        _print(level, text)
    elif operator is not None:
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


def _drain():
    while True:
        try:
            yield _waiting.get_nowait()
        except queue.Empty:
            return


def _report(lines):
    """Hands the lines, (level, text) pairs, to the report operator in the
    first window; printed instead when there is none."""
    windows = bpy.context.window_manager.windows if bpy.context.window_manager else ()
    if not windows:
        for level, text in lines:
            _print(level, text)
        return
    with bpy.context.temp_override(window=windows[0]):
        bpy.ops.kestrion.report('INVOKE_DEFAULT',
                                lines=[{"name": "", "level": level, "text": text} for level, text in lines])


def _poll():
    lines = []
    for kind, first, second in _drain():
        if kind == "report":
            lines.append((first, second))
            continue
        try:
            first()
        except Exception as error:  # one failed call must not stop the rest
            _print('ERROR', str(error))
    if lines:
        try:
            _report(lines)
        except Exception as error:
            for level, text in lines:
                _print(level, text)
            _print('ERROR', "cannot show these lines in the info area: %s" % error)
    return _POLL_SECONDS


def _flush_to_console():
    """Lines still waiting when Blender ends go to the console."""
    for kind, first, second in _drain():
        if kind == "report":
            _print(first, second)


def register():
    if not bpy.app.timers.is_registered(_poll):
        bpy.app.timers.register(_poll, first_interval=_POLL_SECONDS, persistent=True)
    atexit.register(_flush_to_console)


def unregister():
    if bpy.app.timers.is_registered(_poll):
        bpy.app.timers.unregister(_poll)
    atexit.unregister(_flush_to_console)
    _flush_to_console()
