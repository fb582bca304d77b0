"""Runs Blender, headless or with a window, with the add-on enabled, in a
user folder of the test's own, and kestrion itself for comparison."""

import json
import os
import shutil
import subprocess
from pathlib import Path

import pytest

HERE = Path(__file__).parent
ADDON = HERE.parent / "kestrion_blender"
BLENDER = os.environ.get("KESTRION_BLENDER") or shutil.which("blender")
APP = os.environ.get("KESTRION_APP") or shutil.which("kestrion")
XVFB_RUN = shutil.which("xvfb-run")

if not BLENDER or not APP:
    pytest.skip("needs Blender and the kestrion program", allow_module_level=True)


class Blender:
    def __init__(self, folder):
        self.folder = folder
        scripts = folder / "scripts" / "addons"
        scripts.mkdir(parents=True)
        (scripts / "kestrion_blender").symlink_to(ADDON)
        (folder / "tmp").mkdir()
        self.module = True
        self.env = {}

    def run(self, *args, window=False):
        """Blender headless, or with a window on a virtual X display."""
        env = dict(os.environ)
        env.update(BLENDER_USER_SCRIPTS=str(self.folder / "scripts"), BLENDER_USER_CONFIG=str(self.folder / "config"),
                   TMPDIR=str(self.folder / "tmp"), PATH=os.path.dirname(APP) + os.pathsep + env.get("PATH", ""))
        if not self.module:
            # A kestrion that does not import, ahead of the built one.
            blocked = self.folder / "blocked"
            blocked.mkdir(exist_ok=True)
            (blocked / "kestrion.py").write_text("raise ImportError('no kestrion here')\n")
            env["PYTHONPATH"] = str(blocked) + os.pathsep + env.get("PYTHONPATH", "")
        env.update(self.env)
        start = [XVFB_RUN, "-a", "-s", "-screen 0 1280x800x24", BLENDER] if window else [BLENDER, "-b"]
        done = subprocess.run([*start, "--factory-startup", "--addons", "kestrion_blender", *map(str, args)],
                              capture_output=True, text=True, env=env, timeout=600)
        done.output = done.stdout + done.stderr
        assert done.returncode == 0, done.output
        assert "Traceback" not in done.output, done.output
        return done

    def scene(self, kind="moving"):
        """Saves a test scene; returns its file and its facts."""
        blend, facts = self.folder / "scene.blend", self.folder / "facts.json"
        self.run("--python", HERE / "scene.py", "--", kind, blend, facts)
        return blend, json.loads(facts.read_text())

    def kestrion_lines(self, done):
        return [line for line in done.output.splitlines() if line.startswith("Kestrion: ")]


@pytest.fixture
def blender(tmp_path):
    return Blender(tmp_path)


def reports(folder):
    return [json.loads(line) for line in (folder / "kestrion.jsonl").read_text().splitlines()]


def command(source, options, out):
    """`kestrion render SOURCE -o OUT` with the options the add-on used."""
    subprocess.run([APP, "render", str(source), "-o", str(out), *options, "-q"], check=True)
    return out.read_bytes()
