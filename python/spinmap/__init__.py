"""Interferometer measurement data files as NumPy arrays.

read(path) gives a Measurement: its header fields, its heights in file units
(int32, with a validity mask and a conversion to nanometres), its intensity
frames and its fiducials; write(path, measurement) writes one back, byte for
byte as read unless its arrays were changed. The arrays are views of the
file's data in memory, not copies. Reading and writing let go of the
interpreter's lock, so threads work on files in parallel.

info(path) gives what spinmap-info shows of a file as values, and
align(measurement, reference) the turn about a pivot that brings a
measurement's fiducials onto a reference's, with the spinmap command line
that carries it out.

Failures of the data library raise spinmap.Error with the error code and its
name; a missing input raises FileNotFoundError and an output that exists
(without overwrite=True) FileExistsError.
"""

import math as _math
import numbers as _numbers
import os as _os

__all__ = ["Error", "INVALID_HEIGHT", "Measurement", "align", "info", "read", "write"]


class Error(Exception):
    """A failure of the data library, with the message the Spinmap tools print.

    code is the error code (an int) and name its name ("ERR_..."), as the
    tools show it; str() gives the message, which names the file.
    """

    def __init__(self, message, code, name):
        super().__init__(message, code, name)
        self.message = message
        self.code = code
        self.name = name

    def __str__(self):
        return self.message

    def __reduce__(self):
        return (type(self), (self.message, self.code, self.name))


from ._spinmap import INVALID_HEIGHT, Measurement, __version__  # noqa: E402
from . import _spinmap  # noqa: E402


def read(path):
    """Reads a whole measurement data file.

    path: the file's name (str, bytes or os.PathLike).

    Returns a Measurement holding the header, the height block and the
    intensity block. The file's attributes are not checked, so a file the
    spinmap tool would refuse can still be looked at. Raises FileNotFoundError
    when the file does not exist, and spinmap.Error when it is no regular file
    or cannot be read as a data file (its code says why, for example
    ERR_NOT_A_DATA_FILE or ERR_CORRUPT_DATA_FILE).
    """
    return _spinmap.read(_os.fsencode(path))


def write(path, measurement, overwrite=False):
    """Writes a measurement as a data file.

    path: the output file's name (str, bytes or os.PathLike).
    measurement: the Measurement to write, with its arrays as they are now.
    overwrite: whether an existing file may be replaced; without it an
        existing file raises FileExistsError.

    The output is written to a temporary file beside it, which replaces the
    target only when complete: a failed write raises spinmap.Error and leaves
    no file behind and any existing one as it was. Replacing the file the
    measurement was read from flushes it to the disk first, as the spinmap
    tool does when it rewrites its input. The header format follows from the
    header (a 4096-byte header stays one), so a measurement read and written
    unchanged gives the same bytes.
    """
    _spinmap.write(_os.fsencode(path), measurement, bool(overwrite))


# The largest float: angles and pivot coordinates beyond it are refused, as
# the programs refuse them on the command line (a header holds fiducials as
# floats).
_FLOAT_LIMIT = 3.4028234663852886e38


def _finite_number(value):
    return (isinstance(value, _numbers.Real) and not isinstance(value, bool)
            and _math.isfinite(value) and abs(value) <= _FLOAT_LIMIT)


def _angle(angle):
    """The angle as a float, or ValueError in the programs' words."""
    if not _finite_number(angle):
        raise ValueError('Invalid angle "%s"' % (angle,))
    return float(angle)


def _pivot(pivot):
    """(x, y) as floats, or the programs' no-pivot value for None."""
    if pivot is None:
        return _spinmap.NO_PIVOT, _spinmap.NO_PIVOT
    try:
        x, y = pivot
    except (TypeError, ValueError):
        raise ValueError('Invalid pivot coordinates "%s"' % (pivot,)) from None
    if not (_finite_number(x) and _finite_number(y)):
        raise ValueError('Invalid pivot coordinates "%s,%s"' % (x, y))
    return float(x), float(y)


