"""libekvision for Python: `.arv` recordings and `.ari` pictures as numpy arrays, the
library's pixel-format conversions, and vision modules run over many recordings
(:mod:`ekvision.batch`).

>>> import ekvision
>>> with ekvision.Recording("clip.arv") as rec:
...     frame = rec[0]                     # pixels (H, W, 2), time_stamp, camera, angles
...     stamps = rec.metadata["time_stamp"]

Arrays given to the library must be C-contiguous uint8 of the documented shape: another
dtype raises TypeError, another shape or non-contiguous strides ValueError. Files that
cannot be opened raise OSError with its errno (FileNotFoundError, PermissionError...);
files that are not what they should be raise ekvision.FormatError, an OSError, with the
library's message. Both come from the library's cause of the failure, never from its log.

Cameras of any SPEC, local or remote, are read frame by frame with ``ekvision.Camera``
(the newest frame, never a backlog); ``ekvision.call`` calls a remote method of a module
that ``ekvision run --control ENDPOINT`` runs:

>>> with ekvision.Camera("tcp://robot:7410") as camera:
...     picture = camera.read()               # pixels (H, W, 2), time_stamp, camera, angles
>>> ekvision.call("tcp://127.0.0.1:7420", "MotionDetector", "pause", True)

Vision modules are written in Python too: a ``ekvision.Module`` subclass with the hooks of
the C++ base, run by the C++ engine with ``ekvision run --module detector.py`` or in this
process with ``ekvision.run(Detector, camera=SPEC, seconds=5)``; see
docs/writing-a-module.md.

Importing ekvision leaves the process's logging alone: the library's log records keep
going to standard error (or to the handler the host program installed).
``ekvision.route_log_to_logging(logger_name="ekvision")`` sends them to :mod:`logging`
instead, to the loggers ``ekvision.<category>``; ``ekvision.stop_routing_log()`` undoes it.
"""

from ._ekvision import (FormatError, bgr_to_yuv422, yuv422_to_bgr, yuv422_to_yyyuuuvvv,
                        yuv422_to_yyyyuuvv)
from ._camera import CallError, Camera, call, list_methods
from ._log import route_log_to_logging, stop_routing_log
from ._module import Image, Module, RunResult, remote_method, run
from ._pictures import YUV422, Picture, read_picture, save_picture, save_ppm
from ._recording import METADATA_DTYPE, Frame, Recording, Recovery, Stream, recover

__all__ = [
    "CallError", "Camera", "call", "list_methods",
    "Image", "Module", "RunResult", "remote_method", "run",
    "FormatError", "Frame", "METADATA_DTYPE", "Picture", "Recording", "Recovery", "Stream",
    "YUV422", "recover",
    "bgr_to_yuv422", "read_picture", "route_log_to_logging", "save_picture", "save_ppm",
    "stop_routing_log", "yuv422_to_bgr",
    "yuv422_to_yyyuuuvvv", "yuv422_to_yyyyuuvv",
]
