"""`.arv` recordings as numpy arrays: reading frame by frame or in blocks, and writing."""

import operator
import os
from typing import NamedTuple

import numpy

from . import _ekvision
from ._pictures import YUV422, Picture

#: Every frame's record header, one row a frame: see :attr:`Recording.metadata`.
METADATA_DTYPE = numpy.dtype([
    # The camera is the library's char: signed where the platform's char is.
    ("time_stamp", "<i8"), ("camera", "i1" if _ekvision.CAMERA_MIN < 0 else "u1"),
    ("left_angle", "<f4"), ("top_angle", "<f4"), ("right_angle", "<f4"), ("bottom_angle", "<f4"),
])
# The same fields as they lie in the file, packed, at the offsets the library publishes.
_ANGLE_SIZE = METADATA_DTYPE["left_angle"].itemsize
_RECORD_HEADER_DTYPE = numpy.dtype({
    "names": METADATA_DTYPE.names,
    "formats": [METADATA_DTYPE[name] for name in METADATA_DTYPE.names],
    "offsets": [_ekvision.RECORD_TIME_STAMP_OFFSET, _ekvision.RECORD_CAMERA_OFFSET]
    + [_ekvision.RECORD_ANGLES_OFFSET + i * _ANGLE_SIZE for i in range(4)],
    "itemsize": _ekvision.RECORD_HEADER_SIZE,
})


class Recovery(NamedTuple):
    """What :func:`recover` found and did."""
    frame_count: int       #: the count the file holds afterwards (dry run: would hold)
    changed: bool          #: the count was rewritten (dry run: would be)
    state: str             #: before: "closed", "open", "cut short" or "uncounted frames"
    stored_count: int      #: the count stored before (0xFFFFFFFF: never closed)
    complete_frames: int   #: whole frames in the file
    partial_bytes: int     #: bytes of an unfinished last frame, never counted


def recover(path, extend=False, dry_run=False):
    """Gives a recording that was never closed (its writer crashed) or was cut short the
    count of the complete frames its file holds, as `ekvision recover` does.

    A closed recording with frames beyond its count keeps its count unless ``extend``;
    ``dry_run`` decides and reports without changing the file. Returns a
    :class:`Recovery`. Raises BlockingIOError while a live writer holds the recording,
    FileNotFoundError, PermissionError, IsADirectoryError (OSError with errno) for files
    that cannot be opened, ekvision.FormatError with the library's message otherwise.
    """
    return Recovery(*_ekvision._recover(os.fsencode(path), bool(extend), bool(dry_run)))


class Stream(NamedTuple):
    """One stream of a recording."""
    width: int
    height: int
    color_space: int
    layers: int
    depth: int
    record_length: int

    @property
    def shape(self):
        """The shape of a frame's pixels: (H, W) for one layer, (H, W, L) otherwise."""
        return (self.height, self.width) if self.layers == 1 else (self.height, self.width, self.layers)


class Frame(Picture):
    """One frame of a recording: a :class:`Picture` with its ``index`` and ``stream``.

    ``pixels`` is the record exactly as the library reads it into an image: its first 25
    bytes hold the record header (time stamp, camera, angles) in place of the first pixels.
    """

    __slots__ = ("index", "stream")

    def __init__(self, index, stream, pixels, color_space, time_stamp, camera, angles):
        super().__init__(pixels, color_space, time_stamp, camera, angles)
        self.index = index
        self.stream = stream

    def __repr__(self):
        return (f"Frame(index={self.index}, stream={self.stream}, shape={self.pixels.shape}, "
                f"time_stamp={self.time_stamp}, camera={self.camera})")


def _stream_tuple(stream):
    if isinstance(stream, Stream):
        return (stream.width, stream.height, stream.color_space)
    values = tuple(int(v) for v in stream)
    if len(values) == 2:
        return values + (YUV422,)
    if len(values) == 3:
        return values
    raise ValueError(f"a stream is (width, height) or (width, height, color_space), not {stream!r}")


