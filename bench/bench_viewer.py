#!/usr/bin/python3
"""Benchmarks of the web viewer, each figure from one run, in headless Chromium:

1. stamp to painted: `ekvision run --view` on a live GStreamer camera (videotestsrc,
   640x480, 15 frames/s, stamped by the capture thread with the wall clock); the page notes
   for every frame it paints its stamp and performance.timeOrigin + performance.now() after
   the next animation frame, on the same clock. The paced module fetches the camera's newest
   frame once a period, half a period after its capture on average; `ekvision view CAMERA`
   (no module) shows what the viewer itself adds;
2. the tool's CPU over the same seconds with the page open and with no page, as a share of
   one core (from /proc/PID/stat);
3. the module's pacing p99 (the run's own summary) with no page and with 20 clients that ask
   for frames as the page does (Python threads of this process, scheduled as idle tasks:
   they stand for pages on other machines);
4. seek in a 10-minute recording (640x480, 15 frames/s, 9000 frames, about 5.5 GB): from the
   page's request to the frame painted, for random times.

Usage: PYTHONPATH=BUILD/python /usr/bin/python3 bench/bench_viewer.py BUILD [--seconds S]
(BUILD configured with -DEKVISION_BUILD_PYTHON=ON). The recording goes to BUILD/bench-viewer
and is removed at the end.
"""

import argparse
import http.client
import os
import platform
import random
import re
import shutil
import statistics
import sys
import threading
import time
from pathlib import Path

import numpy

import ekvision

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools" / "viewer" / "tests"))
import chromium  # noqa: E402
from chromium import Tool, wait_until  # noqa: E402

LIVE_CAMERA = ("gst:videotestsrc is-live=true pattern=ball ! "
               "video/x-raw,width=640,height=480,framerate=15/1")


def cpu_name():
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return platform.processor()


def cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def cpu_share(tool, seconds):
    """The share of one core the tool's process used over @p seconds."""
    start, began = cpu_seconds(tool.process.pid), time.monotonic()
    time.sleep(seconds)
    return (cpu_seconds(tool.process.pid) - start) / (time.monotonic() - began)


def live_latency_and_cpu(tool_path, browser, seconds, command):
    """Stamp-to-painted latencies (ms) and the tool's CPU share without and with the page, for
    @p command: "run" (the module's frames) or "view" (the camera's, without a module)."""
    viewer = ("--view",) if command == "run" else ("--listen",)
    tool = Tool(tool_path, command, *(("--camera",) if command == "run" else ()), LIVE_CAMERA,
                *viewer, "127.0.0.1:0")
    try:
        url = tool.wait_for_line(r"^viewer: (http://\S+)")[1]
        time.sleep(2)
        alone = cpu_share(tool, seconds)
        browser.get(url)
        wait_until(lambda: len(browser.execute_script("return window.ekPainted")) > 15)
        browser.execute_script("window.ekPainted = []")
        watched = cpu_share(tool, seconds)
        painted = browser.execute_script("return window.ekPainted")
    finally:
        tool.stop()
    latencies = [frame["painted"] - frame["timeStamp"] / 1000.0 for frame in painted]
    # Where the time goes: capture to the viewer, the viewer to the page, the page's paint.
    steps = {
        "stamp to fetched": [f["fetchedAt"] / 1000.0 - f["timeStamp"] / 1000.0 for f in painted],
        "fetched to received": [f["received"] - f["fetchedAt"] / 1000.0 for f in painted],
        "received to painted": [f["painted"] - f["received"] for f in painted],
    }
    print(f"  {command}: " + ", ".join(f"{name} p50 {statistics.median(values):.1f} ms"
                                       for name, values in steps.items()))
    return latencies, alone, watched


