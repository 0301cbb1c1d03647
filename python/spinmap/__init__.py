"""Interferometer measurement data files as NumPy arrays.

read(path) gives a Measurement: its header fields, its heights in file units
(int32, with a validity mask and a conversion to nanometres), its intensity
frames and its fiducials; write(path, measurement) writes one back, byte for
byte as read unless its arrays were changed. The arrays are views of the
file's data in memory, not copies. Reading and writing let go of the
interpreter's lock, so threads work on files in parallel.

rotate(measurement, angle) turns a measurement's heights and fiducials as
the spinmap tool does, and rotate_file(input, output, angle=...) is the
tool's whole run on files; rotate_files(paths, angle=...) rotates many
files on a local pool of processes or on a Dask cluster.

info(path) gives what spinmap-info shows of a file as values, and
align(measurement, reference) the turn about a pivot that brings a
measurement's fiducials onto a reference's, with the spinmap command line
that carries it out.

Failures of the data library raise spinmap.Error with the error code and its
name; a missing input raises FileNotFoundError and an output that exists
(without overwrite=True) FileExistsError.
"""

import numbers as _numbers
import os as _os
import sys as _sys

__all__ = ["Error", "INVALID_HEIGHT", "Measurement", "align", "info", "read", "rotate", "rotate_file", "rotate_files",
           "write"]


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
    # NaN and the infinities fail the bound too.
    return isinstance(value, _numbers.Real) and not isinstance(value, bool) and abs(value) <= _FLOAT_LIMIT


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


def rotate(measurement, angle, pivot=None, interpolate=True):
    """Turns a measurement's heights and fiducials as the spinmap tool does.

    measurement: the Measurement to turn; it is left as it is.
    angle: degrees, counter-clockwise positive as the image is seen with row
        0 at the top (spinmap -Angle).
    pivot: (x, y) in camera pixels, (0, 0) the centre of the upper-left
        camera pixel, x to the right and y downward (spinmap -Pivot); None
        turns about the centre of the valid points' window.
    interpolate: True lets spinmap choose: values move exactly for multiples
        of 90 degrees about a pivot on whole or half pixels, and are
        interpolated otherwise. False is spinmap -NoInterp: values only move,
        the pivot is moved half a pixel where one coordinate is whole and the
        other half, and any other angle or pivot raises spinmap.Error.

    Returns a new Measurement: the heights turned onto the camera frame and
    trimmed to their valid points (new memory), the fiducials turned in its
    header, the intensity frames the same as the measurement's (shared, not
    turned, as the tool carries them) and the rest of the header as read.
    spinmap.write of it gives the bytes spinmap writes. Valid points turned
    off the camera frame are lost, as with spinmap. Raises spinmap.Error with
    spinmap's message when the tool would fail (no valid heights, a result
    without valid data, a refused -NoInterp), ValueError for an angle or a
    pivot that is not a finite number. The interpreter's lock is released
    while the heights turn.
    """
    angle = _angle(angle)
    x, y = _pivot(pivot)
    return _spinmap.rotate(measurement, angle, x, y, not interpolate)


def rotate_file(input, output=None, *, angle, pivot=None, interpolate=True, overwrite=False):
    """The spinmap tool's whole run on a file: read, turn, trim, write.

    input: the data file to turn (str, bytes or os.PathLike).
    output: the file to write; None replaces the input (spinmap's one-file
        form), which needs overwrite=True as the tool needs -Overwrite.
    angle: degrees, counter-clockwise positive (spinmap -Angle).
    pivot: (x, y) in camera pixels (spinmap -Pivot); None for the centre of
        the valid points' window.
    interpolate: False is spinmap -NoInterp (see spinmap.rotate).
    overwrite: whether an existing output may be replaced. There is no
        question as on the console: without it an existing output raises
        FileExistsError and nothing is written.

    The output holds the bytes spinmap writes; it is written to a temporary
    beside it that replaces it only when complete (flushed to the disk when
    it replaces the input), so a failure leaves no output and every existing
    file as it was.

    Returns the verbose report as a dict: each keyed line of spinmap
    -Verbose by its key ("InputFile", "CameraWidth", "PixelWidth", "Angle",
    "PivotX", "Output Points", "Fiducials Group A", ...) with its value as
    printed (a whole number as int, a plain number as float, else the text,
    units included, paths without their quotes); and beside them
    "points_in", "points_out" and "points_outside" (valid points before,
    after, and turned off the camera frame), "pivot" ((x, y) turned about,
    after any adjustment), "method" ("unchanged", "move values" or
    "interpolate"), "input_window" and "output_window" ((x, y, width,
    height) of the valid points before, and of the heights written) and
    "report" (the report's text).

    Raises FileNotFoundError for a missing input, FileExistsError as above,
    spinmap.Error with spinmap's message and error code for every failure of
    the run, and ValueError for an angle or pivot that is not a finite
    number.
    """
    angle = _angle(angle)
    x, y = _pivot(pivot)
    source = _os.fsencode(input)
    target = source if output is None else _os.fsencode(output)
    result = _spinmap.rotate_file(source, target, angle, x, y, not interpolate, bool(overwrite))
    return _report_values(result)


