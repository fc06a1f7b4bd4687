"""A vision module run over many recordings with Dask, each recording in a process of its own.

>>> from ekvision.batch import run_module
>>> results = run_module("libekmotiondetector.so", ["a.arv", "b.arv"])
>>> results[0].detections[0]["time_stamp"]

The module is a plugin, or a Python file defining an ``ekvision.Module`` subclass
(``run_module("detector.py", recordings)``), which the host runs as it runs a plugin.

Each recording is played by the module host, ``ekvision run --module PLUGIN --camera REC
--every-frame --detections FILE``: every frame once, in order, unpaced, each detection a
JSON line and the run's summary (frames, and the cause of a failure) the last one, which
is all this module reads of the run. The host runs as a child process of
the Dask worker, so that a module that crashes takes down its run and nothing else: that
recording is reported with its error and the others go on.

Command line::

    python3 -m ekvision.batch PLUGIN.so REC.arv... --out detections.jsonl [--scheduler ADDRESS]
        [--workers N] [--timeout SECONDS]

Its arguments are checked before any work starts: a missing plugin, ``--workers`` or
``--timeout`` below the least they take, or an ``--out`` that cannot be written end it at
once with one line and exit status 2. Paths are str, bytes or os.PathLike everywhere, as
the os module takes them; results name recordings as str (os.fsdecode()).
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
from typing import List, NamedTuple, Optional

__all__ = ["RecordingResult", "run_module", "run_recording", "main"]

class RecordingResult(NamedTuple):
    """What a module found in one recording.

    ``detections`` holds one dict a detection (``time_stamp`` in microseconds, box ``x``,
    ``y``, ``w``, ``h`` in pixels, ``left_angle``, ``top_angle``, ``right_angle``,
    ``bottom_angle`` in radians, ``pixels``); ``frames`` the frames the module processed;
    ``error`` None, or the reason the recording could not be processed whole (its
    detections are then those found before the failure, or none).
    """
    recording: str
    detections: list
    frames: int
    error: Optional[str]


def _tool():
    configured = os.environ.get("EKVISION_TOOL")
    if configured:
        return configured
    try:
        from . import _paths
        return _paths.TOOL
    except ImportError:
        return "ekvision"


# The fields of a line of ``ekvision run --detections`` and the names they get here.
_DETECTION_FIELDS = (("timeStamp", "time_stamp"), ("x", "x"), ("y", "y"), ("w", "w"),
                     ("h", "h"), ("leftAngle", "left_angle"), ("topAngle", "top_angle"),
                     ("rightAngle", "right_angle"), ("bottomAngle", "bottom_angle"),
                     ("pixelCount", "pixels"))


def _detection(fields):
    """A detection line of the host, decoded, under the names used here."""
    return {ours: fields[theirs] for theirs, ours in _DETECTION_FIELDS}


def _read_log(path):
    """The detections the host wrote to ``path``, one JSON object a line, and the summary
    that ends a run which was not cut short (None otherwise): its frames and its error's
    message (None for a run that succeeded). ValueError for a log that is not the host's."""
    detections = []
    summary = None
    # The host writes names as the file system has them: not always UTF-8.
    with open(path, encoding="utf-8", errors="surrogateescape") as lines:
        for number, line in enumerate(lines, start=1):
            if not line.strip():
                continue
            try:
                fields = json.loads(line)
                if "summary" in fields:
                    error = fields["summary"]["error"]
                    summary = (int(fields["summary"]["frames"]),
                               str(error["message"]) if error else None)
                else:
                    detections.append(_detection(fields))
            except (ValueError, LookupError, TypeError) as error:
                raise ValueError(f"line {number} of the module host's log is not one it "
                                 f"writes ({type(error).__name__}: {error})") from None
    return detections, summary


def _failure(returncode, stderr):
    if returncode < 0:
        try:
            name = signal.Signals(-returncode).name
        except ValueError:
            name = f"signal {-returncode}"
        return f"the module host died of {name}"
    lines = [line for line in stderr.splitlines() if line.strip()]
    if not lines:
        return f"the module host exited with status {returncode}"
    return lines[-1].removeprefix("ekvision run: ")


def run_recording(plugin, recording, timeout=None, tool=None):
    """Runs ``plugin`` over every frame of ``recording`` in a child process and returns a
    :class:`RecordingResult`. Never raises for a failure of the run, its plumbing included
    (no room for the scratch directory, a host that cannot start, a log it did not write
    whole): the reason is in ``error``."""
    plugin = os.fsdecode(plugin)
    recording = os.fsdecode(recording)
    try:
        scratch = tempfile.mkdtemp(prefix="ekvision-batch-")
    except OSError as error:
        return RecordingResult(recording, [], 0,
                               f"cannot make a scratch directory for the run's log: {error}")
    try:
        log = os.path.join(scratch, "detections.jsonl")
        command = [os.fsdecode(tool or _tool()), "run", "--module", plugin, "--camera",
                   recording, "--every-frame", "--detections", log]
        try:
            done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                                  text=True, errors="surrogateescape", timeout=timeout,
                                  check=False)
        except subprocess.TimeoutExpired:
            return RecordingResult(recording, [], 0, f"no result within {timeout} s")
        except OSError as error:
            return RecordingResult(recording, [], 0,
                                   f"cannot start the module host {command[0]}: {error}")
        # A host that died still leaves the lines it had written: the detections found
        # before the failure, without a summary.
        try:
            detections, summary = _read_log(log) if os.path.exists(log) else ([], None)
        except (OSError, ValueError) as error:
            return RecordingResult(recording, [], 0, f"cannot read the module host's log: {error}")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    frames, summary_error = summary if summary else (0, None)
    if done.returncode != 0:
        error = summary_error or _failure(done.returncode, done.stderr)
    elif summary is None:
        error = "the module host succeeded but wrote no summary: its log is incomplete"
    else:
        error = None
    return RecordingResult(recording, detections, frames, error)


def _gather(client, plugin, recordings, timeout, progress):
    from distributed import as_completed

    futures = client.map(run_recording, [plugin] * len(recordings), recordings,
                         timeout=timeout, pure=False)
    position = {future.key: i for i, future in enumerate(futures)}
    results: List[Optional[RecordingResult]] = [None] * len(recordings)
    for count, future in enumerate(as_completed(futures), start=1):
        i = position[future.key]
        try:
            results[i] = future.result()
        except Exception as error:  # the worker itself failed (lost, killed): report it
            results[i] = RecordingResult(recordings[i], [], 0, f"the Dask task failed: {error!r}")
        if progress is not None:
            progress(count, len(recordings))
    return results


def _main_is_importable():
    """Whether Dask's worker processes can start: they start as multiprocessing's spawn
    starts a child, running the caller's main script again from its file. A ``__main__``
    read from standard input (``python3 -``) or from a file since removed has none to run,
    and the workers die as they start while the cluster waits for them forever."""
    main = sys.modules.get("__main__")
    if getattr(main, "__spec__", None) is not None:  # python3 -m: imported by name
        return True
    path = getattr(main, "__file__", None)
    return path is None or os.path.isfile(path)


def _check_arguments(workers, timeout):
    """ValueError for a count of workers or a timeout that no run could use."""
    if workers is not None and workers < 1:
        raise ValueError(f"workers must be at least 1, not {workers}")
    if timeout is not None and not timeout > 0:
        raise ValueError(f"timeout must be more than 0 seconds, not {timeout}")


def run_module(plugin, recordings, client=None, timeout=None, progress=None, workers=None):
    """Runs a vision module plugin over each recording, each in its own worker process, and
    returns one :class:`RecordingResult` per recording, in the order given.

    ``client`` is a ``distributed.Client`` or a scheduler address ("tcp://host:8786"):
    that cluster is used as it is. With None, a local cluster of processes is started for
    the call, ``workers`` of them (default: one per core), one thread each; when the
    caller's ``__main__`` cannot be started again in a worker process (a script read from
    standard input), the local workers are threads of this process instead, which loses
    nothing: each run is a child process of its own either way. ``timeout`` bounds each
    recording's run in seconds; ``progress(done, total)`` is called as recordings finish.
    ValueError at once for ``workers`` below 1 or ``timeout`` not above 0. Paths are made
    absolute, for workers that run elsewhere on a shared file system.
    """
    from distributed import Client, LocalCluster
    import logging

    _check_arguments(workers, timeout)
    plugin = os.fsdecode(os.path.abspath(plugin))
    recordings = [os.fsdecode(os.path.abspath(r)) for r in recordings]
    if not recordings:
        return []
    if client is None:
        count = workers or os.cpu_count() or 1
        with LocalCluster(n_workers=count, threads_per_worker=1,
                          processes=_main_is_importable(),
                          dashboard_address=None, silence_logs=logging.ERROR) as cluster, \
                Client(cluster) as own:
            return _gather(own, plugin, recordings, timeout, progress)
    if isinstance(client, str):
        with Client(client) as own:
            return _gather(own, plugin, recordings, timeout, progress)
    return _gather(client, plugin, recordings, timeout, progress)


class _ProgressBar:
    def __init__(self, stream):
        self.stream = stream

    def __call__(self, done, total):
        width = 30
        filled = width * done // total
        self.stream.write(f"\r[{'#' * filled}{'.' * (width - filled)}] {done}/{total} recordings")
        if done == total:
            self.stream.write("\n")
        self.stream.flush()


def _write_lines(path, results):
    directory = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(dir=directory, prefix=".detections-")
    try:
        with os.fdopen(handle, "w") as out:
            for result in results:
                if result.error is not None:
                    out.write(json.dumps({"recording": result.recording, "error": result.error}) + "\n")
                for detection in result.detections:
                    out.write(json.dumps({"recording": result.recording, **detection}) + "\n")
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def _why_unwritable(path):
    """Why :func:`_write_lines` could not write ``path``, or None: it makes a file beside
    it and moves it over it. Tried without changing what is there."""
    if os.path.isdir(path):
        return "it is a directory"
    directory = os.path.dirname(os.path.abspath(path))
    try:
        handle, probe = tempfile.mkstemp(dir=directory, prefix=".detections-")
        os.close(handle)
        os.unlink(probe)
    except OSError as error:
        return f"cannot create a file in {directory}: {error.strerror}"
    if os.path.lexists(path):
        try:
            with open(path, "ab"):  # appends nothing: the file is left as it is
                pass
        except OSError as error:
            return error.strerror
    return None


def _positive(kind):
    def parse(text):
        value = kind(text)
        if not value > 0:
            raise argparse.ArgumentTypeError(f"must be more than 0, not {text}")
        return value
    parse.__name__ = kind.__name__  # argparse names the type in its messages
    return parse


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m ekvision.batch",
        description="Runs a vision module plugin over every frame of each recording, in "
                    "parallel with Dask, and writes one JSON line per detection (and one per "
                    "recording that failed, with its error).")
    parser.add_argument("plugin", help="the module plugin (.so) or Python module file (.py), as "
                        "`ekvision run --module` takes")
    parser.add_argument("recordings", nargs="+", help=".arv recordings")
    parser.add_argument("--out", required=True, help="JSON lines file to write")
    parser.add_argument("--scheduler", help="address of a Dask scheduler to use as it is "
                                            "(default: a local cluster, one process per core)")
    parser.add_argument("--workers", type=_positive(int), help="processes of the local cluster")
    parser.add_argument("--timeout", type=_positive(float),
                        help="seconds allowed for each recording")
    args = parser.parse_args(argv)
    if not os.path.isfile(args.plugin):
        parser.exit(2, f"{parser.prog}: no such plugin: {args.plugin}\n")

    def cannot_write(reason, status):
        parser.exit(status, f"{parser.prog}: cannot write {args.out}: {reason}\n")

    unwritable = _why_unwritable(args.out)
    if unwritable:
        cannot_write(unwritable, 2)
    progress = _ProgressBar(sys.stderr) if sys.stderr.isatty() else None
    results = run_module(args.plugin, args.recordings, client=args.scheduler,
                         timeout=args.timeout, progress=progress, workers=args.workers)
    try:
        _write_lines(args.out, results)
    except OSError as error:  # the disk filled, or the folder changed, during the runs
        cannot_write(error.strerror, 1)
    failed = [r for r in results if r.error is not None]
    for result in failed:
        print(f"{parser.prog}: {result.recording}: {result.error}", file=sys.stderr)
    print(f"{len(results)} recordings, {sum(len(r.detections) for r in results)} detections, "
          f"{sum(r.frames for r in results)} frames, {len(failed)} failed; written to {args.out}",
          file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    # Run as `python3 -m ekvision.batch`: the tasks must name the functions of the module
    # ekvision.batch, which workers import, not those of __main__.
    from ekvision.batch import main as _main

    sys.exit(_main())
