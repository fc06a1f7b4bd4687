"""What the Python tests share: the build tree, the library called directly (the oracle),
and recordings of a moving square."""

import os
import struct
import subprocess
from pathlib import Path

import numpy
import pytest

import ekvision

BUILD = Path(os.environ.get("EKVISION_BUILD_DIR", Path(__file__).resolve().parents[2] / "build" / "dev"))
ORACLE = BUILD / "python" / "ekvision_python_oracle"
MOTION_PLUGIN = BUILD / "modules" / "motiondetector" / "libekmotiondetector.so"


def oracle(*args):
    """Standard output of the oracle (the library called from C++), which must succeed."""
    done = subprocess.run([str(ORACLE), *map(str, args)], capture_output=True, check=False)
    assert done.returncode == 0, done.stderr.decode()
    return done.stdout


def cpp_frames(path, stream, record_length):
    """Every frame of a stream as EKVideo::getFrame reads it: (stamp, camera, angles, bytes)."""
    data = oracle("dump", path, stream)
    size = 25 + record_length
    assert len(data) % size == 0
    frames = []
    for at in range(0, len(data), size):
        stamp, camera, *angles = struct.unpack_from("<qb4f", data, at)
        frames.append((stamp, camera, tuple(angles), data[at + 25:at + size]))
    return frames


def moving_square(index, width=320, height=240, side=40):
    """A YUV422 frame: a bright square on a dark ground, 8 pixels further right each frame."""
    pixels = numpy.empty((height, width, 2), numpy.uint8)
    pixels[..., 0] = 16
    pixels[..., 1] = 128
    x = (8 * index) % (width - side)
    pixels[60:60 + side, x:x + side, 0] = 235
    return pixels


def record_moving_square(path, frames, start=1_000_000):
    """A closed one-stream recording of ``frames`` frames of the moving square, 1/15 s apart."""
    with ekvision.Recording.create(path, [(320, 240)]) as rec:
        for i in range(frames):
            rec.append(moving_square(i), time_stamp=start + i * 66_667, camera=1,
                       angles=(0.4, 0.3, -0.4, -0.3))
    return str(path)


@pytest.fixture
def rng():
    return numpy.random.default_rng(14)


CRASH_PLUGIN = BUILD / "python" / "libekvision_python_crashplugin.so"

# Dask's worker processes import ekvision from where these tests found it.
os.environ["PYTHONPATH"] = os.pathsep.join(
    [str(Path(ekvision.__file__).resolve().parents[1])] + os.environ.get("PYTHONPATH", "").split(os.pathsep))
