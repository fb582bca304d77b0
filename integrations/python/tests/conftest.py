"""Frames for the tests: written by the test frame writer as OpenEXR files
and as raw planes, so that a frame filtered in memory can be compared with
`kestrion render` of the same file."""

import os
import subprocess
from dataclasses import dataclass
from pathlib import Path

import numpy as np
import pytest

# Review images in the plain encode, whatever colour configuration this
# machine has: neither $OCIO nor an installed Blender's, in this process
# (kestrion.render) and in the commands it starts.
os.environ.pop("OCIO", None)
os.environ["KESTRION_BLENDER_DATA"] = ""


@dataclass
class Frame:
    path: Path
    colour: np.ndarray
    depth: np.ndarray
    object_ids: np.ndarray = None
    material_ids: np.ndarray = None


def _tool(name):
    value = os.environ.get(name)
    if not value:
        pytest.skip(f"{name} is not set (run the tests through CTest)")
    return value


@pytest.fixture(scope="session")
def app():
    """The kestrion command of the same build."""
    return _tool("KESTRION_APP")


@pytest.fixture(scope="session")
def frame_writer():
    return _tool("KESTRION_TEST_FRAMES")


@pytest.fixture
def make_frame(frame_writer, tmp_path):
    """make_frame(width, height, dtype, channels, ids=False) -> Frame."""

    def make(width, height, dtype, channels, ids=False):
        path = tmp_path / f"frame-{width}x{height}-{dtype}-{channels}.exr"
        kind = "half" if dtype == "float16" else "float"
        words = [frame_writer, "write", str(path), str(width), str(height), kind,
                 str(channels)] + (["ids"] if ids else [])
        subprocess.run(words, check=True)
        colour = np.fromfile(f"{path}.colour", dtype=dtype)
        depth = np.fromfile(f"{path}.depth", dtype=np.float32)
        frame = Frame(path, colour.reshape(height, width, channels),
                      depth.reshape(height, width))
        if ids:
            frame.object_ids = np.fromfile(f"{path}.objectId",
                                           dtype=np.int32).reshape(height, width)
            frame.material_ids = np.fromfile(f"{path}.materialId",
                                             dtype=np.int32).reshape(height, width)
        return frame

    return make


@pytest.fixture
def read_colour(frame_writer):
    """read_colour(path, like) -> the colour of an OpenEXR file as an array
    of `like`'s shape and dtype."""

    def read(path, like):
        raw = Path(f"{path}.raw")
        subprocess.run([frame_writer, "read", str(path), str(raw)], check=True)
        return np.fromfile(raw, dtype=like.dtype).reshape(like.shape)

    return read


@pytest.fixture
def run_render(app):
    """run_render(input, output, *words): `kestrion render` as a process."""

    def run(input_path, output_path, *words):
        subprocess.run([app, "render", str(input_path), "-o", str(output_path), "-q",
                        *words], check=True, stdout=subprocess.DEVNULL)

    return run


def same_bits(a, b):
    """Whether two arrays hold the same samples, bit for bit (NaN too)."""
    assert a.shape == b.shape and a.dtype == b.dtype
    unsigned = np.uint16 if a.dtype == np.float16 else np.uint32
    return np.array_equal(a.view(unsigned), b.view(unsigned))