def _report_value(text):
    if len(text) >= 2 and text[0] == text[-1] == '"':
        return text[1:-1]
    for kind in (int, float):
        try:
            return kind(text)
        except ValueError:
            pass
    return text


def _report_values(result):
    values = {}
    for line in result["report"].splitlines():
        key, equals, value = line.partition(" = ")
        if equals and key.strip():
            values[key.strip()] = _report_value(value.strip())
    values.update(result)
    return values


def _rotate_one(input, output, angle, pivot, interpolate, overwrite):
    """One file of rotate_files: None, or why it failed. Never raises."""
    try:
        rotate_file(input, output, angle=angle, pivot=pivot, interpolate=interpolate, overwrite=overwrite)
        return None
    except (Error, OSError, ValueError) as e:
        return str(e) if not isinstance(e, OSError) or e.filename is None else "%s: %s" % (e.strerror, e.filename)


def rotate_files(paths, *, angle, pivot=None, interpolate=True, output_dir=None, overwrite=False, client=None,
                 progress=None, workers=None):
    """Turns many data files as spinmap does, on a local pool or a Dask cluster.

    paths: the data files (str, bytes or os.PathLike each).
    angle, pivot, interpolate: as for spinmap.rotate_file: degrees
        counter-clockwise; (x, y) in camera pixels or None for each file's
        centre of its valid points; False for spinmap -NoInterp.
    output_dir: the folder the results are written to, each under its
        input's file name (the folder is made when missing); None replaces
        every file in place (spinmap's one-file form), which needs
        overwrite=True.
    overwrite: whether existing outputs may be replaced; without it an
        existing output is a failure of that file.
    client: a distributed.Client; the files are turned on its workers (each
        worker must be able to import spinmap and reach the files). None
        turns them on a local pool of processes.
    progress: True shows a progress bar on standard error, False shows
        none; None shows one when standard error is a terminal.
    workers: the number of local processes (None: one per processor); not
        used with a client.

    Every file is turned on its own: one that fails is reported and the rest
    go on, and a failed file leaves no output (each is written whole or not
    at all). Returns {"rotated": [...], "failed": {path: message}}, the
    paths as given (as str) in their order. Raises ValueError at once for a
    bad angle or pivot, for in-place work without overwrite=True, and when
    two inputs would write the same output (a file given twice included).
    """
    angle = _angle(angle)
    if pivot is not None:
        pivot = _pivot(pivot)
    if output_dir is None and not overwrite:
        raise ValueError("Replacing the files in place needs overwrite=True")
    inputs = [_os.fsdecode(p) for p in paths]
    if output_dir is None:
        outputs = [None] * len(inputs)
    else:
        outputs = [_os.path.join(_os.fsdecode(output_dir), _os.path.basename(p)) for p in inputs]
    seen = {}
    for n, (source, target) in enumerate(zip(inputs, outputs)):
        target = source if target is None else target
        if seen.setdefault(target, n) != n:
            raise ValueError('"%s" and "%s" would both be written to "%s"' % (inputs[seen[target]], source, target))
    if output_dir is not None:
        _os.makedirs(output_dir, exist_ok=True)
    show = _sys.stderr.isatty() if progress is None else bool(progress)
    bar = None
    if show:
        import tqdm
        bar = tqdm.tqdm(total=len(inputs), unit="file", desc="spinmap", file=_sys.stderr)
    failed = {}
    try:
        for index, message in _run_all(inputs, outputs, (angle, pivot, interpolate, bool(overwrite)), client,
                                       workers):
            if message is not None:
                failed[inputs[index]] = message
            if bar is not None:
                bar.update(1)
    finally:
        if bar is not None:
            bar.close()
    return {"rotated": [p for p in inputs if p not in failed],
            "failed": {p: failed[p] for p in inputs if p in failed}}


def _run_all(inputs, outputs, settings, client, workers):
    """(index, None or message) for each file, as each is done."""
    if client is not None:
        from distributed import as_completed
        futures = client.map(_rotate_one, inputs, outputs, *([s] * len(inputs) for s in settings), pure=False)
        index = {f.key: i for i, f in enumerate(futures)}
        for future in as_completed(futures):
            yield index[future.key], _outcome(future)
        return
    from concurrent.futures import ProcessPoolExecutor, as_completed
    with ProcessPoolExecutor(max_workers=workers) as pool:
        futures = {pool.submit(_rotate_one, i, o, *settings): n for n, (i, o) in enumerate(zip(inputs, outputs))}
        for future in as_completed(futures):
            yield futures[future], _outcome(future)


def _outcome(future):
    """The file's message; a worker lost on the way is a failure of its file."""
    try:
        return future.result()
    except Exception as e:  # noqa: BLE001 - any failure of one file is reported with it
        return "%s: %s" % (type(e).__name__, e)
