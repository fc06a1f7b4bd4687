"""ekvision.Camera on the synthetic scene and on a remote camera served by the tool in
another process; ekvision.call against a run of the tool that answers on --control."""

import subprocess
import time

import pytest

import ekvision
from ekvision import _paths


def start_tool(*args):
    return subprocess.Popen([_paths.TOOL, *map(str, args)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)


def test_the_synthetic_scene_gives_paced_pictures_with_their_capture_fields():
    with ekvision.Camera(None, resolution=0, fps=30) as camera:
        assert camera.description.startswith("synthetic scene 160x120")
        pictures = [camera.read() for _ in range(6)]
    assert camera.closed
    stamps = [picture.time_stamp for picture in pictures]
    periods = [b - a for a, b in zip(stamps, stamps[1:])]
    assert all(25_000 <= period <= 60_000 for period in periods), periods
    first = pictures[0]
    assert first.pixels.shape == (120, 160, 2) and first.color_space == ekvision.YUV422
    assert first.camera == 0 and first.angles[0] > 0 > first.angles[2]
    with pytest.raises(ValueError, match="closed"):
        camera.read()


@pytest.mark.parametrize("arguments, error", [
    (dict(resolution=4), ValueError),
    (dict(fps=0), ValueError),
    (dict(timeout=-1), ValueError),
    (dict(spec="/no/such/clip.mp4"), FileNotFoundError),
    (dict(spec="tcp://127.0.0.1"), ValueError),
])
def test_cameras_that_cannot_be_opened_raise_the_documented_error(arguments, error):
    with pytest.raises(error):
        ekvision.Camera(**arguments)


def test_a_remote_camera_brings_the_servers_stamps_and_comes_back_after_a_restart(tmp_path):
    endpoint = f"ipc://{tmp_path}/camera"
    server = start_tool("serve", "--bind", endpoint, "--fps", "30", "--seconds", "2", "--encoding", "zstd")
    try:
        with ekvision.Camera(endpoint, resolution=0, timeout=3) as camera:
            assert camera.description.startswith(f"remote camera {endpoint} (")
            pictures = [camera.read() for _ in range(5)]
            assert pictures[-1].pixels.shape == (120, 160, 2), "the server took the size asked"
            stamps = [picture.time_stamp for picture in pictures]
            assert stamps == sorted(set(stamps)), "each picture newer than the one before"
            assert server.wait(timeout=10) == 0
            # The server is gone: one OSError names it, then reading waits for frames again.
            with pytest.raises(OSError, match=endpoint):
                while True:
                    camera.read(timeout=5)
            with pytest.raises(TimeoutError):
                camera.read(timeout=0.3)
            server = start_tool("serve", "--bind", endpoint, "--fps", "30", "--seconds", "3")
            started = time.monotonic()
            picture = camera.read(timeout=5)
            assert time.monotonic() - started < 3.5
            assert picture.time_stamp > stamps[-1]
    finally:
        server.kill()
        server.wait()


def test_call_pauses_a_run_and_refuses_what_the_method_cannot_take(tmp_path):
    endpoint = f"ipc://{tmp_path}/control"
    run = start_tool("run", "--control", endpoint, "--seconds", "6", "--resolution", "0")
    try:
        deadline = time.monotonic() + 5
        while True:
            try:
                methods = ekvision.list_methods(endpoint, timeout=0.3)
                break
            except ekvision.CallError:
                assert time.monotonic() < deadline, "the run never answered"
        assert ("pause", [("paused", "bool")], "void") in [
            method[:3] for method in methods["MotionDetector"]]
        assert ekvision.call(endpoint, "MotionDetector", "pause", True) is None
        assert ekvision.call(endpoint, "MotionDetector", "isPaused") is True
        assert ekvision.call(endpoint, "MotionDetector", "setFrameRate", 5) is True
        assert ekvision.call(endpoint, "MotionDetector", "getFrameRate") == 5
        for args, cause in [(("MotionDetector", "nosuch"), "not-found"),
                            (("Nobody", "pause", True), "not-found"),
                            (("MotionDetector", "pause", "maybe"), "invalid-argument"),
                            (("MotionDetector", "pause"), "invalid-argument")]:
            with pytest.raises(ekvision.CallError) as refused:
                ekvision.call(endpoint, *args)
            assert refused.value.cause == cause, str(refused.value)
        with pytest.raises(TypeError, match="dict"):
            ekvision.call(endpoint, "MotionDetector", "pause", {})
        with pytest.raises(ValueError, match="32 bits"):
            ekvision.call(endpoint, "MotionDetector", "setFrameRate", 2**40)
    finally:
        run.kill()
        run.wait()
    with pytest.raises(ekvision.CallError, match="no answer") as silent:
        ekvision.call(endpoint, "MotionDetector", "isPaused", timeout=0.3)
    assert silent.value.cause == "unavailable"
