"""One frame through Kestrion: in this process through the kestrion Python
module when it imports, else through the kestrion program; the report
line appended to kestrion.jsonl beside the frame."""

import json
import os
import re
import shutil
import subprocess
import sys
import warnings

import bpy

from .settings import preferences


class FilterError(Exception):
    """A frame that was not filtered, with the reason in one line."""


_module = None
_module_tried = False


def kestrion_module():
    """The kestrion Python module, or None when it does not import here."""
    global _module, _module_tried
    if not _module_tried:
        _module_tried = True
        prefs = preferences()
        folder = bpy.path.abspath(prefs.module_folder) if prefs and prefs.module_folder else ""
        if folder and folder not in sys.path:
            sys.path.insert(0, folder)
        try:
            import kestrion
            kestrion.module_path()
            _module = kestrion
        except Exception:  # an ImportError, or a module file it cannot find
            _module = None
    return _module


def kestrion_program():
    """The kestrion program: the preferences' one, else the one on PATH."""
    prefs = preferences()
    named = bpy.path.abspath(prefs.program) if prefs and prefs.program else ""
    if named:
        if not (os.path.isfile(named) and os.access(named, os.X_OK)):
            raise FilterError("the kestrion program '%s' set in the add-on's preferences cannot be run" % named)
        return named
    found = shutil.which("kestrion")
    if not found:
        raise FilterError("neither the kestrion Python module nor the kestrion program was found: "
                          "install one, or set the program in the add-on's preferences")
    return found


def output_path(pattern, frame):
    """The pattern's path for a frame: its last run of '#' holds the frame
    number padded to the run's length (four digits before the extension
    when it has none), '//' is the blend file's folder."""
    path = bpy.path.abspath(pattern)
    runs = list(re.finditer(r"#+", os.path.basename(path)))
    folder, name = os.path.split(path)
    if runs:
        run = runs[-1]
        name = name[:run.start()] + str(frame).zfill(len(run.group())) + name[run.end():]
    else:
        stem, extension = os.path.splitext(name)
        name = "%s%04d%s" % (stem, frame, extension)
    return os.path.abspath(os.path.join(folder, name))


def make_folder(path):
    folder = os.path.dirname(path)
    try:
        os.makedirs(folder, exist_ok=True)
    except FileExistsError:
        raise FilterError("cannot make the output folder '%s': a file of that name is in the way" % folder)
    except OSError as error:
        raise FilterError("cannot make the output folder '%s': %s" % (folder, error.strerror or error))


def append_report(output, line):
    """Adds one JSON line to kestrion.jsonl in the output's folder, in one
    write so that lines of frames filtered at once never interleave."""
    path = os.path.join(os.path.dirname(output), "kestrion.jsonl")
    data = (json.dumps(line, sort_keys=True) + "\n").encode()
    descriptor = os.open(path, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
    try:
        os.write(descriptor, data)
    finally:
        os.close(descriptor)


def _through_module(kestrion, source, output, values):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            report = kestrion.render(source, output, **values.module_options())
        except kestrion.Error as error:
            report = getattr(error, "report", None) or {"status": "failed"}
            report["error"] = str(error)
        except (TypeError, ValueError) as error:
            report = {"status": "failed", "error": str(error)}
    return report, [str(w.message) for w in caught]


def _through_program(program, source, output, values):
    command = [program, "render", source, "-o", output] + values.command_options() + ["--report", "json", "-q"]
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=24 * 3600)
    except OSError as error:
        raise FilterError("cannot run '%s': %s" % (program, error.strerror or error))
    report = None
    for text in done.stdout.splitlines():
        if text.startswith("{"):
            report = json.loads(text)
    messages = [text.removeprefix("kestrion: ") for text in done.stderr.splitlines() if text.strip()]
    if report is None:
        report = {"status": "failed"}
    if done.returncode != 0:
        report["status"] = "failed"
        report["error"] = report.get("error") or (messages[-1] if messages else "exit code %d" % done.returncode)
        messages = messages[:-1]
    return report, messages


def filter_frame(scene, source, values):
    """Filters the Blender EXR at `source` with the frame's values into the
    output pattern's file; returns (report line, warnings). A failure
    raises FilterError after its report line is written where it can be."""
    output = output_path(scene.kestrion.output, values.frame)
    make_folder(output)
    kestrion = kestrion_module()
    if kestrion is not None:
        via = "module"
        report, messages = _through_module(kestrion, source, output, values)
    else:
        via = "program"
        report, messages = _through_program(kestrion_program(), source, output, values)
    report = dict(report)
    report["frame"] = values.frame
    report["blender"] = {
        "input": source,
        "via": via,
        "focusFrom": values.focus_from.lower(),
        "focusObject": values.focus_object,
        "heldFrom": values.held_from,
        "options": values.command_options(),
    }
    append_report(output, report)
    if report.get("status") == "failed":
        raise FilterError(report.get("error") or "the filter failed")
    return output, report, messages
