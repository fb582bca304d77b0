"""Bad arguments: each a TypeError or ValueError naming the argument, and
failures of files a kestrion.Error naming the file; none leaves output
behind or crashes the interpreter."""

import warnings

import numpy as np
import pytest

import kestrion


@pytest.fixture
def planes():
    colour = np.full((12, 16, 4), 0.5, dtype=np.float32)
    depth = np.linspace(1, 30, 12 * 16, dtype=np.float32).reshape(12, 16)
    return colour, depth


def call(planes, **changes):
    colour, depth = planes
    arguments = dict(colour=colour, depth=depth, focus_depth=5.0, range=4,
                     size=3)
    arguments.update(changes)
    return kestrion.filter(arguments.pop("colour"), arguments.pop("depth"),
                           **arguments)


def test_good_call_works(planes):
    assert call(planes).shape == (12, 16, 4)


@pytest.mark.parametrize("changes, error, named", [
    (dict(depth=np.zeros((12, 15), np.float32)), ValueError, "depth"),
    (dict(depth=np.zeros((12, 16), np.int32)), TypeError, "depth"),
    (dict(colour=np.zeros((12, 16, 4), np.uint16)), TypeError, "colour"),
    (dict(colour=np.zeros((12, 16, 4), np.float64)), TypeError, "colour"),
    (dict(colour=np.zeros((12, 16, 2), np.float32)), ValueError, "colour"),
    (dict(colour=np.zeros((12, 16, 5), np.float32)), ValueError, "colour"),
    (dict(colour=np.zeros((12, 16), np.float32)), ValueError, "colour"),
    (dict(colour=np.zeros((0, 16, 3), np.float32),
          depth=np.zeros((0, 16), np.float32)), ValueError, "colour"),
    (dict(colour="not an image"), TypeError, "colour"),
    (dict(size=-3), ValueError, "size"),
    (dict(size="-5%"), ValueError, "size"),
    (dict(size="150%"), ValueError, "size"),
    (dict(size="5 pixels"), ValueError, "size"),
    (dict(size=None), TypeError, "size"),
    (dict(range=0), ValueError, "range"),
    (dict(range=float("nan")), ValueError, "range"),
    (dict(focus_depth=None), ValueError, "focus_depth"),
    (dict(focus_pixel=(1, 1)), ValueError, "focus_pixel"),
    (dict(focus_depth=None, focus_pixel=(16, 3)), ValueError, "focus_pixel"),
    (dict(focus_depth=None, focus_object=2), ValueError, "focus_object"),
    (dict(object_ids=np.full((12, 16), 1.5)), ValueError, "object_ids"),
    (dict(object_ids=np.full((12, 16), 70000)), ValueError, "object_ids"),
    (dict(material_ids=np.full((12, 16), 300)), ValueError, "material_ids"),
    (dict(source="objects"), ValueError, "source"),
    (dict(source="object", source_id=70000), ValueError, "source_id"),
    (dict(source_id=3), ValueError, "source_id"),
    (dict(alpha="multiplied"), ValueError, "alpha"),
    (dict(threads=-1), ValueError, "threads"),
    (dict(threads=2.5), TypeError, "threads"),
    (dict(progress=5), TypeError, "progress"),
    (dict(rnage=4), TypeError, "rnage"),
])
def test_bad_argument_is_named(planes, changes, error, named):
    with pytest.raises(error, match=named):
        call(planes, **changes)


def test_missing_range_is_named(planes):
    colour, depth = planes
    with pytest.raises(TypeError, match="'range'"):
        kestrion.filter(colour, depth, focus_depth=3, size=2)


def test_filter_keywords_are_checked(planes):
    colour, depth = planes
    with pytest.raises(TypeError, match="rnage"):
        kestrion.Filter(rnage=3)
    with pytest.raises(ValueError, match="record"):
        kestrion.Filter(record=b"\0" * 283)
    with pytest.raises(ValueError, match="record"):
        kestrion.Filter(record=b"\0" * 284)
    kept = kestrion.Filter(range=3, size=2)
    with pytest.raises(ValueError, match="size"):
        kept.size_keys = {0: 0.5}
    with pytest.raises(ValueError, match="frame"):
        kept.filter(colour, depth, focus_depth=3, frame=-1)
    with pytest.raises(TypeError, match="size"):
        kept.filter(colour, depth, focus_depth=3, size=2)


def test_render_errors_name_file_and_keyword(make_frame, tmp_path):
    missing = tmp_path / "missing.exr"
    out = tmp_path / "out.exr"
    with pytest.raises(kestrion.Error, match="missing.exr") as caught:
        kestrion.render(missing, out, focus_depth=3)
    assert caught.value.report["status"] == "failed"
    assert not out.exists()
    with pytest.raises(ValueError, match="focus_depth"):
        kestrion.render(missing, out, focus_depth="4m")
    frame = make_frame(8, 6, "float16", 4)
    with pytest.raises(ValueError, match="bit_depth"):
        kestrion.render(frame.path, tmp_path / "out.png", focus_depth=3,
                        bit_depth=12)
    assert not (tmp_path / "out.png").exists()
    with pytest.raises(TypeError, match="focus_dept"):
        kestrion.render(missing, out, focus_dept=3)
    with pytest.raises(TypeError, match="depth_invert"):
        kestrion.render(missing, out, focus_depth=3, depth_invert="yes")


def test_damaged_input_keeps_the_output(make_frame, tmp_path):
    frame = make_frame(20, 10, "float16", 4)
    damaged = tmp_path / "damaged.exr"
    damaged.write_bytes(frame.path.read_bytes()[:-200])
    out = tmp_path / "out.exr"
    out.write_bytes(b"keep me")
    with pytest.raises(kestrion.Error, match="damaged.exr"):
        kestrion.render(damaged, out, focus_depth=3)
    assert out.read_bytes() == b"keep me"
    with pytest.raises(kestrion.Error, match="damaged.exr"):
        kestrion.inspect(tmp_path / "nothing" / "damaged.exr")


def test_warnings_reach_python(planes):
    colour, depth = planes
    with pytest.warns(kestrion.Warning, match="negative"):
        result = call(planes, depth=-depth)
    assert result.shape == colour.shape
    # Warnings turned into errors raise in place of the result.
    with warnings.catch_warnings():
        warnings.simplefilter("error", kestrion.Warning)
        with pytest.raises(kestrion.Warning, match="negative"):
            call(planes, depth=-depth)
