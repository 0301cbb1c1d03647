"""Interferometer measurement data files as NumPy arrays, rotated as the spinmap tool rotates them."""

import os
from types import MappingProxyType
from typing import Any, Dict, Iterable, List, Optional, Tuple, TypedDict, Union

import numpy as np
import numpy.typing as npt

__version__: str

INVALID_HEIGHT: int
"""Heights from this value (2147483640) up are invalid points."""

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_Window = Tuple[int, int, int, int]

class Error(Exception):
    """A failure of the data library, with the message the Spinmap tools print."""

    message: str
    code: int
    """The error code."""
    name: str
    """The error code's name, "ERR_..."."""
    def __init__(self, message: str, code: int, name: str) -> None: ...

class Measurement:
    """One measurement data file in memory, as read() gives it.

    Arrays are views of its data: they outlive it, and write() writes the
    changes made through them. Coordinates are camera pixels, (0, 0) the
    centre of the upper-left pixel, x to the right and y downward.
    """

    @property
    def heights(self) -> Optional[npt.NDArray[np.int32]]:
        """Heights in file units, rows by columns of the height window; invalid
        points hold INVALID_HEIGHT. Writable; None without height data."""
    @heights.setter
    def heights(self, values: npt.ArrayLike) -> None:
        """Copies int32-compatible values of the window's shape into the heights."""
    @property
    def valid(self) -> Optional[npt.NDArray[np.bool_]]:
        """True where a height is valid (a new array)."""
    def heights_nm(self) -> Optional[npt.NDArray[np.float64]]:
        """Heights in nanometres (height_scale per file unit), NaN where
        invalid; ValueError when the header gives no scale."""
    @property
    def height_scale(self) -> Optional[float]:
        """Nanometres of surface height of one file unit, or None."""
    @property
    def header(self) -> MappingProxyType[str, Union[int, float, Tuple[float, ...]]]:
        """The header's named fields, keyed as spinmap-info shows them; lengths
        in metres, TimeStamp in seconds since 1970, coordinates in pixels."""
    @property
    def height_window(self) -> Optional[_Window]:
        """(x, y, width, height) in camera pixels of the heights, or None."""
    @property
    def intensity_window(self) -> Optional[_Window]:
        """(x, y, width, height) in camera pixels of each intensity frame, or None."""
    @property
    def intensity(self) -> Optional[npt.NDArray[np.uint16]]:
        """Intensity frames by rows by columns (writable), or None."""
    @property
    def fiducials(self) -> npt.NDArray[np.float32]:
        """Fiducial points, shape (4, 7, 2): group A to D, point, (x, y) in
        camera pixels; NaN beyond each group's count. Read-only."""
    @property
    def path(self) -> Optional[str]:
        """The file it was read from, or None."""

def read(path: _Path) -> Measurement:
    """Reads a whole data file. FileNotFoundError when it does not exist,
    Error when it cannot be read as a data file."""

def write(path: _Path, measurement: Measurement, overwrite: bool = False) -> None:
    """Writes the measurement whole or not at all; FileExistsError for an
    existing file unless overwrite is true, Error when the write fails."""

_Pivot = Optional[Tuple[float, float]]
_Value = Union[int, float, str, None, Tuple[Any, ...], List[Any], Dict[str, Any]]

def rotate(measurement: Measurement, angle: float, pivot: _Pivot = None, interpolate: bool = True) -> Measurement:
    """Turns heights and fiducials as spinmap does; a new Measurement.

    angle: degrees, counter-clockwise positive (row 0 at the top).
    pivot: (x, y) in camera pixels; None for the valid points' centre.
    interpolate: False is spinmap -NoInterp (values only move)."""

def rotate_file(input: _Path, output: Optional[_Path] = None, *, angle: float, pivot: _Pivot = None,
                interpolate: bool = True, overwrite: bool = False) -> Dict[str, _Value]:
    """spinmap's run on files; output None replaces the input (needs
    overwrite=True). Returns the verbose report by key, with points_in,
    points_out, points_outside, pivot, method, input_window, output_window
    and report (the text)."""

class _Summary(TypedDict):
    rotated: List[str]
    failed: Dict[str, str]

def rotate_files(paths: Iterable[_Path], *, angle: float, pivot: _Pivot = None, interpolate: bool = True,
                 output_dir: Optional[_Path] = None, overwrite: bool = False, client: Any = None,
                 progress: Optional[bool] = None, workers: Optional[int] = None) -> _Summary:
    """Turns many files on a local pool of processes or a Dask client's
    workers; output_dir None replaces each in place (needs overwrite=True).
    Returns the files rotated and the failed ones with their messages."""

def info(path: _Path, angle: Optional[float] = None, pivot: _Pivot = None) -> Dict[str, _Value]:
    """What spinmap-info shows, by its keys, in its units (lengths of the
    header in micrometres, the wavelength in nanometres); with an angle
    also spinmap's forecast."""

class _Alignment(TypedDict):
    angle: float
    pivot: Tuple[float, float]
    pairs: int
    pairs_per_group: Dict[str, int]
    rms_px: float
    largest_px: float
    rms_um: Optional[float]
    largest_um: Optional[float]
    shift: Tuple[float, float]
    command: Optional[str]

def align(measurement: Measurement, reference: Measurement) -> _Alignment:
    """The turn (degrees) about a pivot (pixels) that brings the
    measurement's fiducials onto the reference's, with the residuals and
    spinmap's command line; ValueError when none can be suggested."""
