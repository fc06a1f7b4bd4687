"""Vision modules written in Python, run by the C++ engine: the same detections as a C++
module with the same rule, the engine's pacing, pause and remote methods around Python
hooks, the image view's lifetime, failures of the hooks and of the module file."""

import os
import re
import signal
import subprocess
import textwrap
import threading
import time
from pathlib import Path

import numpy
import pytest

import ekvision
from conftest import BUILD, MOTION_PLUGIN
from motionport import MotionPort
from ekvision.batch import run_recording

TOOL = BUILD / "tools" / "ekvision"


def write_module(folder, source, name="detector.py"):
    path = folder / name
    path.write_text(textwrap.dedent(source))
    return str(path)


def run_in_background(module, seconds, endpoint):
    """Runs ``module`` on a thread of its own, answering remote methods on ``endpoint``;
    the result lands in the dict returned beside the thread."""
    outcome = {}
    runner = threading.Thread(target=lambda: outcome.update(
        result=ekvision.run(module, seconds=seconds, control=endpoint)))
    runner.start()
    return runner, outcome


def run_tool(*args):
    return subprocess.run([str(TOOL), "run", *map(str, args)], capture_output=True, text=True,
                          timeout=120, check=False)


@pytest.fixture(scope="module")
def scene(tmp_path_factory):
    """Two seconds of the synthetic scene, recorded by the tool."""
    path = tmp_path_factory.mktemp("scene") / "scene.arv"
    done = run_tool("--seconds", 2, "--fps", 15, "--record", path)
    assert done.returncode == 0, done.stderr
    return str(path)


def test_a_numpy_port_of_the_motion_rule_finds_what_the_cpp_detector_finds(scene, tmp_path):
    expected = run_recording(str(MOTION_PLUGIN), scene)
    assert expected.error is None and len(expected.detections) > 10

    result = ekvision.run(MotionPort, camera=scene, every_frame=True)
    assert result.error is None and result.frames == expected.frames
    assert result.detections == expected.detections

    # The batch runner takes the Python module's file as it takes a plugin.
    from_file = run_recording(os.path.join(os.path.dirname(__file__), "motionport.py"), scene)
    assert from_file.error is None and from_file.detections == expected.detections


class Keeper(ekvision.Module):
    """Keeps what it must not: the image, and its pixels."""

    def __init__(self):
        super().__init__("Keeper", frame_rate=30)
        self.kept = []

    def process_image(self, image):
        pixels = image.pixels
        address = pixels.__array_interface__["data"][0]
        self.kept.append((image, pixels, address == image._buffer_address, pixels.copy(),
                          pixels.flags.writeable))


def test_pixels_view_the_engine_buffer_and_a_kept_view_holds_a_copy():
    module = Keeper()
    result = ekvision.run(module, frames=3)
    assert result.error is None and len(module.kept) >= 3
    for image, pixels, same_address, during, writeable in module.kept:
        assert same_address and not writeable
        assert pixels.shape == (480, 640, 2) == (image.height, image.width, 2)
        # The engine's buffer is gone; what was kept reads as the frame it was.
        assert numpy.array_equal(pixels, during)
        with pytest.raises(ValueError, match="only while process_image runs"):
            image.pixels
    stamps = [image.time_stamp for image, *_ in module.kept]
    assert stamps == sorted(stamps)
    assert [w for w in result.warnings if "kept image.pixels" in w]


def test_a_failing_hook_is_logged_with_its_traceback_and_ends_the_loop():
    class Failing(ekvision.Module):
        def __init__(self, fail_in):
            super().__init__("Failing", frame_rate=30)
            self.fail_in = fail_in
            self.frames = 0

        def on_start_detection(self):
            if self.fail_in == "start":
                raise KeyError("no model")

        def process_image(self, image):
            self.frames += 1
            if self.fail_in == "frame" and self.frames == 3:
                self.check(image)

        def check(self, image):
            raise ValueError(f"bad frame at {image.time_stamp}")

    failing = Failing("frame")
    result = ekvision.run(failing, seconds=30)
    assert failing.frames == 3 and result.frames == 3
    (line,) = [w for w in result.warnings if "Failing.process_image raised" in w]
    assert "ValueError: bad frame at" in line
    assert "in check <- test_module.py:" in line and "in process_image" in line

    with pytest.raises(RuntimeError, match="on_start_detection raised KeyError"):
        ekvision.run(Failing("start"), seconds=30)


