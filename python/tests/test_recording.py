"""Recordings read into numpy equal the library's own reads, and written ones read back in C++."""

import os
from pathlib import Path

import numpy
import pytest

import ekvision
from ekvision import _ekvision
from ekvision._recording import _RECORD_HEADER_DTYPE
from conftest import cpp_frames, oracle, record_moving_square

STREAMS = [(320, 240, 9), (160, 120, 0), (160, 120, 10)]


@pytest.fixture
def written(tmp_path, rng):
    """A three-stream recording written from Python: the arrays and fields of every frame."""
    frames = []
    with ekvision.Recording.create(tmp_path / "three", STREAMS) as rec:
        for i in range(6):
            arrays = [rng.integers(0, 256, (240, 320, 2), numpy.uint8),
                      rng.integers(0, 256, (120, 160), numpy.uint8),
                      rng.integers(0, 256, (120, 160, 3), numpy.uint8)]
            fields = dict(time_stamp=10**12 + 33_333 * i - (i == 5) * 10**13, camera=i - 2,
                          angles=(0.1 * i, 0.2, -0.1, -0.2 * i))
            rec.append(arrays, **fields)
            frames.append((arrays, fields))
    assert rec.path == str(tmp_path / "three.arv")
    return rec.path, frames


def test_reads_equal_the_libraries_byte_for_byte_and_writes_read_back_in_cpp(written):
    path, frames = written
    with ekvision.Recording(path) as rec:
        assert len(rec) == len(frames)
        assert [(s.width, s.height, s.color_space) for s in rec.streams] == STREAMS
        for stream, info in enumerate(rec.streams):
            cpp = cpp_frames(path, stream, info.record_length)
            assert len(cpp) == len(frames)
            metadata = rec.read_metadata(stream)
            block = rec.frames(stream=stream)
            assert block.shape == (len(frames), info.height, info.width, info.layers)
            for i, (stamp, camera, angles, record) in enumerate(cpp):
                frame = rec.frame(i, stream)
                arrays, fields = frames[i]
                # Python's reads are the library's.
                assert frame.pixels.shape == info.shape
                assert frame.pixels.tobytes() == record == block[i].tobytes()
                assert (frame.time_stamp, frame.camera, frame.angles) == (stamp, camera, angles)
                assert tuple(metadata[i]) == (stamp, camera) + angles
                # The record header dtype, built from the offsets the binding publishes,
                # reads the leading bytes of a frame as the player does.
                leading = frame.pixels.reshape(-1)[:_ekvision.RECORD_HEADER_SIZE]
                assert tuple(leading.view(_RECORD_HEADER_DTYPE)[0]) == (stamp, camera) + angles
                # What Python wrote is what C++ reads: the fields, and every pixel after the
                # 25 bytes the record header takes.
                assert (stamp, camera) == (fields["time_stamp"], fields["camera"])
                assert numpy.allclose(angles, fields["angles"], atol=1e-7)
                assert record[25:] == arrays[stream].tobytes()[25:]


def test_version_0_frames_get_the_players_default_angles(written):
    path, _ = written
    with open(path, "r+b") as file:
        file.write(b"0")  # "0VRA": the version 0 magic
    with ekvision.Recording(path) as rec:
        cpp = cpp_frames(path, 0, rec.streams[0].record_length)
        assert {c[2] for c in cpp} == {tuple(rec.metadata[0])[2:]} == {rec[3].angles}
        assert rec[3].angles[0] == pytest.approx(0.4169222)


def test_iteration_slices_find_and_blocks_agree(tmp_path):
    path = record_moving_square(tmp_path / "clip.arv", 10)
    with ekvision.Recording(path) as rec:
        stamps = rec.metadata["time_stamp"]
        assert [f.time_stamp for f in rec] == list(stamps)
        assert [f.index for f in rec[-3:]] == [7, 8, 9]
        assert rec[-1].time_stamp == stamps[-1]
        block = rec.frames(2, 5)
        assert block.shape == (3, 240, 320, 2)
        assert all((block[k] == rec[2 + k].pixels).all() for k in range(3))
        assert rec.frames(8, 100).shape[0] == 2 and rec.frames(5, 2).shape[0] == 0
        assert rec.find(stamps[4]).index == 4
        assert rec.find(stamps[4] + 1).index == 4
        assert rec.find(stamps[-1] + 10**9).index == 9
        assert rec.find(stamps[0] - 1) is None
        bgr = rec[1].bgr()
        assert bgr.shape == (240, 320, 3) and bgr[80, 20:30].min() > 250


def test_an_unclosed_or_cut_recording_reads_its_complete_frames(tmp_path):
    path = record_moving_square(tmp_path / "clip.arv", 5)
    with open(path, "r+b") as file:
        file.seek(8)
        file.write(b"\xff\xff\xff\xff")  # as a recorder that crashed leaves it
    os.truncate(path, os.path.getsize(path) - 1000)
    with ekvision.Recording(path) as rec:
        assert len(rec) == 4
        assert len(rec.metadata) == 4
        with pytest.raises(IndexError):
            rec[4]


