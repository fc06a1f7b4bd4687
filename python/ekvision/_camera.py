"""Cameras of any SPEC, local or remote, read frame by frame; remote methods of modules."""

import math

from . import _ekvision
from ._pictures import Picture

#: Seconds a read or a call waits unless told otherwise.
DEFAULT_TIMEOUT = 5.0


class CallError(RuntimeError):
    """A remote method that could not be called, or that failed.

    ``cause`` names why, as the library does: ``"not-found"`` (no such module or method),
    ``"invalid-argument"`` (arguments the method cannot take), ``"unavailable"`` (no
    answer, a refused key, or the method's own failure), ``"bad-format"``...
    """

    def __init__(self, message, cause):
        super().__init__(message)
        self.cause = cause


def _native():
    if not hasattr(_ekvision, "_Camera"):
        raise RuntimeError("this build of ekvision has no cameras: it was built without the tool")
    return _ekvision


class Camera:
    """A camera opened from a SPEC, as ``ekvision run --camera`` takes it.

    ``spec`` is ``None`` for the synthetic scene, a ``.arv`` recording (played in a loop at
    its own size), a video file (in a loop), ``/dev/videoN``, ``gst:PIPELINE``,
    ``rtsp://...``/``http://...``, or a remote camera ``tcp://HOST:PORT`` or
    ``ipc://PATH`` that ``ekvision serve`` publishes (``?curve=KEYFILE`` for a server that
    takes CURVE clients only). ``resolution`` is the library's code (0: 160x120 to 3:
    1280x960) and ``fps`` the most frames a second read (1 to 120).

    Iterating gives :class:`ekvision.Picture` objects (YUV422 pixels ``(H, W, 2)``, the
    camera's ``time_stamp`` in microseconds, ``camera`` index and ``angles``), each newer
    than the one before: a reader slower than the camera skips frames, it never gets a
    backlog. A camera that fails raises OSError naming the cause, once a failure; reading
    on waits for it to come back. Use it as a context manager, or call :meth:`close`.

    >>> with ekvision.Camera("tcp://127.0.0.1:7410") as camera:
    ...     for picture in camera:
    ...         print(picture.time_stamp, picture.pixels.shape)
    """

    def __init__(self, spec=None, resolution=2, fps=15, timeout=DEFAULT_TIMEOUT):
        if not 0 <= int(resolution) <= 3:
            raise ValueError(f"resolution must be 0 to 3, not {resolution}")
        if not 1 <= int(fps) <= 120:
            raise ValueError(f"fps must be 1 to 120, not {fps}")
        self.timeout = _seconds(timeout)
        self._camera = _native()._Camera(None if spec is None else str(spec), int(resolution),
                                         int(fps))

    @property
    def description(self):
        """The camera line, e.g. ``"remote camera ipc:///tmp/cam (640x480, raw)"``."""
        return self._camera.description

    @property
    def closed(self):
        """Whether the camera was closed."""
        return self._camera.closed

    def read(self, timeout=None):
        """The next frame as a :class:`ekvision.Picture`.

        Waits at most ``timeout`` seconds (default: the camera's ``timeout``) and raises
        TimeoutError when no new frame came; OSError when the camera failed.
        """
        wait = self.timeout if timeout is None else _seconds(timeout)
        parts = self._camera.read(wait)
        if parts is None:
            raise TimeoutError(f"no new frame from {self.description} within {wait:g} s")
        pixels, color_space, time_stamp, camera, angles = parts
        return Picture(pixels, color_space, time_stamp, camera, angles)

    def __iter__(self):
        while True:
            yield self.read()

    def close(self):
        """Stops reading and releases the camera; reading afterwards raises ValueError."""
        self._camera.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __repr__(self):
        state = "closed" if self.closed else self.description
        return f"{type(self).__name__}({state})"


def call(endpoint, module, method, *args, timeout=DEFAULT_TIMEOUT):
    """Calls ``method`` of ``module`` at ``endpoint`` (what ``ekvision run --control``
    answers on, with ``?curve=KEYFILE`` when it takes CURVE clients only) and returns its
    result.

    Arguments are bool, int (32 bits), float, str, bytes, or lists of them, checked against
    the method's parameter types by the host. Raises :class:`CallError` with its ``cause``.

    >>> ekvision.call("tcp://127.0.0.1:7420", "MotionDetector", "pause", True)
    """
    return _native()._call(str(endpoint), str(module), str(method), tuple(args),
                           _seconds(timeout), CallError)


def list_methods(endpoint, timeout=DEFAULT_TIMEOUT):
    """The modules at ``endpoint`` and their remote methods: ``{module: [(name,
    [(parameter, type)...], return type, description)...]}``. Raises :class:`CallError`."""
    return _native()._list_methods(str(endpoint), _seconds(timeout), CallError)


def _seconds(value):
    seconds = float(value)
    if not math.isfinite(seconds) or seconds < 0:
        raise ValueError(f"timeout must be a number of seconds from 0 up, not {value}")
    return seconds