class Slow(ekvision.Module):
    """Blocks each hook for three frame periods, and answers a remote method meanwhile."""

    def __init__(self):
        super().__init__("Slow", frame_rate=30)
        self.calls = []
        self.inside = False
        self.overlapped = False
        self.lock = threading.Lock()

    def process_image(self, image):
        self.overlapped |= self.inside
        self.inside = True
        started = time.monotonic()
        time.sleep(3 / 30)
        self.calls.append((image.time_stamp, time.monotonic() - started))
        self.inside = False

    @ekvision.remote_method("describe", doc="State while the hook may run",
                            returns=("state", "[frames, inside, scaled]"),
                            params={"factor": "scale", "label": "a name"})
    def describe(self, factor: float, label: str) -> list:
        return [len(self.calls), self.inside, factor * 2, label.upper()]


def test_a_hook_slower_than_the_frame_period_is_waited_for_and_remote_calls_still_answer(tmp_path):
    endpoint = f"ipc://{tmp_path}/control"
    module = Slow()
    runner, outcome = run_in_background(module, 1.5, endpoint)
    answers = []
    listed = None
    try:
        deadline = time.monotonic() + 30
        while not answers and time.monotonic() < deadline:
            try:
                listed = ekvision.list_methods(endpoint, timeout=2)
                while module.calls and len(answers) < 5:
                    answers.append(ekvision.call(endpoint, "Slow", "describe", 3, "x", timeout=5))
            except ekvision.CallError:
                time.sleep(0.05)
    finally:
        runner.join()
    result = outcome["result"]
    assert result.error is None and not module.overlapped
    # Each frame waited for the hook before the next; no frame was handed over twice.
    assert result.frames == len(module.calls) and all(d >= 3 / 30 for _, d in module.calls)
    stamps = [stamp for stamp, _ in module.calls]
    assert len(set(stamps)) == len(stamps)
    assert answers and all(a[2] == pytest.approx(6.0) and a[3] == "X" for a in answers)
    # Remote calls come in while the hook sleeps: some find it inside.
    assert any(a[1] for a in answers)
    describe = [m for m in listed["Slow"] if m[0] == "describe"][0]
    assert describe[1] == [("factor", "float"), ("label", "std::string")]
    assert describe[2] == "EKValue"


class Stamps(ekvision.Module):
    def __init__(self):
        super().__init__("Stamps", frame_rate=10)
        self.stamps = []

    def process_image(self, image):
        self.stamps.append(image.time_stamp)

    @ekvision.remote_method("count", returns=("frames", "frames seen"))
    def count(self) -> int:
        return len(self.stamps)


def test_pause_resume_and_a_new_frame_rate_reach_the_python_module_mid_run(tmp_path):
    endpoint = f"ipc://{tmp_path}/control"
    module = Stamps()
    runner, outcome = run_in_background(module, 5, endpoint)

    def call(method, *args):
        return ekvision.call(endpoint, "Stamps", method, *args, timeout=10)

    try:
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            try:
                if call("count") >= 3:
                    break
            except ekvision.CallError:
                pass
            time.sleep(0.05)
        call("pause", True)
        while not call("isPaused"):
            time.sleep(0.01)
        time.sleep(0.3)  # the next frame may still be taken before the pause
        paused_at = call("count")
        time.sleep(0.5)
        assert call("count") == paused_at and call("getFrameCount") == paused_at
        call("pause", False)
        assert call("setFrameRate", 30)
        changed_at = call("count")
        while call("count") < changed_at + 6:
            time.sleep(0.05)
    finally:
        runner.join()
    steps = numpy.diff(module.stamps[changed_at + 1:]) / 1e6
    # The scene's stamps lie on the module's frame grid: a 30 frames/s grid after the change.
    assert numpy.median(steps) == pytest.approx(1 / 30, abs=1e-3)
    assert numpy.median(numpy.diff(module.stamps[:paused_at]) / 1e6) == pytest.approx(0.1, abs=1e-3)
    assert not runner.is_alive() and outcome["result"].error is None


