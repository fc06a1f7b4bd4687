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

Importing ekvision leaves the process's logging alone: the library's log records keep
going to standard error (or to the handler the host program installed).
``ekvision.route_log_to_logging(logger_name="ekvision")`` sends them to :mod:`logging`
instead, to the loggers ``ekvision.<category>``; ``ekvision.stop_routing_log()`` undoes it.
"""

from ._ekvision import (FormatError, bgr_to_yuv422, yuv422_to_bgr, yuv422_to_yyyuuuvvv,
                        yuv422_to_yyyyuuvv)
from ._log import route_log_to_logging, stop_routing_log
from ._pictures import YUV422, Picture, read_picture, save_picture, save_ppm
from ._recording import METADATA_DTYPE, Frame, Recording, Recovery, Stream, recover

__all__ = [
    "FormatError", "Frame", "METADATA_DTYPE", "Picture", "Recording", "Recovery", "Stream",
    "YUV422", "recover",
    "bgr_to_yuv422", "read_picture", "route_log_to_logging", "save_picture", "save_ppm",
    "stop_routing_log", "yuv422_to_bgr",
    "yuv422_to_yyyuuuvvv", "yuv422_to_yyyyuuvv",
]