class Recording:
    """A `.arv` recording, open for reading (``Recording(path)``) or writing
    (:meth:`Recording.create`). Use it in a ``with`` block, or call :meth:`close`.

    Reading: ``len(rec)`` frames (those that lie whole in the file, so that a recording
    left open by a crash reads too), ``rec[i]`` and iteration give :class:`Frame` objects of
    stream 0, :meth:`frame` of any stream, :meth:`frames` a block of frames as one array,
    :meth:`find` the frame at or before a time, :attr:`metadata` every frame's header.

    ``path`` is a str, bytes or os.PathLike, as the os module takes it; ``rec.path`` is the
    file's name as a str (undecodable bytes as os.fsdecode() gives them), ``rec.streams``
    its :class:`Stream` list, ``rec.closed`` whether it is closed: all three in every
    state, for reading, for writing and closed.

    Errors: FileNotFoundError, PermissionError, IsADirectoryError (OSError with errno) when
    the file cannot be opened; ekvision.FormatError (an OSError) when it is not a readable
    recording, with the library's message; IndexError for any frame or stream index out of
    range (negative streams included); ValueError for operations on a closed recording.
    """

    def __init__(self, path):
        self.path = os.fsdecode(path)
        self._reader = _ekvision._Reader(os.fsencode(path))
        self._writer = None
        self._streams = [Stream(*s) for s in self._reader.streams()]

    @classmethod
    def create(cls, path, streams):
        """Creates a recording to :meth:`append` frames to.

        ``path`` is the file to create; the library always adds ``.arv``, so a path without
        that extension gets it (``rec.path`` says which file was made). ``streams`` lists
        each stream as ``(width, height)`` (YUV422) or ``(width, height, color_space)``:
        640x480, 320x240 or 160x120, color space 0 to 16, as the player reads them.
        Raises ValueError for a stream that could not be played back, OSError (with errno)
        when the file cannot be created.
        """
        path = os.fsencode(path)
        base = path[:-4] if path.endswith(b".arv") else path
        stream_list = [_stream_tuple(s) for s in streams]
        self = cls.__new__(cls)
        self._reader = None
        self._writer = _ekvision._Writer(base, stream_list)
        self.path = os.fsdecode(self._writer.path)
        self._streams = []
        for width, height, color_space in stream_list:
            layers = _ekvision._layers(color_space)
            depth = _ekvision.PICTURE_SAMPLE_DEPTH
            self._streams.append(Stream(width, height, color_space, layers, depth,
                                        width * height * layers * depth // 8))
        return self

    # -- both directions ------------------------------------------------------------------

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Closes the file; a recording being written gets its frame count stored (and the
        library prints its line "stop recording <path> file (<n> frames)" on standard output).

        Raises OSError when a recording could not be written completely (a full disk).
        """
        if self._writer is not None:
            self._writer.close()
        else:
            self._reader.close()

    @property
    def closed(self):
        """True once :meth:`close` has run (or the ``with`` block ended)."""
        # Not `self._writer or self._reader`: a writer without frames has len() 0 and is false.
        return (self._writer if self._writer is not None else self._reader).closed

    @property
    def streams(self):
        """The streams: size, color space, layers, depth and record length of each."""
        return list(self._streams)

    def __len__(self):
        return len(self._writer if self._writer is not None else self._reader)

    def __repr__(self):
        mode = "writing" if self._writer is not None else "reading"
        return f"<Recording {self.path!r} ({mode}, {len(self)} frames)>"

    # -- reading --------------------------------------------------------------------------

    def _reading(self):
        if self._reader is None:
            raise ValueError("the recording is open for writing, not reading")
        return self._reader

    def frame(self, index, stream=0):
        """Frame ``index`` (negative counts from the end) of ``stream``."""
        reader = self._reading()
        count = len(reader)
        position = index + count if index < 0 else index
        if not 0 <= position < count:
            raise IndexError(f"frame {index} out of range: the recording has {count}")
        # The reader checks the stream: IndexError for any index out of range.
        pixels, time_stamp, camera, angles = reader.read_frame(position, stream)
        stream = operator.index(stream)
        return Frame(position, stream, pixels, self._streams[stream].color_space, time_stamp, camera, angles)

    def __getitem__(self, index):
        if isinstance(index, slice):
            return [self.frame(i) for i in range(*index.indices(len(self)))]
        return self.frame(index)

    def __iter__(self):
        for index in range(len(self)):
            yield self.frame(index)

    def frames(self, start=0, stop=None, stream=0):
        """Frames ``start`` to ``stop - 1`` of ``stream`` as one ``(N, H, W, C)`` uint8 array
        (C is 1 for one layer). ``start`` and ``stop`` are taken as in a slice."""
        reader = self._reading()
        start, stop, _ = slice(start, stop).indices(len(reader))
        return reader.read_frames(start, max(start, stop), stream)

    def find(self, time_stamp, stream=0):
        """The last frame recorded at or before ``time_stamp`` (microseconds), found by
        binary search over the time stamps; None when it is before the first frame."""
        index = self._reading().find(int(time_stamp), stream)
        return None if index < 0 else self.frame(index, stream)

    @property
    def metadata(self):
        """Every frame's time stamp, camera and four angles (stream 0), as a structured
        array of :data:`METADATA_DTYPE`, read without the pixels."""
        return self.read_metadata(0)

    def read_metadata(self, stream=0):
        """:attr:`metadata` of any stream."""
        rows = self._reading().metadata(stream)
        return rows.view(_RECORD_HEADER_DTYPE).reshape(-1).astype(METADATA_DTYPE)

    # -- writing --------------------------------------------------------------------------

    def append(self, pixels, time_stamp=-1, camera=0, angles=(0.0, 0.0, 0.0, 0.0)):
        """Appends one frame: ``pixels`` is one C-contiguous uint8 array per stream (a list,
        or the array alone for a one-stream recording), each of its stream's shape; a
        YUV422 stream also takes a BGR ``(H, W, 3)`` array, converted by the library.
        ``camera`` is one signed byte, -128 to 127, as the library stores it (ValueError
        otherwise, rather than a different number read back).
        The first 25 bytes of each array are not stored: the frame's header takes their
        place. Raises TypeError (dtype), ValueError (shape, strides), OSError (with errno)
        when the write fails (the recording then takes no more frames)."""
        if self._writer is None:
            raise ValueError("the recording is open for reading, not writing")
        if not isinstance(pixels, (list, tuple)):
            pixels = [pixels]
        left, top, right, bottom = angles
        self._writer.append(list(pixels), int(time_stamp), int(camera),
                            (float(left), float(top), float(right), float(bottom)))