def test_two_python_modules_run_at_once_in_one_process_and_a_module_object_in_one_host():
    first, second = MotionPort(), Stamps()
    results = {}
    threads = [threading.Thread(target=lambda m=m: results.update({m.name: ekvision.run(m, frames=12)}))
               for m in (first, second)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results["MotionPort"].error is None and results["MotionPort"].frames >= 12
    assert results["MotionPort"].detections  # the scene's rectangle moves
    assert results["Stamps"].frames == len(second.stamps) >= 12

    shared = Stamps()
    hosting = threading.Thread(target=lambda: ekvision.run(shared, seconds=1))
    hosting.start()
    while shared._engine is None and hosting.is_alive():
        time.sleep(0.01)
    with pytest.raises(ValueError, match="hosted already"):
        ekvision.run(shared, seconds=1)
    hosting.join()

    with pytest.raises(RuntimeError, match="needs a running host"):
        Stamps().report(0, 0, 1, 1)


def test_module_files_that_cannot_run_get_one_line_and_exit_code_2(tmp_path):
    cases = {
        "syntax": ("import ekvision\nclass A(ekvision.Module:\n    pass\n", [],
                   "SyntaxError: "),
        "none": ("import ekvision\nx = 1\n", [], "exactly one ekvision.Module subclass"),
        "two": ("import ekvision\nclass A(ekvision.Module):\n    pass\n"
                "class B(ekvision.Module):\n    pass\n", [], "(found: A, B)"),
        "named": ("import ekvision\nclass A(ekvision.Module):\n    pass\n", ["--class", "B"],
                  "no ekvision.Module subclass named B"),
        "import": ("import no_such_module_here\n", [], "ModuleNotFoundError"),
        "init": ("import ekvision\nclass A(ekvision.Module):\n    def __init__(self):\n"
                 "        super().__init__('')\n", [], "cannot build A of"),
    }
    for case, (source, extra, words) in cases.items():
        path = write_module(tmp_path, source, f"{case}.py")
        done = run_tool("--module", path, "--seconds", 1, *extra)
        assert done.returncode == 2, (case, done.stderr)
        lines = done.stderr.strip().splitlines()
        assert len(lines) == 1 and words in lines[0] and f"{case}.py" in lines[0], (case, lines)


def test_the_tool_runs_a_python_module_lists_its_methods_and_calls_them(tmp_path):
    path = write_module(tmp_path, """
        import ekvision

        class Counter(ekvision.Module):
            def __init__(self):
                super().__init__("Counter", frame_rate=20)
                self.frames = 0

            def process_image(self, image):
                self.frames += 1
                self.report(10, 20, 30, 40, self.frames)

            @ekvision.remote_method("scaled", doc="frames times k", returns=("n", "frames"))
            def scaled(self, k: int) -> int:
                return self.frames * k

            @ekvision.remote_method("broken", returns=("what", "nothing that works"))
            def broken(self, how: str):
                return object() if how == "value" else 1 / 0
        """)
    listed = run_tool("--module", path, "--list-methods")
    assert listed.returncode == 0 and "scaled(int k) -> int  frames times k" in listed.stdout
    detections = tmp_path / "found.jsonl"
    done = run_tool("--module", path, "--frames", 5, "--call", "scaled", 0,
                    "--detections", detections)
    assert done.returncode == 0, done.stderr
    assert "module: Counter from" in done.stdout and "call scaled(0) -> 0" in done.stdout
    assert "asked 20" in done.stdout
    lines = detections.read_text().splitlines()
    assert len(lines) >= 6 and '"x": 10' in lines[0].replace('"x":10', '"x": 10')
    # A remote method's failure is the call's, with the Python cause, and ends the run.
    for how, words in (("value", "cannot pass a object"), ("raise", "ZeroDivisionError")):
        failed = run_tool("--module", path, "--frames", 5, "--call", "broken", how)
        assert failed.returncode == 1 and words in failed.stderr, failed.stderr


PEOPLE_VIDEO = "/usr/share/doc/opencv-doc/examples/data/vtest.avi"


def test_the_people_detector_finds_people_walking_in_a_real_clip(tmp_path):
    clip = tmp_path / "people.mp4"
    subprocess.run(["ffmpeg", "-v", "error", "-i", PEOPLE_VIDEO, "-t", "4", "-vf",
                    "scale=640:480", "-pix_fmt", "yuv420p", str(clip)], check=True, timeout=120)
    people = Path(__file__).resolve().parents[2] / "modules" / "peopledetector" / "people.py"
    done = run_tool("--module", people, "--camera", clip, "--frames", 15)
    assert done.returncode == 0, done.stderr
    boxes = [line.split("box ")[1].split(" angles")[0] for line in done.stdout.splitlines()
             if line.startswith("detection ")]
    assert len(boxes) >= 5
    for box in boxes:
        x, y, w, h = (int(part.split("=")[1]) for part in box.split())
        # Upright people: taller than wide, inside the frame.
        assert h > w and 0 <= x and x + w <= 640 + 16 and y + h <= 480 + 16


def test_the_readme_module_runs_as_written(tmp_path):
    readme = (Path(__file__).resolve().parents[2] / "README.md").read_text()
    block = readme.split("<!-- brightspot.py:")[1].split("```python\n")[1].split("```")[0]
    assert len(block.strip().splitlines()) <= 25
    path = write_module(tmp_path, block, "brightspot.py")
    done = run_tool("--module", path, "--seconds", 1, "--call", "getFrames")
    assert done.returncode == 0, done.stderr
    # Its own size and rate stand; its boxes are the scene's bright rectangle.
    assert "synthetic scene 320x240" in done.stdout and "asked 15" in done.stdout
    assert re.search(r"scene IoU: +mean 1\.000", done.stdout), done.stdout


def test_a_remote_method_named_like_the_engines_is_refused_and_leaves_the_module_free():
    class Clash(Stamps):
        @ekvision.remote_method("pause", doc="not the engine's")
        def my_pause(self, on: bool):
            pass

    clash = Clash()
    with pytest.raises(ValueError, match="remote method pause of Clash is taken"):
        ekvision.run(clash, frames=2)
    assert clash._engine is None
    Clash.my_pause._ekvision_remote = ("myPause", "", None, {})
    result = ekvision.run(clash, frames=2)
    assert result.error is None and result.frames >= 2 and clash._engine is None


def test_ctrl_c_ends_a_python_module_run_cleanly_in_the_tool_and_in_process(tmp_path):
    detector = write_module(tmp_path, """
        import ekvision

        class Quiet(ekvision.Module):
            def __init__(self):
                super().__init__("Quiet", frame_rate=30)

            def process_image(self, image):
                print("frame", flush=True)
        """)
    tool = subprocess.Popen([str(TOOL), "run", "--module", detector, "--seconds", "60"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    for line in tool.stdout:
        if line.startswith("frame"):
            break
    tool.send_signal(signal.SIGINT)
    out, err = tool.communicate(timeout=60)
    assert tool.returncode == 0, err
    assert "frames:" in out and "Traceback" not in err

    # In process: the run's own handler ends the run; Python's is back afterwards.
    started = threading.Event()

    class Signalled(Stamps):
        def process_image(self, image):
            super().process_image(image)
            started.set()

    interrupter = threading.Thread(
        target=lambda: started.wait(60) and os.kill(os.getpid(), signal.SIGINT))
    interrupter.start()
    module = Signalled()
    result = ekvision.run(module, seconds=60)
    interrupter.join()
    assert result.error is None and 1 <= result.frames == len(module.stamps)
    assert result.seconds < 30
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler
