"""kestrion.filter, Filter.filter and kestrion.render against the command:
the same pixels, bit for bit, as `kestrion render` writes for a file holding
the same planes."""

import pathlib

import numpy as np
import pytest

import kestrion
from conftest import same_bits


@pytest.mark.parametrize("dtype", ["float32", "float16"])
@pytest.mark.parametrize("channels", [3, 4])
@pytest.mark.parametrize("alpha", ["premultiplied", "straight"])
def test_filter_equals_render(make_frame, run_render, read_colour, tmp_path,
                              dtype, channels, alpha):
    frame = make_frame(61, 37, dtype, channels)
    out = tmp_path / "out.exr"
    run_render(frame.path, out, "--focus-depth", "12.5", "--range", "6",
               "--size", "4", "--alpha", alpha)
    expected = read_colour(out, frame.colour)
    given = frame.colour.copy()
    result = kestrion.filter(frame.colour, frame.depth, focus_depth=12.5,
                             range=6, size=4, alpha=alpha)
    assert result.dtype == frame.colour.dtype
    assert result.shape == frame.colour.shape
    assert same_bits(result, expected)
    assert not same_bits(result, frame.colour)  # the frame did blur
    assert same_bits(frame.colour, given)  # the input is left alone


@pytest.mark.parametrize("alpha", ["premultiplied", "straight"])
def test_layered_filter_equals_layered_render(make_frame, run_render,
                                              read_colour, tmp_path, alpha):
    frame = make_frame(61, 37, "float32", 4)
    out = tmp_path / "out.exr"
    run_render(frame.path, out, "--focus-depth", "12.5", "--range", "6",
               "--size", "4", "--alpha", alpha, "--layered")
    expected = read_colour(out, frame.colour)
    result = kestrion.filter(frame.colour, frame.depth, focus_depth=12.5,
                             range=6, size=4, alpha=alpha, layered=True)
    assert same_bits(result, expected)
    plain = kestrion.filter(frame.colour, frame.depth, focus_depth=12.5,
                            range=6, size=4, alpha=alpha)
    assert not same_bits(result, plain)
    report = kestrion.render(frame.path, tmp_path / "again.exr",
                             focus_depth=12.5, range=6, size=4, alpha=alpha,
                             layered=True)
    assert report["layers"] > 1
    assert (tmp_path / "again.exr").read_bytes() == out.read_bytes()
    with pytest.raises(TypeError, match="layered: True or False"):
        kestrion.filter(frame.colour, frame.depth, focus_depth=12.5, range=6,
                        size=4, layered=1)


def test_ids_source_and_focus_object(make_frame, run_render, read_colour,
                                     tmp_path):
    frame = make_frame(48, 40, "float32", 4, ids=True)
    out = tmp_path / "out.exr"
    run_render(frame.path, out, "--focus-object", "3", "--range", "4",
               "--size", "5%", "--source", "object:2")
    expected = read_colour(out, frame.colour)
    result = kestrion.filter(frame.colour, frame.depth, focus_object=3,
                             object_ids=frame.object_ids,
                             material_ids=frame.material_ids.astype(np.float32),
                             range=4, size="5%", source="object", source_id=2)
    assert same_bits(result, expected)


def test_focus_pixel_and_strided_colour(make_frame, run_render, read_colour,
                                        tmp_path):
    frame = make_frame(40, 30, "float16", 4)
    out = tmp_path / "out.exr"
    run_render(frame.path, out, "--focus-pixel", "7,9", "--range", "3",
               "--size", "6", "--source", "whole")
    expected = read_colour(out, frame.colour)
    # The same samples in a bigger buffer, every other pixel, bottom-up.
    wide = np.zeros((30, 80, 5), dtype=np.float16)
    wide[::-1, ::2, :4] = frame.colour
    view = wide[::-1, ::2, :4]
    result = kestrion.filter(view, frame.depth, focus_pixel=(7, 9), range=3,
                             size=6)
    assert result.flags.c_contiguous
    assert same_bits(result, expected)


