"""The add-on in a Blender with a window, as a person uses it: F12 renders
run in a render thread of their own there, and lines reach the info area
only through the window manager."""

import json

import pytest

from conftest import HERE, XVFB_RUN, reports

pytestmark = pytest.mark.skipif(not XVFB_RUN, reason="needs xvfb-run for a virtual X display")


def test_f12_renders_are_filtered_and_problems_are_one_line(blender):
    blend, facts = blender.scene()
    blocker = blender.folder / "blocker"
    blocker.write_text("a file where the output folder would be")
    out = blender.folder / "facts-window.json"
    done = blender.run(blend, "--python", HERE / "ui_session.py", "--", out, blocker, window=True)
    session = json.loads(out.read_text())
    assert "error" not in session, session
    filtered, blocked = session["renders"]

    # The still render: filtered with the focus the render thread evaluated.
    output = blender.folder / "kestrion" / "0001.exr"
    lines = reports(blender.folder / "kestrion")
    assert len(lines) == 1 and lines[0]["status"] != "failed", lines
    assert lines[0]["frame"] == 1 and lines[0]["blender"]["focusObject"] == "Cube"
    assert lines[0]["focusDepth"] == pytest.approx(facts["depth"]["1"], rel=1e-6)
    assert lines[0]["range"] == pytest.approx(facts["range"]["1"], rel=1e-6)
    assert output.stat().st_size > 0
    assert filtered["info"] == ["Kestrion: frame 1 filtered into %s (focus %s)" % (output, "10")]
    assert filtered["image"] == str(output)

    # The output folder cannot be made: one line in the info area, one on
    # the console, no report line, and no traceback (run() checks that).
    assert len(blocked["info"]) == 1, blocked
    assert "frame 1: cannot make the output folder '%s'" % blocker in blocked["info"][0]
    said = [line for line in done.output.splitlines() if "cannot make the output folder" in line]
    assert said == ["Error: " + blocked["info"][0]], done.output
    assert len(reports(blender.folder / "kestrion")) == 1
