"""Every failure is a Python exception with the library's message; none crashes the process."""

import errno
import re
import os
import subprocess
import sys
from pathlib import Path

import numpy
import pytest

import ekvision
from conftest import record_moving_square

YUV = numpy.zeros((4, 6, 2), numpy.uint8)
BGR = numpy.zeros((4, 6, 3), numpy.uint8)
BIG = numpy.zeros((8, 12, 2), numpy.uint8)

BAD_ARRAYS = [
    # (call, exception, words of the message)
    (lambda: ekvision.yuv422_to_bgr(YUV.astype(numpy.uint16)), TypeError, "uint8"),
    (lambda: ekvision.yuv422_to_bgr(YUV.tolist()), TypeError, "numpy array"),
    (lambda: ekvision.yuv422_to_bgr(BIG[::2, ::2]), ValueError, "C-contiguous"),
    (lambda: ekvision.yuv422_to_bgr(YUV.transpose(1, 0, 2)), ValueError, "C-contiguous"),
    (lambda: ekvision.yuv422_to_bgr(BGR), ValueError, "2 bytes a pixel"),
    (lambda: ekvision.yuv422_to_bgr(YUV[0]), ValueError, "2 bytes a pixel"),
    (lambda: ekvision.yuv422_to_bgr(YUV[None]), ValueError, "dimensions"),
    (lambda: ekvision.bgr_to_yuv422(YUV), ValueError, "3 bytes a pixel"),
    (lambda: ekvision.bgr_to_yuv422(numpy.zeros((4, 6), numpy.uint8)), ValueError, "3 bytes a pixel"),
    (lambda: ekvision.yuv422_to_bgr(YUV, out=numpy.zeros((4, 6, 2), numpy.uint8)), ValueError, "shape (4, 6, 3)"),
    (lambda: ekvision.yuv422_to_bgr(YUV, out=numpy.zeros((4, 6, 3), numpy.int8)), TypeError, "uint8"),
    (lambda: ekvision.yuv422_to_yyyuuuvvv(YUV, out=numpy.zeros((3, 6, 4), numpy.uint8)), ValueError, "shape (3, 4, 6)"),
    (lambda: ekvision.bgr_to_yuv422(BGR, out=BGR.view(numpy.uint8)[:, :, :2]), ValueError, "C-contiguous"),
    (lambda: ekvision.yuv422_to_yyyyuuvv(BIG, out=BIG.reshape(-1)[: 8 * 12 * 2]), ValueError, "share memory"),
    (lambda: ekvision.save_picture("x.ari", BGR, color_space=9), ValueError, "2 bytes a pixel"),
    (lambda: ekvision.save_picture("x.ari", BGR, color_space=40), ValueError, "invalid color space"),
    (lambda: ekvision.save_picture("x.ari", numpy.zeros((4, 6, 3)), color_space=10), TypeError, "uint8"),
    (lambda: ekvision.save_ppm("x.ppm", BGR), ValueError, "give color_space"),
]


@pytest.mark.parametrize("call,exception,words", BAD_ARRAYS)
def test_bad_arrays_raise_the_documented_exception(call, exception, words):
    with pytest.raises(exception, match=re.escape(words)):
        call()


def test_read_only_output_is_refused():
    out = numpy.zeros((4, 6, 3), numpy.uint8)
    out.flags.writeable = False
    with pytest.raises(ValueError, match="read-only"):
        ekvision.yuv422_to_bgr(YUV, out=out)


@pytest.fixture
def files(tmp_path):
    """A recording, and broken copies of it and of a picture."""
    good = record_moving_square(tmp_path / "good.arv", 3)
    data = Path(good).read_bytes()
    (tmp_path / "header.arv").write_bytes(data[:20])
    (tmp_path / "magic.arv").write_bytes(b"2VRA" + data[4:])
    (tmp_path / "size.arv").write_bytes(data[:16] + (333).to_bytes(4, "little") + data[20:])
    ekvision.save_picture(tmp_path / "p.ari", YUV)
    picture = (tmp_path / "p.ari").read_bytes()
    (tmp_path / "cut.ari").write_bytes(picture[:-3])
    (tmp_path / "head.ari").write_bytes(picture[:20])
    (tmp_path / "magic.ari").write_bytes(b"XIRA" + picture[4:])
    (tmp_path / "dir.arv").mkdir()
    return tmp_path


OPENERS = [ekvision.Recording, ekvision.read_picture]
FILE_FAULTS = [
    ("missing.arv", FileNotFoundError, errno.ENOENT, "no such file"),
    ("dir.arv", IsADirectoryError, errno.EISDIR, "is a directory"),
]
FORMAT_FAULTS = [
    (ekvision.Recording, "header.arv", "shorter than its header"),
    (ekvision.Recording, "magic.arv", "version isn't supported"),
    (ekvision.Recording, "size.arv", "Unsupported resolution"),
    (ekvision.read_picture, "cut.ari", "shorter than its picture"),
    (ekvision.read_picture, "head.ari", "not a whole .ari picture"),
    (ekvision.read_picture, "magic.ari", "not an .ari format"),
    (ekvision.read_picture, "good.arv", "not an .ari format"),
]