def test_render_writes_what_the_command_writes(make_frame, run_render,
                                               tmp_path):
    frame = make_frame(33, 21, "float16", 4, ids=True)
    by_command = tmp_path / "command.exr"
    by_function = tmp_path / "function.exr"
    run_render(frame.path, by_command, "--focus-depth", "1:8,20:16",
               "--frame", "10", "--range", "5", "--size", "3",
               "--source", "material:1")
    report = kestrion.render(frame.path, by_function,
                             focus_depth={1: 8, 20: 16}, frame=10, range=5,
                             size=3, source="material:1")
    assert by_function.read_bytes() == by_command.read_bytes()
    assert report["status"] == "done"
    assert report["focusDepth"] == pytest.approx(8 + 8 * 9 / 19)
    assert (report["width"], report["height"]) == (33, 21)


SMALL_VIEW = (pathlib.Path(__file__).resolve().parents[3] / "tests" / "support"
              / "small_view.ocio")


def test_render_views_review_images_as_the_command_does(make_frame,
                                                        run_render, tmp_path):
    frame = make_frame(33, 21, "float32", 4)
    by_command = tmp_path / "command.png"
    by_function = tmp_path / "function.png"
    plain = tmp_path / "plain.png"
    view = ["--ocio-config", str(SMALL_VIEW), "--ocio-display", "sRGB",
            "--ocio-view", "Dim"]
    run_render(frame.path, by_command, "--focus-depth", "8", "--range", "5",
               "--size", "3", *view)
    kestrion.render(frame.path, by_function, focus_depth=8, range=5, size=3,
                    ocio_config=str(SMALL_VIEW), ocio_display="sRGB",
                    ocio_view="Dim")
    kestrion.render(frame.path, plain, focus_depth=8, range=5, size=3,
                    ocio_config="none")
    assert by_function.read_bytes() == by_command.read_bytes()
    assert by_function.read_bytes() != plain.read_bytes()
    with pytest.raises(ValueError, match="no view 'Nope'.*Dim"):
        kestrion.render(frame.path, tmp_path / "refused.png", focus_depth=8,
                        range=5, size=3, ocio_config=str(SMALL_VIEW),
                        ocio_display="sRGB", ocio_view="Nope")
    assert not (tmp_path / "refused.png").exists()


def test_kept_filter_follows_its_keys(make_frame, run_render, read_colour,
                                      tmp_path):
    frame = make_frame(30, 24, "float32", 3)
    out = tmp_path / "out.exr"
    run_render(frame.path, out, "--focus-depth", "10", "--frame", "5",
               "--range", "1:2,9:10", "--size", "1:3,9:7")
    expected = read_colour(out, frame.colour)
    kept = kestrion.Filter(range=20, size=2)
    first = kept.filter(frame.colour, frame.depth, focus_depth=10, frame=5)
    kept.range_keys = {1: 2, 9: 10}
    kept.size_keys = [(1, 3), (9, 7)]
    assert kept.range_keys == {1: 2.0, 9: 10.0}
    assert kept.range_at(5) == pytest.approx(6.0)
    assert kept.size_at(5) == pytest.approx(5.0)
    again = kept.filter(frame.colour, frame.depth, focus_depth=10, frame=5)
    assert same_bits(again, expected)
    assert not same_bits(first, again)


def test_record_round_trip(make_frame):
    frame = make_frame(20, 16, "float32", 4, ids=True)
    kept = kestrion.Filter(range=7, size=3, source="material", source_id=2)
    record = kept.record
    assert isinstance(record, bytes) and len(record) == 284
    copy = kestrion.Filter(record=record)
    assert copy.record == record
    assert copy.range_keys == {0: 7.0} and copy.size_keys == {0: 3.0}
    args = dict(focus_depth=9, object_ids=frame.object_ids,
                material_ids=frame.material_ids)
    assert same_bits(copy.filter(frame.colour, frame.depth, **args),
                     kept.filter(frame.colour, frame.depth, **args))
    other = kestrion.Filter(range=7, size=3)
    assert other.record != record
    other.record = record
    assert other.record == record


def test_inspect_reports_what_the_file_holds(make_frame):
    frame = make_frame(16, 12, "float16", 4, ids=True)
    data = kestrion.inspect(frame.path, pixel=(3, 2))
    assert data["usable"]
    assert data["roles"]["colour"] == ["R", "G", "B"]
    assert data["roles"]["depth"]["name"] == "Z"
    assert sum(data["object_ids"].values()) == 16 * 12
    values = data["pixel"]["parts"][0]
    assert values["Z"] == pytest.approx(float(frame.depth[2, 3]))
    assert values["objectId"] == frame.object_ids[2, 3]
