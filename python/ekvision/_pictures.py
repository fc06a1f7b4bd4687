"""Single pictures: `.ari` files and PPM export."""

import os

from . import _ekvision

#: Color-space code of packed YUV 4:2:2 (Y0 U Y1 V for each pair of pixels).
YUV422 = 9


class Picture:
    """One picture with its capture fields.

    ``pixels`` is a uint8 array: ``(H, W)`` for one layer, ``(H, W, L)`` otherwise
    (``(H, W, 2)`` for YUV422). ``time_stamp`` is in microseconds (-1: none), ``camera``
    the camera index (one signed byte, -128 to 127, as the library stores it), ``angles`` the field-of-view bounds (left, top, right, bottom) in
    radians, ``color_space`` the library's color-space code.
    """

    __slots__ = ("pixels", "color_space", "time_stamp", "camera", "angles")

    def __init__(self, pixels, color_space=YUV422, time_stamp=-1, camera=0, angles=(0.0, 0.0, 0.0, 0.0)):
        self.pixels = pixels
        self.color_space = color_space
        self.time_stamp = time_stamp
        self.camera = camera
        self.angles = tuple(angles)

    def bgr(self, out=None):
        """The picture as BGR, ``(H, W, 3)``; only YUV422 pictures can be converted."""
        if self.color_space != YUV422:
            raise ValueError(f"only YUV422 pictures (color space 9) convert to BGR, not color space {self.color_space}")
        return _ekvision.yuv422_to_bgr(self.pixels, out)

    def __repr__(self):
        return (f"{type(self).__name__}(shape={getattr(self.pixels, 'shape', None)}, "
                f"color_space={self.color_space}, time_stamp={self.time_stamp}, camera={self.camera})")


def _color_space_of(picture, color_space):
    if color_space is not None:
        return int(color_space)
    if hasattr(picture, "color_space"):
        return int(picture.color_space)
    if getattr(picture, "ndim", 0) == 3 and picture.shape[2] == 2:
        return YUV422
    raise ValueError("give color_space: only (H, W, 2) arrays are taken as YUV422 without it")


def read_picture(path):
    """Reads an `.ari` picture (version 0 or 1) into a :class:`Picture`. Here and in
    :func:`save_picture`, :func:`save_ppm`, ``path`` is a str, bytes or os.PathLike.

    Raises FileNotFoundError, PermissionError, IsADirectoryError (OSError with errno) when
    the file cannot be opened, and ekvision.FormatError (an OSError) when it is not a whole
    `.ari` picture, with the library's message.
    """
    pixels, color_space, time_stamp, camera, angles = _ekvision._read_picture(os.fsencode(path))
    return Picture(pixels, color_space, time_stamp, camera, angles)


def save_picture(path, picture, color_space=None, time_stamp=None, camera=None, angles=None):
    """Saves a picture as a version 1 `.ari` file.

    ``picture`` is a :class:`Picture` or a :class:`Frame` (its fields are used unless given
    here) or a C-contiguous uint8 array of shape ``(H, W)`` or ``(H, W, L)``, whose layers
    must match the color space (an ``(H, W, 2)`` array is taken as YUV422 by default).
    Raises TypeError for an array of another dtype, ValueError for a wrong shape, a
    non-contiguous array or a camera out of range, OSError (with errno) when the file cannot be written.
    """
    pixels = getattr(picture, "pixels", picture)
    _ekvision._save_picture(
        os.fsencode(path), pixels, _color_space_of(picture, color_space),
        int(time_stamp if time_stamp is not None else getattr(picture, "time_stamp", -1)),
        int(camera if camera is not None else getattr(picture, "camera", 0)),
        tuple(angles if angles is not None else getattr(picture, "angles", (0.0, 0.0, 0.0, 0.0))))


def save_ppm(path, picture, color_space=None):
    """Exports a picture as a binary PPM (P6) file, as the library does.

    Three layers are written as they are (a BGR picture comes out with red and blue
    exchanged: pass ``picture.bgr()[..., ::-1].copy()`` for true colours), YUV422 as its
    Y U V samples without conversion, one layer as grey. Errors as :func:`save_picture`.
    """
    pixels = getattr(picture, "pixels", picture)
    _ekvision._save_ppm(os.fsencode(path), pixels, _color_space_of(picture, color_space))
