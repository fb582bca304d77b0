"""Depth-of-field filtering with the Kestrion filter module."""

import os
from typing import Any, Callable, Dict, Mapping, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str

Keys = Union[float, Mapping[int, float], Sequence[Tuple[int, float]]]
Progress = Callable[[str, float], Any]
PathLike = Union[str, "os.PathLike[str]"]


class Error(RuntimeError):
    """A frame that could not be filtered, naming the file or part at
    fault. Raised by render() with the frame's report as `report`."""
    report: Dict[str, Any]


class Warning(UserWarning):
    """Something about a frame worth knowing that did not stop it."""


def filter(colour: npt.ArrayLike, depth: npt.ArrayLike, *,
           focus_depth: Optional[float] = None,
           focus_pixel: Optional[Tuple[int, int]] = None,
           focus_object: Optional[int] = None,
           object_ids: Optional[npt.ArrayLike] = None,
           material_ids: Optional[npt.ArrayLike] = None,
           range: float,
           size: Union[float, str],
           source: str = "whole",
           source_id: int = 0,
           alpha: str = "premultiplied",
           layered: bool = False,
           threads: int = 0,
           progress: Optional[Progress] = None) -> np.ndarray:
    """Filters one frame: (H, W, 3|4) float32/float16 colour by (H, W)
    distances; returns a new array of colour's shape and dtype."""


class Filter:
    """The module's filter kept between calls: its record and its Range and
    Size tracks."""

    def __init__(self, *, range: Optional[Keys] = None,
                 size: Optional[Keys] = None, source: str = "whole",
                 source_id: int = 0, record: Optional[bytes] = None) -> None: ...

    record: bytes
    """The 284-byte configuration record."""

    @property
    def range_keys(self) -> Dict[int, float]: ...
    @range_keys.setter
    def range_keys(self, keys: Keys) -> None: ...

    @property
    def size_keys(self) -> Dict[int, float]: ...
    @size_keys.setter
    def size_keys(self, keys: Keys) -> None: ...

    def range_at(self, frame: int) -> float: ...
    def size_at(self, frame: int) -> float: ...

    def filter(self, colour: npt.ArrayLike, depth: npt.ArrayLike, *,
               focus_depth: Optional[float] = None,
               focus_pixel: Optional[Tuple[int, int]] = None,
               focus_object: Optional[int] = None,
               object_ids: Optional[npt.ArrayLike] = None,
               material_ids: Optional[npt.ArrayLike] = None,
               frame: int = 0,
               alpha: str = "premultiplied",
               layered: bool = False,
               threads: int = 0,
               progress: Optional[Progress] = None) -> np.ndarray: ...


def render(input: PathLike, output: PathLike, *,
           progress: Optional[Progress] = None, **options: Any) -> Dict[str, Any]:
    """`kestrion render INPUT -o OUTPUT` with the command's options as
    keywords (focus_depth=12.5, layers="all"); returns the frame's report."""


def inspect(path: PathLike, *,
            pixel: Optional[Tuple[int, int]] = None) -> Dict[str, Any]:
    """What `kestrion inspect` shows of an OpenEXR file, as data."""


def module_path() -> str:
    """The filter module file kestrion loads."""