def info(path, angle=None, pivot=None):
    """What spinmap-info shows of a data file, as a dict of values.

    path: the file's name (str, bytes or os.PathLike).
    angle: degrees, counter-clockwise positive; with it, what spinmap would
        do with the file is worked out too (as spinmap-info -Angle does).
    pivot: (x, y) in camera pixels to turn about; None for the centre of
        the valid points' window, as spinmap takes it. Only with an angle.

    The keys are the report's, its values in the report's units:
    "InputFile"; "TimeStamp" (seconds since 1970-01-01 UTC); "CameraWidth"
    and "CameraHeight" (pixels); "PixelWidth", "PixelHeight" and
    "CameraRes" (micrometres); "IntfScaleFactor"; "WavelengthIn"
    (nanometres); "ObliquityFactor"; "PhaseRes" ("Normal", "High" or
    "Super"); "PryxRes" (counts per fringe); "HeightScale" (nm per file
    unit, or None); "Height Window", "Intensity Window" and "Valid Window"
    as (x, y, width, height) or None; "Intensity Frames"; "Valid Points";
    with valid points "Height Minimum", "Height Maximum", "Height
    PeakToValley", "Height Mean" and "Height RMS" in file units, each also
    with " nm" after the key in nanometres (None without a scale);
    "Fiducials Group A" to "D": lists of (x, y) in pixels.
    With an angle also "Angle"; "PivotX" and "PivotY" (the pivot spinmap
    turns about, after any adjustment); "Pivot" ("as given" or "centre of
    the valid points' window"); "Method" ("unchanged", "move values",
    "interpolate"); "Rotation" (the report's words); "Points Outside" (valid
    points turned off the camera frame); "Output Window" and "Output Points"
    (None when the run would fail); "Failure" (how it would fail, or None);
    "With NoInterp" (the report's words). A file without valid points has
    only "Angle", "Method" "refused" and "Rotation".

    Raises FileNotFoundError for a missing file, spinmap.Error when it cannot
    be read or its attributes are unsound (as spinmap-info refuses it), and
    ValueError for an angle or pivot that is not a finite number (or a pivot
    without an angle).
    """
    if angle is None:
        if pivot is not None:
            raise ValueError("The pivot needs an angle")
        return _spinmap.info(_os.fsencode(path), False, 0.0, _spinmap.NO_PIVOT, _spinmap.NO_PIVOT)
    angle = _angle(angle)
    x, y = _pivot(pivot)
    return _spinmap.info(_os.fsencode(path), True, angle, x, y)


def align(measurement, reference):
    """The turn about a pivot that carries a measurement's fiducials onto a reference's.

    measurement, reference: Measurements (from spinmap.read) of the same
    part; their fiducials are paired by group and index where both hold the
    point, and the rigid motion (turn and shift, no scale) is fitted by
    least squares, as spinmap-info -AlignTo does.

    Returns a dict: "angle" (degrees, counter-clockwise positive, as spinmap
    takes it); "pivot" ((x, y) in camera pixels, about which that turn is the
    fitted motion); "pairs" (the matched pairs) and "pairs_per_group" (a
    dict from "A" to "D" to the pairs of each group that has any); "rms_px"
    and "largest_px" (the residuals of the fit in pixels); "rms_um" and
    "largest_um" (the same in micrometres through the reference's CameraRes,
    None without one); "shift" (the reference's centre of the points minus
    the measurement's, in pixels); "command" (the spinmap command line that
    carries it out, as spinmap-info prints it, writing NAME_aligned.EXT; None
    for a measurement not read from a file).

    Raises ValueError with the reason when no turn about a pivot can be
    suggested: fewer than two matched pairs, all points at one place, no
    turn at all (a shift only), and the like.
    """
    return _spinmap.align(measurement, reference)