def test_bgr_frames_are_converted_as_the_library_converts_them(tmp_path, rng):
    bgr = rng.integers(0, 256, (120, 160, 3), numpy.uint8)
    with ekvision.Recording.create(tmp_path / "bgr.arv", [(160, 120)]) as rec:
        rec.append(bgr, time_stamp=7)
    (tmp_path / "bgr.raw").write_bytes(bgr.tobytes())
    expected = oracle("convert", "yuv422", 160, 120, tmp_path / "bgr.raw")
    with ekvision.Recording(tmp_path / "bgr.arv") as rec:
        assert rec[0].pixels.tobytes()[25:] == expected[25:]
        assert rec[0].time_stamp == 7


def test_threads_reading_one_recording_while_it_closes_get_frames_or_errors(tmp_path):
    import threading

    path = record_moving_square(tmp_path / "clip.arv", 20)
    rec = ekvision.Recording(path)
    expected = [f.pixels.tobytes() for f in rec]
    outcomes = []

    def read():
        try:
            for _ in range(30):
                for i in range(len(expected)):
                    assert rec[i].pixels.tobytes() == expected[i]
                rec.metadata
            outcomes.append("read")
        except (ValueError, OSError) as error:  # closed meanwhile
            outcomes.append(type(error).__name__)

    threads = [threading.Thread(target=read) for _ in range(3)]
    for thread in threads:
        thread.start()
    rec.frames()
    rec.close()
    for thread in threads:
        thread.join(timeout=60)
    assert len(outcomes) == 3 and rec.closed


def test_a_recording_has_its_attributes_for_writing_for_reading_and_closed(tmp_path):
    path = str(tmp_path / "states.arv")
    streams = [ekvision.Stream(160, 120, 9, 2, 8, 160 * 120 * 2)]

    def check(rec, closed):
        assert (rec.path, rec.streams, rec.closed, len(rec)) == (path, streams, closed, 0)
        assert path in repr(rec)

    for rec in (ekvision.Recording.create(tmp_path / "states", [(160, 120)]),
                ekvision.Recording(path)):
        check(rec, False)
        rec.close()
        check(rec, True)

def test_camera_indices_round_trip_over_the_whole_byte_and_are_refused_beyond(tmp_path):
    pixels = numpy.zeros((120, 160, 2), numpy.uint8)
    cameras = [-128, -1, 0, 127]
    with ekvision.Recording.create(tmp_path / "cameras", [(160, 120)]) as rec:
        for camera in cameras:
            rec.append(pixels, camera=camera)
        for camera in (-129, 128, 200, 2**70):
            for write in (lambda: rec.append(pixels, camera=camera),
                          lambda: ekvision.save_picture(tmp_path / "p.ari", pixels, camera=camera)):
                with pytest.raises(ValueError, match=f"camera must be -128 to 127 .*, not {camera}$"):
                    write()
    assert len(rec) == len(cameras)
    with ekvision.Recording(rec.path) as rec:
        assert [f.camera for f in rec] == list(rec.metadata["camera"]) == cameras
    for camera in cameras:
        ekvision.save_picture(tmp_path / "p.ari", pixels, camera=camera)
        assert ekvision.read_picture(tmp_path / "p.ari").camera == camera


def test_file_names_are_taken_as_str_bytes_or_path_like_the_os_module_takes_them(tmp_path):
    # A name that is not UTF-8, as os.listdir(bytes) gives it.
    name = os.fsencode(tmp_path) + b"/caf\xe9"
    pixels = numpy.zeros((120, 160, 2), numpy.uint8)
    for kind in (bytes, os.fsdecode, lambda p: Path(os.fsdecode(p))):
        with ekvision.Recording.create(kind(name), [(160, 120)]) as rec:
            rec.append(pixels, time_stamp=9)
        assert rec.path == os.fsdecode(name + b".arv")
        assert os.listdir(os.fsencode(tmp_path)) == [b"caf\xe9.arv"]
        with ekvision.Recording(kind(name + b".arv")) as rec:
            assert rec[0].time_stamp == 9 and rec.path == os.fsdecode(name + b".arv")
        assert ekvision.recover(kind(name + b".arv")).frame_count == 1
        ekvision.save_picture(kind(name + b".ari"), pixels, time_stamp=4)
        assert ekvision.read_picture(kind(name + b".ari")).time_stamp == 4
        ekvision.save_ppm(kind(name + b".ppm"), pixels)
        for made in (b".arv", b".ari", b".ppm"):
            os.unlink(name + made)
        with pytest.raises(FileNotFoundError) as caught:
            ekvision.Recording(kind(name + b".arv"))
        assert caught.value.filename == os.fsdecode(name + b".arv")