@pytest.mark.parametrize("opener", OPENERS)
@pytest.mark.parametrize("name,exception,code,words", FILE_FAULTS)
def test_files_that_cannot_be_opened_raise_oserror_with_errno(files, opener, name, exception, code, words):
    with pytest.raises(exception, match=words) as caught:
        opener(files / name)
    assert caught.value.errno == code and caught.value.filename == str(files / name)


@pytest.mark.parametrize("opener,name,words", FORMAT_FAULTS)
def test_broken_files_raise_format_error_with_the_librarys_message(files, opener, name, words):
    with pytest.raises(ekvision.FormatError, match=words) as caught:
        opener(files / name)
    assert isinstance(caught.value, OSError) and str(files / name) in str(caught.value)


def test_unreadable_files_raise_permission_error(files):
    os.chmod(files / "good.arv", 0)
    if os.access(files / "good.arv", os.R_OK):
        pytest.skip("running as a user who reads every file")
    with pytest.raises(PermissionError):
        ekvision.Recording(files / "good.arv")


def test_writing_where_no_file_can_be_made_raises_oserror_with_errno(files):
    for call in (lambda: ekvision.Recording.create(files / "no" / "dir.arv", [(160, 120)]),
                 lambda: ekvision.save_picture(files / "no" / "p.ari", YUV),
                 lambda: ekvision.save_ppm(files / "no" / "p.ppm", YUV)):
        with pytest.raises(FileNotFoundError) as caught:
            call()
        assert caught.value.errno == errno.ENOENT


def test_misuse_of_recordings_raises_and_leaves_them_usable(files):
    # Streams the player could not read are refused with the library's reason.
    for streams, words in [([(640, 400)], "640x400 .* cannot be played back: Unsupported resolution"),
                           ([(160, 120, 17)], "color space 17 cannot be played back: invalid color space"),
                           ([], "at least one stream"), ([(1, 2, 3, 4)], "a stream is")]:
        with pytest.raises(ValueError, match=words):
            ekvision.Recording.create(files / "new.arv", streams)
    with ekvision.Recording.create(files / "new.arv", [(160, 120), (160, 120, 0)]) as rec:
        frame = [numpy.zeros((120, 160, 2), numpy.uint8), numpy.zeros((120, 160), numpy.uint8)]
        for pixels, exception, words in [
                (frame[:1], ValueError, "one array per stream"),
                ([frame[0], frame[0]], ValueError, r"shape \(120, 160\)"),
                ([numpy.zeros((120, 80, 2), numpy.uint8), frame[1]], ValueError, "shape"),
                ([frame[0], frame[1].astype(float)], TypeError, "uint8"),
                ([frame[0][:, ::-1], frame[1]], ValueError, "C-contiguous")]:
            with pytest.raises(exception, match=words):
                rec.append(pixels)
        with pytest.raises(ValueError, match="camera"):
            rec.append(frame, camera=300)
        with pytest.raises(ValueError, match="not reading"):
            rec[0]
        rec.append(frame, time_stamp=5)
        assert len(rec) == 1
    with pytest.raises(ValueError, match="closed"):
        rec.append(frame)
    with ekvision.Recording(files / "new.arv") as rec:
        assert len(rec) == 1 and rec[0].time_stamp == 5
        with pytest.raises(IndexError):
            rec[1]
        with pytest.raises(IndexError):
            rec.frame(0, stream=2)
        with pytest.raises(ValueError, match="not writing"):
            rec.append(frame)
    for call in (lambda: rec[0], lambda: rec.frames(), lambda: rec.metadata, lambda: rec.find(0)):
        with pytest.raises(ValueError, match="closed"):
            call()


@pytest.mark.parametrize("stream", [-1, 1, 2**70])
def test_every_stream_index_out_of_range_raises_index_error(files, stream):
    with ekvision.Recording(files / "good.arv") as rec:  # one stream
        for call in (lambda: rec.frame(0, stream), lambda: rec.frames(stream=stream),
                     lambda: rec.read_metadata(stream), lambda: rec.find(0, stream)):
            with pytest.raises(IndexError, match=f"stream {stream} out of range"):
                call()


def test_importing_leaves_logging_alone_until_the_log_is_routed():
    # The library's log handler belongs to the process: a process of its own shows where
    # records go before, during and after routing.
    script = """
import logging, ekvision
records = []
class Keep(logging.Handler):
    def emit(self, record):
        records.append((record.name, record.levelno, record.getMessage()))
logging.getLogger("ekvision").addHandler(Keep())
handlers = list(logging.getLogger().handlers)
ekvision._ekvision._log_record(2, "vision.test", "before")
assert records == [] and logging.getLogger().handlers == handlers, records
ekvision.route_log_to_logging()
ekvision._ekvision._log_record(3, "vision.test", "routed\\n")
assert records == [("ekvision.vision.test", logging.WARNING, "routed")], records
ekvision.stop_routing_log()
ekvision._ekvision._log_record(2, "vision.test", "after")
assert len(records) == 1, records
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=False)
    assert done.returncode == 0, done.stderr
    assert done.stderr.splitlines() == ["[2] vision.test: before", "[2] vision.test: after"]
