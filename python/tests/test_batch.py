"""A module run over many recordings with Dask gives the sequential results, and a recording
that cannot be read or that crashes the module is reported without stopping the others."""

import json
import logging
import os
import subprocess
import tempfile
import sys
from pathlib import Path

import numpy
import pytest

import ekvision
from conftest import CRASH_PLUGIN, MOTION_PLUGIN, record_moving_square
from ekvision.batch import _why_unwritable, main, run_module, run_recording


@pytest.fixture(scope="module")
def recordings(tmp_path_factory):
    folder = tmp_path_factory.mktemp("batch")
    paths = [record_moving_square(folder / f"{name}.arv", frames, start)
             for name, frames, start in [("a", 10, 1_000_000), ("b", 12, 5_000_000), ("c", 8, 9_000_000)]]
    broken = folder / "broken.arv"
    broken.write_bytes(Path(paths[0]).read_bytes()[:20])
    with ekvision.Recording.create(folder / "crash.arv", [(320, 240)]) as rec:
        rec.append(numpy.zeros((240, 320, 2), numpy.uint8), camera=66)
    # A name that is not UTF-8, as os.listdir(bytes) gives it, for the recording "a".
    odd = os.fsencode(folder) + b"/\xe9.arv"
    os.link(paths[0], odd)
    return paths, str(broken), rec.path, odd


@pytest.fixture(scope="module")
def scheduler():
    from distributed import LocalCluster
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                      silence_logs=logging.ERROR) as cluster:
        yield cluster.scheduler_address


def test_a_local_cluster_of_two_processes_gives_the_sequential_results(recordings):
    good, broken, _, odd = recordings
    batch = [odd] + good[1:2] + [broken] + good[2:]
    results = run_module(str(MOTION_PLUGIN), batch, workers=2)
    assert results == [run_recording(str(MOTION_PLUGIN), path) for path in batch]
    assert [r.recording for r in results] == [os.fsdecode(path) for path in batch]
    for result, frames in zip(results[:2] + results[3:], [10, 12, 8]):
        assert result.error is None and result.frames == frames
        # The square moves every frame: one detection a frame after the first, in order.
        stamps = [d["time_stamp"] for d in result.detections]
        assert len(stamps) == frames - 1 and stamps == sorted(stamps)
    assert results[2].detections == [] and "shorter than its header" in results[2].error


def test_a_module_crash_is_reported_and_the_cluster_given_runs_the_rest(recordings, scheduler):
    good, _, crash, _ = recordings
    results = run_module(str(CRASH_PLUGIN), [crash, good[0]], client=scheduler)
    assert "SIGSEGV" in results[0].error
    assert results[1].error is None and results[1].frames == 10


def test_the_command_line_writes_json_lines_and_exits_1_on_a_failure(recordings, scheduler, tmp_path):
    _, broken, _, odd = recordings
    out = tmp_path / "detections.jsonl"
    done = subprocess.run([sys.executable, "-m", "ekvision.batch", str(MOTION_PLUGIN), odd, broken,
                           "--out", str(out), "--scheduler", scheduler],
                          capture_output=True, text=True, timeout=120, check=False)
    assert done.returncode == 1, done.stderr
    lines = [json.loads(line) for line in out.read_text().splitlines()]
    assert [line["error"] for line in lines if "error" in line] == [run_recording(str(MOTION_PLUGIN), broken).error]
    found = [line for line in lines if "error" not in line]
    assert len(found) == 9 and {line["recording"] for line in found} == {os.fsdecode(odd)}
    assert "2 recordings, 9 detections, 10 frames, 1 failed" in done.stderr


def test_a_script_read_on_standard_input_runs_its_batch(recordings):
    # Worker processes cannot start such a __main__ again: the cluster waited for them forever.
    script = f"from ekvision.batch import run_module\nprint(run_module({str(MOTION_PLUGIN)!r}, {recordings[0]!r}, workers=2))"
    done = subprocess.run([sys.executable, "-"], input=script, capture_output=True, text=True,
                          timeout=60, check=False)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == repr(run_module(str(MOTION_PLUGIN), recordings[0], workers=2))


# (lines the host writes to its log, its exit status, words of the result's error)
HOST_LOGS = [
    ('{"summary": {"frames": 3, "error": {"message": "camera gone"}}}\n', 3, "camera gone"),
    ("not json\n", 0, "cannot read the module host's log: line 1"),
    ('{"timeStamp": 1}\n{"summary": {"frames": 3, "error": null}}\n', 0, "cannot read the module host's log: line 1"),
    ('{"summary": {"error": null}}\n', 0, "cannot read the module host's log: line 1"),
    ("", 0, "wrote no summary"),
]


@pytest.mark.parametrize("log,status,words", HOST_LOGS)
def test_a_run_whose_plumbing_fails_is_a_result_with_its_error(tmp_path, log, status, words):
    (tmp_path / "log").write_text(log)
    host = tmp_path / "host"  # the log is the last argument
    host.write_text(f'#!/bin/sh\neval log=\\${{$#}}\ncat {tmp_path / "log"} > "$log"\nexit {status}\n')
    host.chmod(0o755)
    result = run_recording("plugin.so", b"rec\xe9.arv", tool=str(host))
    assert words in result.error and result.recording == "rec\udce9.arv"


def test_no_room_for_the_scratch_directory_is_a_result_with_its_error(tmp_path, monkeypatch):
    monkeypatch.setattr(tempfile, "tempdir", str(tmp_path / "gone"))
    result = run_recording(str(MOTION_PLUGIN), "rec.arv")
    assert result.error.startswith("cannot make a scratch directory for the run's log")


def test_argument_errors_end_the_command_before_any_work(tmp_path, capsys):
    kept = tmp_path / "kept.jsonl"
    kept.write_text("kept\n")
    # A scheduler that does not exist: work that started would fail with a traceback.
    command = [str(MOTION_PLUGIN), "rec.arv", "--scheduler", "tcp://127.0.0.1:9"]
    for arguments, words in [
            (["--out", str(kept), "--workers", "0"], "argument --workers: must be more than 0, not 0"),
            (["--out", str(kept), "--workers", "-1"], "argument --workers: must be more than 0, not -1"),
            (["--out", str(kept), "--timeout", "0"], "argument --timeout: must be more than 0, not 0"),
            (["--out", str(tmp_path / "no" / "d.jsonl")],
             f"python3 -m ekvision.batch: cannot write {tmp_path / 'no' / 'd.jsonl'}: cannot create a file "
             f"in {tmp_path / 'no'}: No such file or directory"),
            (["--out", str(tmp_path)], f"python3 -m ekvision.batch: cannot write {tmp_path}: it is a directory")]:
        with pytest.raises(SystemExit) as exited:
            main(command + arguments)
        assert exited.value.code == 2 and capsys.readouterr().err.splitlines()[-1].endswith(words)
    assert _why_unwritable(kept) is None and kept.read_text() == "kept\n"
    for arguments in [dict(workers=0), dict(workers=-1), dict(timeout=0)]:
        with pytest.raises(ValueError, match="must be"):
            run_module(str(MOTION_PLUGIN), ["rec.arv"], client="tcp://127.0.0.1:9", **arguments)
