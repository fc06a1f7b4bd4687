#!/usr/bin/python3
"""Python vision modules against C++ ones, each pair in the same run:

1. the cost a frame of an empty hook, Python against C++, over every frame of a 640x480
   recording (``ekvision run --every-frame``: no pacing, so a frame costs its reading plus
   the hook), and the difference a frame;
2. the pacing at 30 frames/s, 99th percentile of |period - 33.3 ms|, of a Python module
   doing 5 ms of numpy work a frame against a C++ module sleeping 5 ms;
3. the people detector (modules/peopledetector) in frames a second on a clip of people
   walking (OpenCV's examples, imported into a recording at 320x240 and at 640x480), every
   frame once and unpaced: the detector's own rate, reading included.

Usage: PYTHONPATH=BUILD/python /usr/bin/python3 bench/bench_pymodule.py BUILD [--frames N]
(BUILD configured with -DEKVISION_BUILD_PYTHON=ON and -DEKVISION_BUILD_BENCHMARKS=ON). Files
go to BUILD/bench-pymodule and are removed at the end. Medians of --repeat runs.
"""

import argparse
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys

import ekvision
from python_bench import moving_square

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PEOPLE_VIDEO = "/usr/share/doc/opencv-doc/examples/data/vtest.avi"

EMPTY_MODULE = '''
import ekvision

class Empty(ekvision.Module):
    def __init__(self):
        super().__init__("Empty", frame_rate=30)

    def process_image(self, image):
        image.pixels
'''

NUMPY_MODULE = '''
import time
import numpy
import ekvision

class FiveMilliseconds(ekvision.Module):
    """5 ms of numpy a frame: luma differences with the previous frame, summed."""

    def __init__(self):
        super().__init__("FiveMilliseconds", frame_rate=30)
        self.previous = numpy.zeros((480, 640), numpy.int16)

    def process_image(self, image):
        luma = image.pixels[:, :, 0].astype(numpy.int16)
        end = time.perf_counter() + 0.005
        while time.perf_counter() < end:
            numpy.abs(luma - self.previous).sum()
        self.previous = luma
'''


def cpu_name():
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return platform.processor()


def tool_run(build, *args, env=None):
    done = subprocess.run([os.path.join(build, "tools", "ekvision"), "run", *map(str, args)],
                          capture_output=True, text=True, check=False,
                          env=dict(os.environ, **(env or {})))
    if done.returncode != 0:
        sys.exit(f"ekvision run {' '.join(map(str, args))} failed: {done.stderr.strip()}")
    return done.stdout


def every_frame_seconds_per_frame(build, module, recording, scratch, env=None):
    summary = os.path.join(scratch, "summary.json")
    if os.path.exists(summary):
        os.remove(summary)
    tool_run(build, "--module", module, "--camera", recording, "--every-frame",
             "--summary-json", summary, env=env)
    with open(summary) as file:
        result = json.load(file)
    return result["seconds"] / result["frames"]


def pacing_p99(build, module, seconds, env=None):
    out = tool_run(build, "--module", module, "--fps", 30, "--seconds", seconds, env=env)
    return float(re.search(r"p99 ([0-9.]+) ms", out).group(1))


def hog_rate(build, recording, scratch):
    people = os.path.join(ROOT, "modules", "peopledetector", "people.py")
    return 1 / every_frame_seconds_per_frame(build, people, recording, scratch)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--frames", type=int, default=600)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--pacing-seconds", type=float, default=10)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    plugin = os.path.join(build, "bench", "libekvision_bench_hookplugin.so")
    scratch = os.path.join(build, "bench-pymodule")
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    try:
        empty = os.path.join(scratch, "empty.py")
        numpy_work = os.path.join(scratch, "fivems.py")
        with open(empty, "w") as file:
            file.write(EMPTY_MODULE)
        with open(numpy_work, "w") as file:
            file.write(NUMPY_MODULE)
        recording = os.path.join(scratch, "square.arv")
        with ekvision.Recording.create(recording, [(640, 480)]) as rec:
            for i in range(args.frames):
                rec.append(moving_square(i), time_stamp=1_000_000 + i * 33_333)

        print(f"CPU: {cpu_name()}")
        python_cost = statistics.median(
            every_frame_seconds_per_frame(build, empty, recording, scratch)
            for _ in range(args.repeat))
        cpp_cost = statistics.median(
            every_frame_seconds_per_frame(build, plugin, recording, scratch)
            for _ in range(args.repeat))
        print(f"1. empty hook a frame, 640x480, {args.frames} frames: Python "
              f"{python_cost * 1e6:.1f} us, C++ {cpp_cost * 1e6:.1f} us, difference "
              f"{(python_cost - cpp_cost) * 1e6:+.1f} us, ratio {python_cost / cpp_cost:.2f}")

        python_p99 = pacing_p99(build, numpy_work, args.pacing_seconds)
        cpp_p99 = pacing_p99(build, plugin, args.pacing_seconds,
                             env={"EKVISION_BENCH_HOOK_SLEEP_US": "5000"})
        print(f"2. pacing p99 at 30 frames/s over {args.pacing_seconds:g} s: Python 5 ms numpy "
              f"{python_p99:.2f} ms, C++ 5 ms sleep {cpp_p99:.2f} ms, difference "
              f"{python_p99 - cpp_p99:+.2f} ms")

        clip = os.path.join(scratch, "people.mp4")
        subprocess.run(["ffmpeg", "-v", "error", "-i", PEOPLE_VIDEO, "-t", "20", "-pix_fmt",
                        "yuv420p", clip], check=True)
        for resolution, size in ((1, "320x240"), (2, "640x480")):
            recording = os.path.join(scratch, f"people{resolution}.arv")
            subprocess.run([os.path.join(build, "tools", "ekvision"), "import", clip, recording,
                            "--resolution", str(resolution)], check=True,
                           stdout=subprocess.DEVNULL)
            print(f"3. people detector at {size}, every frame of 20 s of people walking: "
                  f"{hog_rate(build, recording, scratch):.1f} frames/s")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
