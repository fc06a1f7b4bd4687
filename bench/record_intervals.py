#!/usr/bin/python3
"""Frame count and interval figures of a .arv recording's stream 0.

usage: PYTHONPATH=BUILD/python record_intervals.py FILE.arv [PERIOD_MS]

Prints the frames, the mean interval between stamps, and the 50th, 99th percentile and
largest |interval - PERIOD_MS| (default 33.333 ms, 30 frames a second).
"""
import sys

import ekvision


def stamps(path):
    # The library reads the record headers: their layout is its own, not this script's.
    with ekvision.Recording(path) as recording:
        return [int(stamp) for stamp in recording.metadata["time_stamp"]]


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[int(fraction * (len(ordered) - 1))]


def main():
    path = sys.argv[1]
    period = float(sys.argv[2]) if len(sys.argv) > 2 else 1000.0 / 30
    times = stamps(path)
    intervals = [(b - a) / 1000.0 for a, b in zip(times, times[1:])]
    if not intervals:
        sys.exit("record_intervals.py: fewer than two frames")
    deviations = [abs(i - period) for i in intervals]
    print(f"frames: {len(times)}, mean interval {sum(intervals) / len(intervals):.3f} ms "
          f"(asked {period:.3f}), |interval - asked| p50 {percentile(deviations, 0.5):.3f} ms, "
          f"p99 {percentile(deviations, 0.99):.3f} ms, max {max(deviations):.3f} ms, "
          f"non-increasing stamps {sum(1 for i in intervals if i <= 0)}")


if __name__ == "__main__":
    main()
