#!/usr/bin/python3
"""Benchmarks of the Python package, each against its peer in the same run:

1. every frame of a 640x480 YUV422 recording read into numpy (Recording.frames, and frame
   by frame) against numpy.fromfile of the same file;
2. a module run over 8 recordings with ekvision.batch: 2 worker processes against 1 (the 8
   recordings are hard links to one file of --batch-frames frames, so that they all stay in
   the page cache and each run is long beside the host's start-up of about 0.2 s);
3. `ekvision run --every-frame` against the paced loop at its maximum rate (--fps 120),
   frames per second of the example motion detector on the same recording.

Usage: PYTHONPATH=BUILD/python /usr/bin/python3 bench/python_bench.py BUILD [--frames N]
(BUILD configured with -DEKVISION_BUILD_PYTHON=ON). Recordings go to BUILD/bench-python and
are removed at the end. Medians of --repeat runs; files are read from the page cache.
"""

import argparse
import logging
import os
import platform
import re
import shutil
import statistics
import subprocess
import time

import numpy

import ekvision
from ekvision.batch import run_module


def moving_square(index, width=640, height=480, side=60):
    pixels = numpy.empty((height, width, 2), numpy.uint8)
    pixels[..., 0] = 16
    pixels[..., 1] = 128
    x = (8 * index) % (width - side)
    pixels[100:100 + side, x:x + side, 0] = 235
    return pixels


def record(path, frames):
    with ekvision.Recording.create(path, [(640, 480)]) as rec:
        for i in range(frames):
            rec.append(moving_square(i), time_stamp=1_000_000 + i * 33_333)
    return rec.path


def median_seconds(action, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def bench_reading(path, repeat):
    size = os.path.getsize(path)
    with ekvision.Recording(path) as rec:
        frames = len(rec)

        def block():
            return rec.frames()

        def one_by_one():
            for frame in rec:
                frame.pixels

        def fromfile():
            return numpy.fromfile(path, dtype=numpy.uint8)

        fromfile(), block()  # into the page cache
        peer = median_seconds(fromfile, repeat)
        ours_block = median_seconds(block, repeat)
        ours_frames = median_seconds(one_by_one, repeat)
    mb = size / 1e6
    print(f"\n1. reading {frames} frames of 640x480 YUV422 ({mb:.0f} MB), medians of {repeat}")
    print(f"   numpy.fromfile (whole file)      {peer * 1e3:8.1f} ms  {mb / peer:7.0f} MB/s")
    print(f"   Recording.frames() (one array)   {ours_block * 1e3:8.1f} ms  {mb / ours_block:7.0f} MB/s"
          f"  {peer / ours_block:.2f}x fromfile")
    print(f"   for frame in Recording (frames)  {ours_frames * 1e3:8.1f} ms  {mb / ours_frames:7.0f} MB/s"
          f"  {peer / ours_frames:.2f}x fromfile")


def bench_batch(plugin, paths, repeat):
    from distributed import Client, LocalCluster

    results = {}
    for workers in (1, 2):
        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                          dashboard_address=None, silence_logs=logging.ERROR) as cluster, \
                Client(cluster) as client:
            run_module(plugin, paths[:1], client=client)  # workers warmed up
            results[workers] = median_seconds(lambda: run_module(plugin, paths, client=client), repeat)
    frames = sum(r.frames for r in run_module(plugin, paths[:1], workers=1)) * len(paths)
    print(f"\n2. batch: the motion detector over {len(paths)} recordings ({frames} frames), "
          f"clusters started beforehand, medians of {repeat}")
    for workers, seconds in results.items():
        print(f"   {workers} worker process(es)  {seconds:6.2f} s  {frames / seconds:7.0f} frames/s")
    print(f"   2 workers / 1 worker: {results[1] / results[2]:.2f}x")


def tool_fps(tool, path, args):
    done = subprocess.run([tool, "run", "--camera", path, *args], capture_output=True, text=True,
                          check=True)
    match = re.search(r"^frames: +(\d+) processed.*?([\d.]+) frames/s", done.stdout, re.M)
    return int(match[1]), float(match[2])


def bench_every_frame(tool, path, frames, repeat):
    offline = [tool_fps(tool, path, ["--every-frame"]) for _ in range(repeat)]
    paced = [tool_fps(tool, path, ["--fps", "120", "--frames", str(frames)]) for _ in range(repeat)]
    offline_fps = statistics.median(f for _, f in offline)
    paced_fps = statistics.median(f for _, f in paced)
    print(f"\n3. the example motion detector on {frames} frames of 640x480, medians of {repeat}")
    print(f"   --every-frame (unpaced)       {offline_fps:8.1f} frames/s  ({offline[0][0]} frames)")
    print(f"   paced, --fps 120 (its maximum) {paced_fps:7.1f} frames/s  ({paced[0][0]} frames)")
    print(f"   every-frame / paced: {offline_fps / paced_fps:.1f}x")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", help="build directory configured with EKVISION_BUILD_PYTHON=ON")
    parser.add_argument("--frames", type=int, default=600, help="frames of each recording")
    parser.add_argument("--batch-frames", type=int, default=3000,
                        help="frames of the recording the batch runs over")
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    tool = os.path.join(args.build, "tools", "ekvision")
    plugin = os.path.join(args.build, "modules", "motiondetector", "libekmotiondetector.so")
    folder = os.path.join(args.build, "bench-python")
    os.makedirs(folder, exist_ok=True)
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                if line.startswith("model name")), platform.processor())
    print(f"CPU: {cpu}, {os.cpu_count()} cores; numpy {numpy.__version__}")
    try:
        path = record(os.path.join(folder, "reading.arv"), args.frames)
        bench_reading(path, args.repeat)
        bench_every_frame(tool, path, args.frames, max(3, args.repeat // 2))
        os.remove(path)
        batch = record(os.path.join(folder, "batch.arv"), args.batch_frames)
        links = [os.path.join(folder, f"rec{i}.arv") for i in range(8)]
        for link in links:
            os.link(batch, link)
        bench_batch(plugin, links, max(3, args.repeat // 2))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
