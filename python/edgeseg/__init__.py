"""Segments grey-level images into the regions enclosed by their strong edges.

The same analysis as the edgeseg command, on images held as numpy arrays:

    import edgeseg, numpy
    image = numpy.loadtxt("examples/cells.txt", dtype="uint16")
    result = edgeseg.segment(image)          # result.labels: H x W uint16
    pictures = edgeseg.pictures(image, result)
    edgeseg.run("examples/cells.txt", "out/cells")   # the command's four files

Each call releases the GIL while it works, so threads segment different
images side by side. An array must not be changed while a call reads it.
Errors of the analysis raise edgeseg.Error; edgeseg.Error and the results of
segment pickle whole, so that they travel between processes (Dask).
"""
import dataclasses
import os
import warnings

import numpy

from . import _edgeseg

__version__ = _edgeseg.__version__
__all__ = ["Error", "Result", "Statistics", "pictures", "run", "segment"]

# An image holds at most as many pixels as the command takes; values from
# 65536 up are taken as 65535.
_MAX_PIXELS = _edgeseg.MAX_PIXELS


class Error(RuntimeError):
    """What edgeseg raises for an image or a run it cannot complete: message
    is the command's message (or, from segment, the cause) and status the
    command's exit status (255 for a failed check, 254 for a failed run)."""

    def __init__(self, message, status):
        super().__init__(message)
        self.message = message
        self.status = status

    def __reduce__(self):
        return type(self), (self.message, self.status)


@dataclasses.dataclass(eq=False)
class Statistics:
    """The gradient's statistics, from which the threshold is chosen and to
    which the gradient picture is windowed. Bin k of the 4096-count histogram
    holds the values in [k, k+1), the last bin every value from 4095 up;
    std_dev is NaN when rounding left the variance below zero."""

    min_value: float
    max_value: float
    mean: float
    std_dev: float
    low_bin: float
    high_bin: float
    peak_count: int
    peak_bin: float
    sample_count: int
    histogram: numpy.ndarray


@dataclasses.dataclass(eq=False)
class Result:
    """What segment found: labels (H x W uint16, 0 for the background and 1
    to regions in the order of each region's first pixel, the numbers of the
    command's label file), the count of regions, the gradient threshold and
    the gradient's statistics."""

    labels: numpy.ndarray
    regions: int
    threshold: float
    stats: Statistics


def _checked_image(image):
    """image as a 2-D integer array that the analysis takes, or the error
    that names why not, before any work is done."""
    try:
        array = numpy.asarray(image)
    except (TypeError, ValueError) as error:
        raise TypeError(f"not an image: {error}") from None
    if array.dtype.kind not in "iu":
        raise TypeError(f"image of {array.dtype} values; edgeseg takes integer arrays (uint8 to int64)")
    if array.ndim != 2:
        raise ValueError(f"image of {array.ndim} dimensions; edgeseg takes 2 (rows, columns)")
    height, width = array.shape
    if height <= 3 or width <= 3:
        raise ValueError(f"image of {height} x {width} pixels; each side must be 4 or more")
    if height * width > _MAX_PIXELS:
        raise ValueError(f"image of {height * width} pixels; edgeseg takes at most {_MAX_PIXELS}")
    return array


def segment(image):
    """Segments a grey-level image into the regions enclosed by its strong
    edges, as the edgeseg command does, and returns a Result.

    image is anything numpy.asarray takes that is 2-D (rows, columns), at
    least 4 x 4, of an integer type from uint8 to int64 in either byte order
    and any strides. Values must lie in 0 to 2147483647; those above 65535
    are taken as 65535, as the command reads them. A native uint16 array
    whose rows are contiguous is read in place; any other is converted once.
    Raises TypeError for a non-integer array, ValueError for another shape or
    a value out of range, edgeseg.Error (status 254) for more than 65535
    regions. A variance that rounds below zero gives a RuntimeWarning
    ("sqrt: DOMAIN error") and a NaN std_dev, where the command reports it
    on standard error.
    """
    array = _checked_image(image)
    try:
        labels, regions, threshold, stats, variance_below_zero = _edgeseg.segment(array)
    except _edgeseg.LibraryError as error:
        raise Error(str(error), 254) from None
    if variance_below_zero:
        warnings.warn("sqrt: DOMAIN error", RuntimeWarning, stacklevel=2)
    return Result(labels, regions, threshold, Statistics(**stats))


def pictures(image, result):
    """Draws the command's three pictures of an image that segment gave
    result for: a dict of uint8 RGB arrays, top row first, exactly the
    pixels of its BMP files: "In" (H x W x 3) the input through the colour
    map, "Reg" (H x W x 3) the regions in one colour per label, and "Grad"
    (H-1 x W-1 x 3) the gradient windowed to its minimum and maximum.
    Raises as segment does for the image, and TypeError or ValueError for a
    result whose labels are not a uint16 array of the image's shape.
    """
    array = _checked_image(image)
    labels = getattr(result, "labels", None)
    if not isinstance(labels, numpy.ndarray) or labels.dtype != numpy.dtype(numpy.uint16):
        raise TypeError("result.labels must be the uint16 array that segment returned")
    if labels.shape != array.shape:
        raise ValueError(f"result.labels of shape {labels.shape}, not the image's {array.shape}")
    stats = result.stats
    drawn = _edgeseg.pictures(array, numpy.ascontiguousarray(labels), stats.min_value, stats.max_value)
    return dict(zip(("In", "Reg", "Grad"), drawn))


def run(input, outbase):
    """Does what the command `edgeseg INPUT OUTBASE` does, through its own
    code: reads the text image input and writes outbase, outbase_In.bmp,
    outbase_Reg.bmp and outbase_Grad.bmp, each whole or not at all. input
    and outbase are strings, bytes or os.PathLike. Prints nothing; a
    variance that rounds below zero is reported on standard error exactly
    as the command reports it. Returns None; raises edgeseg.Error with the
    command's message and exit status (255 or 254) where the command fails.
    """
    names = os.fsencode(input), os.fsencode(outbase)
    if any(b"\0" in name for name in names):
        raise ValueError("embedded null byte")
    status, message = _edgeseg.run(*names)
    if status != 0:
        raise Error(message, status & 0xFF)
