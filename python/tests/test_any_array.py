"""Whatever array reaches the package, the answer is a result or TypeError/ValueError: the
interpreter never crashes and no buffer is read or written past its end."""

import itertools

import numpy

import ekvision


def arrays():
    """Arrays of many dtypes, dimensions, sizes, orders and strides."""
    rng = numpy.random.default_rng(5)
    shapes = [(), (0,), (7,), (0, 0, 2), (2, 0, 3), (1, 1, 2), (3, 5, 2), (4, 6, 3), (4, 6),
              (120, 160, 2), (120, 160, 3), (120, 160), (2, 4, 6, 2), (4, 6, 1), (4, 6, 4)]
    for shape, dtype in itertools.product(shapes, ["uint8", "int8", "uint16", "float32", "bool", "object"]):
        base = rng.integers(0, 255, shape).astype(dtype) if dtype != "object" else numpy.empty(shape, object)
        yield base
        if base.ndim >= 2:
            yield numpy.asfortranarray(base)
            yield base[::-1]
            yield base.swapaxes(0, 1)
        if base.ndim >= 1 and base.shape[0] > 1:
            yield base[::2]
    yield numpy.zeros((4, 6, 2), ">u2").view(numpy.uint8)[:, :, :2]
    yield memoryview(b"abcd")
    yield None
    yield [[1, 2]]


def calls(tmp_path):
    rec = ekvision.Recording.create(tmp_path / "any.arv", [(160, 120), (160, 120, 0)])
    ok = [numpy.zeros((120, 160, 2), numpy.uint8), numpy.zeros((120, 160), numpy.uint8)]
    return rec, [
        lambda a: ekvision.yuv422_to_bgr(a),
        lambda a: ekvision.yuv422_to_yyyyuuvv(a),
        lambda a: ekvision.yuv422_to_yyyuuuvvv(a),
        lambda a: ekvision.bgr_to_yuv422(a),
        lambda a: ekvision.yuv422_to_bgr(numpy.zeros((4, 6, 2), numpy.uint8), out=a),
        lambda a: ekvision.bgr_to_yuv422(numpy.zeros((4, 6, 3), numpy.uint8), out=a),
        lambda a: ekvision.yuv422_to_yyyuuuvvv(numpy.zeros((4, 6, 2), numpy.uint8), out=a),
        lambda a: ekvision.save_picture(tmp_path / "any.ari", a, color_space=9),
        lambda a: ekvision.save_picture(tmp_path / "any.ari", a, color_space=0),
        lambda a: ekvision.save_ppm(tmp_path / "any.ppm", a, color_space=13),
        lambda a: rec.append([a, ok[1]]),
        lambda a: rec.append([ok[0], a]),
    ]


def test_every_entry_point_takes_any_array_without_crashing(tmp_path):
    rec, entry_points = calls(tmp_path)
    accepted = refused = 0
    for array, call in itertools.product(list(arrays()), entry_points):
        try:
            call(array)
            accepted += 1
        except (TypeError, ValueError):
            refused += 1
    rec.close()
    with ekvision.Recording(rec.path) as back:
        assert len(back) == len(back.metadata)
    # Both outcomes occur: the right arrays are taken, all others refused.
    assert accepted > 20 and refused > 1000
