"""A person's Blender session with a window (under Xvfb), on a saved test
scene: `blender scene.blend --python ui_session.py -- OUT.json BLOCKER`.

Two F12 renders, started as the Render menu starts them: the first one
filtered; the second with the output under BLOCKER, a regular file, so
that the output folder cannot be made. OUT.json gets the lines of the info
area after each render and what the renders left behind."""

import json
import sys

import bpy

out_path, blocker = sys.argv[sys.argv.index("--") + 1:][:2]
facts = {"renders": []}
WAIT_SECONDS = 0.25
GIVE_UP_SECONDS = 120


def window():
    return bpy.context.window_manager.windows[0]


def info_area():
    """The timeline of the default layout, made an Info editor."""
    for area in window().screen.areas:
        if area.type in ('INFO', 'DOPESHEET_EDITOR'):
            area.type = 'INFO'
            return area
    raise RuntimeError("no area to show the info editor in")


def info_lines():
    """The Kestrion lines of the info area, read through its Copy."""
    area = info_area()
    region = next(region for region in area.regions if region.type == 'WINDOW')
    manager = bpy.context.window_manager
    manager.clipboard = ""
    with bpy.context.temp_override(window=window(), area=area, region=region):
        bpy.ops.info.select_all(action='SELECT')
        bpy.ops.info.report_copy()
    return [line for line in manager.clipboard.splitlines() if "Kestrion" in line]


def render():
    with bpy.context.temp_override(window=window()):
        return sorted(bpy.ops.render.render('INVOKE_DEFAULT'))


def steps():
    """The session, one step per timer call; a number is a wait."""
    info_area()
    yield 1.0
    for output in (None, blocker + "/####.exr"):
        if output:
            bpy.context.scene.kestrion.output = output
        before = len(info_lines())
        started = render()
        waited = 0.0
        # The render's job, then the add-on's lines of its last frame.
        while waited < GIVE_UP_SECONDS and (bpy.app.is_job_running('RENDER') or len(info_lines()) == before):
            waited += WAIT_SECONDS
            yield WAIT_SECONDS
        yield 1.0  # lines that would come late
        result = bpy.data.images.get("Kestrion Result")
        facts["renders"].append({"started": started, "info": info_lines()[before:],
                                 "image": bpy.path.abspath(result.filepath) if result else None})


def run(session=steps()):
    try:
        return next(session)
    except StopIteration:
        pass
    except Exception as error:
        facts["error"] = "%s: %s" % (type(error).__name__, error)
    with open(out_path, "w") as out:
        json.dump(facts, out)
    bpy.ops.wm.quit_blender()
    return None


bpy.app.timers.register(run, first_interval=1.0)
