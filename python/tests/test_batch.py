"""A module run over many recordings with Dask gives the sequential results, and a recording
that cannot be read or that crashes the module is reported without stopping the others."""

import json
import logging
import subprocess
import sys
from pathlib import Path

import numpy
import pytest

import ekvision
from conftest import CRASH_PLUGIN, MOTION_PLUGIN, record_moving_square
from ekvision.batch import run_module, run_recording


@pytest.fixture(scope="module")
def recordings(tmp_path_factory):
    folder = tmp_path_factory.mktemp("batch")
    paths = [record_moving_square(folder / f"{name}.arv", frames, start)
             for name, frames, start in [("a", 10, 1_000_000), ("b", 12, 5_000_000), ("c", 8, 9_000_000)]]
    broken = folder / "broken.arv"
    broken.write_bytes(Path(paths[0]).read_bytes()[:20])
    with ekvision.Recording.create(folder / "crash.arv", [(320, 240)]) as rec:
        rec.append(numpy.zeros((240, 320, 2), numpy.uint8), camera=66)
    return paths, str(broken), rec.path


@pytest.fixture(scope="module")
def scheduler():
    from distributed import LocalCluster
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                      silence_logs=logging.ERROR) as cluster:
        yield cluster.scheduler_address


def test_a_local_cluster_of_two_processes_gives_the_sequential_results(recordings):
    good, broken, _ = recordings
    batch = good[:2] + [broken] + good[2:]
    results = run_module(str(MOTION_PLUGIN), batch, workers=2)
    assert results == [run_recording(str(MOTION_PLUGIN), path) for path in batch]
    assert [r.recording for r in results] == batch
    for result, frames in zip(results[:2] + results[3:], [10, 12, 8]):
        assert result.error is None and result.frames == frames
        # The square moves every frame: one detection a frame after the first, in order.
        stamps = [d["time_stamp"] for d in result.detections]
        assert len(stamps) == frames - 1 and stamps == sorted(stamps)
    assert results[2].detections == [] and "shorter than its header" in results[2].error


def test_a_module_crash_is_reported_and_the_cluster_given_runs_the_rest(recordings, scheduler):
    good, _, crash = recordings
    results = run_module(str(CRASH_PLUGIN), [crash, good[0]], client=scheduler)
    assert "SIGSEGV" in results[0].error
    assert results[1].error is None and results[1].frames == 10


def test_the_command_line_writes_json_lines_and_exits_1_on_a_failure(recordings, scheduler, tmp_path):
    good, broken, _ = recordings
    out = tmp_path / "detections.jsonl"
    done = subprocess.run([sys.executable, "-m", "ekvision.batch", str(MOTION_PLUGIN), good[0], broken,
                           "--out", str(out), "--scheduler", scheduler],
                          capture_output=True, text=True, timeout=120, check=False)
    assert done.returncode == 1, done.stderr
    lines = [json.loads(line) for line in out.read_text().splitlines()]
    assert [line["error"] for line in lines if "error" in line] == [run_recording(str(MOTION_PLUGIN), broken).error]
    found = [line for line in lines if "error" not in line]
    assert len(found) == 9 and {line["recording"] for line in found} == {good[0]}
    assert "2 recordings, 9 detections, 10 frames, 1 failed" in done.stderr
