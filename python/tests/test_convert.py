"""The conversions on numpy arrays give the bytes of the library's own functions."""

import threading

import numpy
import pytest

import ekvision
from conftest import oracle

# Sizes: the camera's, an odd pixel count (the unpaired last pixel), a single row, none.
SIZES = [(480, 640), (7, 5), (1, 9), (0, 4)]
UNPACKERS = [
    ("bgr", ekvision.yuv422_to_bgr, lambda h, w: (h, w, 3)),
    ("yyyyuuvv", ekvision.yuv422_to_yyyyuuvv, lambda h, w: (h * w * 2,)),
    ("yyyuuuvvv", ekvision.yuv422_to_yyyuuuvvv, lambda h, w: (3, h, w)),
]


@pytest.mark.parametrize("height,width", SIZES)
def test_conversions_equal_the_library_functions(tmp_path, rng, height, width):
    yuv = rng.integers(0, 256, (height, width, 2), numpy.uint8)
    bgr = rng.integers(0, 256, (height, width, 3), numpy.uint8)
    (tmp_path / "yuv").write_bytes(yuv.tobytes())
    (tmp_path / "bgr").write_bytes(bgr.tobytes())
    for kind, convert, shape in UNPACKERS:
        expected = oracle("convert", kind, width, height, tmp_path / "yuv")
        result = convert(yuv)
        assert result.shape == shape(height, width) and result.dtype == numpy.uint8
        assert result.tobytes() == expected, kind
        out = numpy.zeros(shape(height, width), numpy.uint8)
        assert convert(yuv, out=out) is out
        assert out.tobytes() == expected, kind
    packed = ekvision.bgr_to_yuv422(bgr)
    assert packed.shape == (height, width, 2)
    assert packed.tobytes() == oracle("convert", "yuv422", width, height, tmp_path / "bgr")


def test_conversions_run_in_parallel_threads_with_the_same_results(rng):
    yuv = rng.integers(0, 256, (480, 640, 2), numpy.uint8)
    expected = ekvision.yuv422_to_bgr(yuv)
    results = [None] * 4

    def convert(slot):
        out = numpy.empty((480, 640, 3), numpy.uint8)
        for _ in range(20):
            ekvision.yuv422_to_bgr(yuv, out=out)
        results[slot] = out

    threads = [threading.Thread(target=convert, args=(i,)) for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
    assert all(r is not None and (r == expected).all() for r in results)
