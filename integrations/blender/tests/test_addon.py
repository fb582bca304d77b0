"""The add-on inside Blender: tiny Cycles scenes rendered headless, each
filtered frame compared byte for byte with `kestrion render` of Blender's
own OpenEXR of that frame."""

import json
import os

import pytest

from conftest import HERE, command, reports


def check_equal_to_command(blender, line, source):
    expected = command(source, line["blender"]["options"], blender.folder / "expected.exr")
    assert (blender.folder / "kestrion" / ("%04d.exr" % line["frame"])).read_bytes() == expected


@pytest.mark.parametrize("route", ["module", "program"])
def test_animation_filters_every_frame(blender, route):
    blender.module = route == "module"
    blend, facts = blender.scene()
    done = blender.run(blend, "-a")
    lines = reports(blender.folder / "kestrion")
    assert [line["frame"] for line in lines] == [1, 2, 3]
    for line in lines:
        frame = str(line["frame"])
        assert line["status"] != "failed", line
        assert line["blender"]["via"] == route
        assert line["blender"]["focusObject"] == "Cube"
        assert line["focusDepth"] == pytest.approx(facts["depth"][frame], rel=1e-6)
        assert line["range"] == pytest.approx(facts["range"][frame], rel=1e-6)
        assert line["size"] == 3
        source = blender.folder / "render" / ("%04d.exr" % line["frame"])
        assert line["blender"]["input"] == str(source)  # Blender's own file, not a copy
        check_equal_to_command(blender, line, source)
    # The cube moves away: the focus follows it, and the keyed range rises.
    assert lines[0]["focusDepth"] < lines[1]["focusDepth"] < lines[2]["focusDepth"]
    assert lines[0]["range"] == 4 and lines[2]["range"] == 12
    assert len([l for l in blender.kestrion_lines(done) if "filtered into" in l]) == 3


def test_a_render_that_is_not_multilayer_openexr(blender):
    blend, _ = blender.scene()
    blender.run(blend, "--python-expr",
                "import bpy; bpy.context.scene.render.image_settings.file_format = 'PNG'", "-a")
    import kestrion
    for line in reports(blender.folder / "kestrion"):
        assert line["status"] != "failed", line
        overview = kestrion.inspect(str(blender.folder / "kestrion" / ("%04d.exr" % line["frame"])))
        assert overview["roles"]["depth"], overview["roles"]
        names = [name for part in overview["parts"] for name, _ in part["channels"]]
        assert any(name.endswith("Depth.Z") for name in names), names
    # The add-on's own copies of the renders go when Blender ends.
    assert os.listdir(blender.folder / "tmp") == []


def test_focus_behind_the_camera_keeps_the_nearest_good_focus(blender):
    blend, facts = blender.scene("behind")
    done = blender.run(blend, "-a")
    said = blender.kestrion_lines(done)
    assert any(l.startswith("Kestrion: frame 1: the focus object 'Cube' is behind the camera") for l in said), said
    assert any("frame 3: the focus object 'Cube' is behind the camera" in l and "keeps the focus of frame 2" in l
               for l in said), said
    lines = {line["frame"]: line for line in reports(blender.folder / "kestrion")}
    assert sorted(lines) == [1, 2, 3]
    for frame in (1, 3):
        assert lines[frame]["blender"]["heldFrom"] == 2
        assert lines[frame]["focusDepth"] == lines[2]["focusDepth"]
        check_equal_to_command(blender, lines[frame], blender.folder / "render" / ("%04d.exr" % frame))
    assert lines[2]["focusDepth"] == pytest.approx(facts["depth"]["2"], rel=1e-6)


def test_failures_are_one_line_each_and_the_render_goes_on(blender):
    blend, _ = blender.scene()
    (blender.folder / "blocker").write_text("a file where the output folder would be")
    done = blender.run(blend, "--python-expr", "import bpy; bpy.context.scene.kestrion.output = '//blocker/####.exr'",
                       "-a")
    said = [l for l in blender.kestrion_lines(done) if "cannot make the output folder" in l]
    assert len(said) == 3 and all(str(blender.folder / "blocker") in l for l in said), done.output
    assert sorted(os.listdir(blender.folder / "render")) == ["0001.exr", "0002.exr", "0003.exr"]

    # A filter that fails: its line, a failed report, and no output.
    done = blender.run(blend, "--python-expr",
                       "import bpy; k = bpy.context.scene.kestrion; k.source = 'MATERIAL'; k.source_id = 300", "-a")
    failed = [l for l in blender.kestrion_lines(done) if "material" in l.lower() and "300" in l]
    assert len(failed) == 3, done.output
    assert all(line["status"] == "failed" and line["error"] for line in reports(blender.folder / "kestrion"))
    assert sorted(os.listdir(blender.folder / "kestrion")) == ["kestrion.jsonl"]


def test_filter_the_last_render_again(blender):
    blend, _ = blender.scene()
    out = blender.folder / "facts-again.json"
    blender.run(blend, "--python", HERE / "actions.py", "--", "again", out)
    facts = json.loads(out.read_text())
    assert facts["result"] == ["FINISHED"]
    lines = reports(blender.folder / "kestrion")
    assert [line["frame"] for line in lines] == [1, 2, 3, 3]
    again = lines[-1]
    assert again["size"] == 5 and again["range"] == 12
    assert "--layered" in again["blender"]["options"] and again["layers"] >= 1
    assert all(line["layers"] is None for line in lines[:-1])
    assert facts["image"] == str(blender.folder / "kestrion" / "0003.exr")
    check_equal_to_command(blender, again, blender.folder / "render" / "0003.exr")


def test_filter_the_last_render_without_a_camera(blender):
    blend, _ = blender.scene()
    out = blender.folder / "facts-camera.json"
    done = blender.run(blend, "--python", HERE / "actions.py", "--", "no-camera", out)
    assert json.loads(out.read_text())["result"] == ["CANCELLED"]
    assert "Kestrion: frame 1: the scene has no active camera to focus with" in blender.kestrion_lines(done)


def test_open_in_the_studio(blender):
    blend, _ = blender.scene()
    opened = blender.folder / "opened.txt"
    browser = blender.folder / "browser"
    browser.write_text('#!/bin/sh\necho "$1" > %s\n' % opened)
    browser.chmod(0o755)
    blender.env["BROWSER"] = str(browser)
    out = blender.folder / "facts-studio.json"
    blender.run(blend, "--python", HERE / "actions.py", "--", "studio", out, opened)
    facts = json.loads(out.read_text())
    assert facts["result"] == ["FINISHED"]
    assert facts["status"] == 200 and "<html" in facts["page"].lower()
