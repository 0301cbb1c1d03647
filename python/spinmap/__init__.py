"""Interferometer measurement data files as NumPy arrays.

read(path) gives a Measurement: its header fields, its heights in file units
(int32, with a validity mask and a conversion to nanometres), its intensity
frames and its fiducials; write(path, measurement) writes one back, byte for
byte as read unless its arrays were changed. The arrays are views of the
file's data in memory, not copies. Reading and writing let go of the
interpreter's lock, so threads work on files in parallel.

Failures of the data library raise spinmap.Error with the error code and its
name; a missing input raises FileNotFoundError and an output that exists
(without overwrite=True) FileExistsError.
"""

import os as _os

__all__ = ["Error", "INVALID_HEIGHT", "Measurement", "read", "write"]


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