def pacing_p99(tool_path, seconds, clients):
    """The run's pacing p99 (ms) with @p clients asking for frames as pages do."""
    tool = Tool(tool_path, "run", "--view", "127.0.0.1:0", "--seconds", str(seconds))
    url = tool.wait_for_line(r"^viewer: (http://\S+)")[1]
    stop = threading.Event()

    host, port = re.match(r"http://([^:/]+):(\d+)/", url).groups()

    def page():
        # The clients stand for pages on other machines: on this one they only take the CPU
        # the tool leaves, so that their own Python work does not pass for the server's.
        os.sched_setscheduler(0, os.SCHED_IDLE, os.sched_param(0))
        # One connection kept open, as a browser does.
        connection = http.client.HTTPConnection(host, int(port), timeout=5)
        after = 0
        while not stop.is_set():
            try:
                connection.request("GET", f"/api/live/frame?after={after}")
                body = connection.getresponse().read()
                if body:
                    length = int.from_bytes(body[:4], "little")
                    after = int(re.search(rb'"index":(\d+)', body[4:4 + length])[1])
            except (OSError, http.client.HTTPException):
                connection.close()
                time.sleep(0.1)

    threads = [threading.Thread(target=page) for _ in range(clients)]
    for thread in threads:
        thread.start()
    tool.finish(timeout=seconds + 60)
    stop.set()
    for thread in threads:
        thread.join()
    return float(re.search(r"pacing: .* p99 ([\d.]+) ms", "".join(tool.lines))[1])


def seek_latency(tool_path, browser, folder, seeks):
    clip = folder / "ten-minutes.arv"
    frames = 9000
    with ekvision.Recording.create(str(clip), [(640, 480)]) as recording:
        picture = numpy.full((480, 640, 2), 128, numpy.uint8)
        for index in range(frames):
            picture[:, :, 0] = index % 200 + 20
            recording.append(picture, time_stamp=10**12 + index * 66_667)
    tool = Tool(tool_path, "view", str(clip), "--listen", "127.0.0.1:0")
    times = []
    try:
        url = tool.wait_for_line(r"^viewer: (http://\S+) shows")[1]
        browser.get(url)
        wait_until(lambda: browser.execute_script("return window.ekShown"))
        generator = random.Random(7)
        for _ in range(seeks):
            index = generator.randrange(frames)
            stamp = 10**12 + index * 66_667 + generator.randrange(66_667)
            browser.execute_script("window.ekPainted = []; window.ekSeek(arguments[0])", stamp)
            frame = wait_until(lambda: browser.execute_script(
                "const p = window.ekPainted; return p.length ? p[p.length - 1] : null"))
            assert frame["index"] == index, (frame, index)
            times.append(frame["painted"] - frame["requested"])
    finally:
        tool.stop()
        clip.unlink()
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build")
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--seeks", type=int, default=40)
    args = parser.parse_args()
    tool_path = str(Path(args.build) / "tools" / "ekvision")
    folder = Path(args.build) / "bench-viewer"
    folder.mkdir(exist_ok=True)
    print(f"CPU: {cpu_name()}, {os.cpu_count()} logical CPUs; Chromium headless")
    browser = chromium.headless_chromium(folder)
    try:
        latencies, alone, watched = live_latency_and_cpu(tool_path, browser, args.seconds, "run")
        print(f"stamp to painted, run --view, 640x480 at 15 frames/s, {len(latencies)} frames: "
              f"p50 {statistics.median(latencies):.1f} ms, p99 {percentile(latencies, 0.99):.1f} ms"
              f" (goal: p50 <= 60, p99 <= 150)")
        camera, _, _ = live_latency_and_cpu(tool_path, browser, args.seconds / 2, "view")
        print(f"stamp to painted, view CAMERA (no module, no pacing), {len(camera)} frames: "
              f"p50 {statistics.median(camera):.1f} ms, p99 {percentile(camera, 0.99):.1f} ms")
        print(f"tool CPU with the run and its viewer: no page {100 * alone:.1f}% of a core, "
              f"one page {100 * watched:.1f}%; the page costs {100 * (watched - alone):.1f}% "
              f"(goal: viewer <= 15%)")
        seeks = seek_latency(tool_path, browser, folder, args.seeks)
        print(f"seek in a 10-minute 640x480 recording, request to painted, {len(seeks)} seeks: "
              f"p50 {statistics.median(seeks):.1f} ms, max {max(seeks):.1f} ms (goal: <= 100)")
    finally:
        browser.quit()
    quiet = pacing_p99(tool_path, args.seconds, 0)
    busy = pacing_p99(tool_path, args.seconds, 20)
    print(f"module pacing p99 at 15 frames/s: no page {quiet:.2f} ms, 20 pages {busy:.2f} ms, "
          f"difference {busy - quiet:+.2f} ms (goal: within 1 ms)")
    shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
