"""recover() gives a crashed recording its complete frames; a live writer keeps others out."""

import errno
import os
import subprocess
import sys

import numpy
import pytest

import ekvision
from conftest import record_moving_square


def crash(path):
    """The recording as a writer that died mid-frame leaves it: count 0xFFFFFFFF, cut short."""
    with open(path, "r+b") as file:
        file.seek(8)
        file.write(b"\xff\xff\xff\xff")
    os.truncate(path, os.path.getsize(path) - 5000)


def test_a_crashed_recording_gets_its_complete_frames_back(tmp_path):
    path = record_moving_square(tmp_path / "clip.arv", 6)
    crash(path)
    dry = ekvision.recover(path, dry_run=True)
    assert (dry.frame_count, dry.changed, dry.state, dry.stored_count) == (5, True, "open", 0xFFFFFFFF)
    assert open(path, "rb").read()[8:12] == b"\xff\xff\xff\xff"
    done = ekvision.recover(path)
    assert (done.frame_count, done.changed, done.complete_frames) == (5, True, 5)
    assert done.partial_bytes == 320 * 240 * 2 - 5000
    assert open(path, "rb").read()[8:12] == (5).to_bytes(4, "little")
    again = ekvision.recover(path)
    assert (again.changed, again.state) == (False, "closed")
    with ekvision.Recording(path) as rec:
        assert len(rec) == 5 and rec[4].time_stamp == 1_000_000 + 4 * 66_667


def test_a_live_writer_keeps_a_second_writer_and_recovery_out(tmp_path):
    path = tmp_path / "live.arv"
    with ekvision.Recording.create(path, [(160, 120)]) as rec:
        rec.append(numpy.zeros((120, 160, 2), numpy.uint8))
        for call in (lambda: ekvision.Recording.create(path, [(160, 120)]), lambda: ekvision.recover(path)):
            with pytest.raises(BlockingIOError, match=f"being written by process {os.getpid()}") as caught:
                call()
            assert caught.value.errno == errno.EAGAIN
        rec.append(numpy.zeros((120, 160, 2), numpy.uint8))
    assert ekvision.recover(path).state == "closed"
    with ekvision.Recording(path) as rec:
        assert len(rec) == 2
    with pytest.raises(FileNotFoundError):
        ekvision.recover(tmp_path / "none.arv")
    (tmp_path / "junk.arv").write_bytes(b"junk" * 10)
    with pytest.raises(ekvision.FormatError, match="version isn't supported"):
        ekvision.recover(tmp_path / "junk.arv")


def test_a_full_disk_raises_oserror_with_errno_and_recover_restores_the_frames(tmp_path):
    # A file size limit stands for the full disk, in a process of its own.
    script = f"""
import errno, resource, signal, numpy, ekvision
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (200_000, 200_000))
rec = ekvision.Recording.create({str(tmp_path / 'full.arv')!r}, [(160, 120)])
try:
    for i in range(20):
        rec.append(numpy.zeros((120, 160, 2), numpy.uint8), time_stamp=i)
except OSError as error:
    assert error.errno == errno.EFBIG and "takes no more frames" in str(error), error
    print("append", i)
try:
    rec.close()
except OSError as error:
    assert error.errno == errno.EFBIG and "recover()" in str(error), error
    print("close")
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=False)
    assert done.returncode == 0, done.stderr
    assert "append 5\n" in done.stdout and "close\n" in done.stdout
    assert ekvision.recover(tmp_path / "full.arv").frame_count == 5
