"""`.ari` pictures written from Python read back in C++, and PPM export."""

import struct

import numpy
import pytest

import ekvision
from conftest import oracle


@pytest.mark.parametrize("shape,color_space", [((120, 160, 2), 9), ((5, 7), 0), ((4, 6, 3), 13)])
def test_pictures_written_read_back_in_cpp_and_in_python(tmp_path, rng, shape, color_space):
    pixels = rng.integers(0, 256, shape, numpy.uint8)
    path = tmp_path / "p.ari"
    ekvision.save_picture(path, pixels, color_space=color_space, time_stamp=-5, camera=-1,
                          angles=(0.5, 0.25, -0.5, -0.25))
    data = oracle("ari", path)
    width, height, layers, space, stamp, camera, *angles = struct.unpack_from("<4iqi4f", data)
    assert (height, width, layers, space) == (shape[0], shape[1], pixels.size // (shape[0] * shape[1]), color_space)
    assert (stamp, camera, angles) == (-5, -1, [0.5, 0.25, -0.5, -0.25])
    assert data[struct.calcsize("<4iqi4f"):] == pixels.tobytes()
    picture = ekvision.read_picture(path)
    assert (picture.pixels == pixels).all() and picture.pixels.shape == shape
    assert (picture.color_space, picture.time_stamp, picture.camera) == (color_space, -5, -1)
    # A picture saved again with its own fields is the same file.
    ekvision.save_picture(tmp_path / "again.ari", picture)
    assert (tmp_path / "again.ari").read_bytes() == path.read_bytes()


def test_ppm_export_writes_the_librarys_layout(tmp_path):
    grey = numpy.arange(12, dtype=numpy.uint8).reshape(3, 4)
    ekvision.save_ppm(tmp_path / "g.ppm", grey, color_space=0)
    assert (tmp_path / "g.ppm").read_bytes() == b"P6\n4 3\n 255\n" + numpy.repeat(grey.ravel(), 3).tobytes()
    yuv = numpy.array([[[1, 2], [3, 4]]], numpy.uint8)  # Y0 U Y1 V
    ekvision.save_ppm(tmp_path / "y.ppm", yuv)
    assert (tmp_path / "y.ppm").read_bytes() == b"P6\n2 1\n 255\n" + bytes([1, 2, 4, 3, 2, 4])
