"""Vision modules written in Python: the base class, the remote-method decorator, and runs
of a module by the C++ engine in this process (``ekvision.run``).

The engine is the one that runs C++ modules: it paces the loop, pauses and resumes it,
starts and stops detection and talks to the camera; the module's three hooks are the
methods of a :class:`Module` subclass, called with the GIL held for their own time only.
"""

import importlib.util
import inspect
import json
import os
import sys
import traceback
import typing
from typing import NamedTuple, Optional

from . import _ekvision, batch
from ._pictures import YUV422

__all__ = ["Image", "Module", "RunResult", "remote_method", "run"]

# The frame that process_image is given; only in a build with the module host.
Image = getattr(_ekvision, "Image", None)

# Type codes of the framework's method table (EK::getTypeString): void, bool, int, float,
# string, and any value.
_VOID, _BOOL, _INT, _FLOAT, _STRING, _ANY = 1, 2, 3, 4, 5, 6
_TYPE_CODES = {bool: _BOOL, int: _INT, float: _FLOAT, str: _STRING}
_DEFAULT_RUN_SECONDS = 5.0


class Module:
    """Base of vision modules written in Python, hosted by the C++ engine like a module
    derived from ``EKVisionExtractor``.

    Override the hooks; each runs with the GIL held:

    - :meth:`on_start_detection` on the thread that starts detection, before the loop;
    - :meth:`process_image` on the engine's loop thread, once per frame;
    - :meth:`on_stop_detection` on the thread that stops detection, after the loop.

    An exception raised by a hook is logged with its traceback and ends the loop, as one
    thrown by a C++ hook does. Boxes found go to :meth:`report`; methods marked with
    :func:`remote_method` join the module's method table.
    """

    def __init__(self, name: str, resolution: int = 2, color_space: int = YUV422,
                 frame_rate: int = 15):
        """``name`` is the module's default name, ``resolution`` the resolution code asked
        of the camera (2: 640x480), ``color_space`` its color-space code (the camera gives
        YUV422), ``frame_rate`` the frames a second asked of it, which pace the loop."""
        if not isinstance(name, str) or not name:
            raise ValueError("a module needs a non-empty name")
        for label, value in (("resolution", resolution), ("color_space", color_space),
                             ("frame_rate", frame_rate)):
            if isinstance(value, bool) or not isinstance(value, int):
                raise TypeError(f"{label} must be an int, not {type(value).__name__}")
        self.name = name
        self._ekvision_settings = (resolution, color_space, frame_rate)
        self._engine = None

    def on_start_detection(self):
        """Called when detection starts, before the loop runs."""

    def process_image(self, image):
        """Called on the loop thread with each frame, an :class:`ekvision.Image`: its
        ``pixels`` are a read-only numpy view of the engine's buffer, valid during this
        call only; ``time_stamp``, ``camera``, ``angles``, ``color_space``, ``width`` and
        ``height`` stay readable."""

    def on_stop_detection(self):
        """Called when detection stops, after the loop has ended."""

    def report(self, left: int, top: int, width: int, height: int, pixels: int = 0):
        """Reports a box found in the frame that :meth:`process_image` is looking at, in
        its pixel coordinates; the engine adds the frame's time stamp and the box's angles.
        Hosts read the boxes through the remote method ``getDetections``."""
        if self._engine is None:
            raise RuntimeError("report() needs a running host: ekvision run --module, or "
                               "ekvision.run()")
        self._engine.report(int(left), int(top), int(width), int(height), int(pixels))


def remote_method(name: str, doc: str = "", returns: Optional[tuple] = None,
                  params: Optional[dict] = None):
    """Marks a method of a :class:`Module` as the remote method ``name``.

    Parameter and return types come from the annotations (bool, int, float, str; anything
    else, or none, is a value of any kind); ``returns`` is ``(name, description)`` of the
    result, None for a method that returns nothing; ``params`` maps parameter names to
    descriptions. It runs on the caller's thread, concurrently with the hooks, whenever the
    GIL lets it: guard what it shares with them."""
    if not isinstance(name, str) or not name:
        raise ValueError("a remote method needs a non-empty name")
    if returns is not None and (not isinstance(returns, tuple) or len(returns) != 2):
        raise ValueError("returns must be (name, description)")

    def mark(function):
        function._ekvision_remote = (name, doc, returns, dict(params or {}))
        return function
    return mark


def _type_code(annotation):
    return _TYPE_CODES.get(annotation, _ANY)


def _coerce(code):
    converter = {_BOOL: bool, _INT: int, _FLOAT: float, _STRING: str}.get(code)
    return converter or (lambda value: value)


def _settings(instance):
    """(resolution, color space, frame rate) of a module; TypeError for what is none."""
    if not isinstance(instance, Module) or not hasattr(instance, "_ekvision_settings"):
        raise TypeError(f"{type(instance).__name__} is not an ekvision.Module, or its "
                        "__init__ did not call Module.__init__")
    return instance._ekvision_settings


def _remote_methods(instance):
    """The remote methods of a module as the engine registers them: (name, description,
    [(parameter, description, type code)], (result, description, type code) or None,
    callable)."""
    described = []
    for attribute in dir(type(instance)):
        function = getattr(type(instance), attribute, None)
        marker = getattr(function, "_ekvision_remote", None)
        if marker is None:
            continue
        name, doc, returns, params = marker
        hints = typing.get_type_hints(function)
        signature = inspect.signature(function)
        parameters = [p for p in signature.parameters.values()][1:]
        for parameter in parameters:
            if parameter.kind not in (parameter.POSITIONAL_ONLY,
                                      parameter.POSITIONAL_OR_KEYWORD):
                raise TypeError(f"remote method {name}: parameter {parameter.name} must be "
                                "positional")
        codes = [_type_code(hints.get(p.name)) for p in parameters]
        result = None
        if returns is not None:
            result = (returns[0], returns[1], _type_code(hints.get("return")))
        bound = getattr(instance, attribute)
        converters = [_coerce(code) for code in codes]
        result_converter = _coerce(result[2]) if result else None

        def invoke(*arguments, _bound=bound, _converters=converters,
                   _result=result_converter, _name=name):
            if len(arguments) != len(_converters):
                raise TypeError(f"{_name} takes {len(_converters)} arguments, "
                                f"{len(arguments)} given")
            value = _bound(*[convert(a) for convert, a in zip(_converters, arguments)])
            return _result(value) if _result else None
        described.append((name, doc,
                          [(p.name, params.get(p.name, ""), code)
                           for p, code in zip(parameters, codes)],
                          result, invoke))
    return described


def _failure_line(kind, value, trace):
    """A Python failure on one line, with its traceback from the innermost frame out:
    ``ValueError: bad (at detector.py:12 in process_image <- ...)``."""
    text = f"{kind.__name__}: {value}" if str(value) else kind.__name__
    frames = traceback.extract_tb(trace) if trace is not None else []
    if frames:
        where = " <- ".join(f"{os.path.basename(f.filename)}:{f.lineno} in {f.name}"
                            for f in reversed(frames))
        text += f" (at {where})"
    return text


class _LoadError(Exception):
    """A module file that cannot be loaded; its message is the line to show."""


def _load_class(path, class_name=None):
    """The :class:`Module` subclass of the Python file ``path``: the one named
    ``class_name``, or the only one the file defines."""
    path = os.fsdecode(path)
    context = f"cannot load the Python module {path}"
    if not os.path.isfile(path):
        raise _LoadError(f"{context}: no such file")
    stem = os.path.splitext(os.path.basename(path))[0]
    module_name = f"ekvision_module_{stem}"
    try:
        spec = importlib.util.spec_from_file_location(module_name, path)
        loaded = importlib.util.module_from_spec(spec)
        sys.modules[module_name] = loaded
        spec.loader.exec_module(loaded)
    except BaseException as failure:  # noqa: B902 - any failure of the file is its fault
        sys.modules.pop(module_name, None)
        raise _LoadError(f"{context}: {_failure_line(type(failure), failure, None)}") \
            from failure
    classes = [value for value in vars(loaded).values()
               if isinstance(value, type) and issubclass(value, Module) and value is not Module
               and value.__module__ == module_name]
    if class_name is not None:
        chosen = [c for c in classes if c.__name__ == class_name]
        if not chosen:
            raise _LoadError(f"{context}: it defines no ekvision.Module subclass named "
                             f"{class_name}")
        return chosen[0]
    if len(classes) != 1:
        found = ", ".join(sorted(c.__name__ for c in classes)) or "none"
        raise _LoadError(f"{context}: it must define exactly one ekvision.Module subclass, "
                         f"or name one with --class (found: {found})")
    return classes[0]


def _instantiate(path, class_name=None):
    """The module object of the file ``path``, built with no arguments, and the frame
    rate it asks for. For hosts that embed Python."""
    cls = _load_class(path, class_name)
    try:
        instance = cls()
        _settings(instance)
    except BaseException as failure:  # noqa: B902
        raise _LoadError(f"cannot build {cls.__name__} of {os.fsdecode(path)}: "
                         f"{_failure_line(type(failure), failure, failure.__traceback__)}") \
            from failure
    return instance


class RunResult(NamedTuple):
    """What :func:`run` did: the module's name, the camera, the frames processed, the
    seconds and frames a second of the run, the detections (dicts as in
    :class:`ekvision.batch.RecordingResult`), the failures logged meanwhile, the error
    that made the run a failure (None when it succeeded) and the 99th percentile of the
    pacing's deviation from the frame period, in milliseconds (None for unpaced runs)."""
    module: str
    camera: str
    frames: int
    seconds: float
    rate: float
    detections: list
    warnings: list
    error: Optional[str]
    pacing_p99_ms: Optional[float]


def run(module, camera=None, seconds=None, frames=None, frame_rate=None, resolution=None,
        every_frame=False, name=None, detections=None, control=None):
    """Runs a Python vision module with the C++ engine in this process, as ``ekvision run
    --module FILE.py`` does, and returns a :class:`RunResult`.

    ``module`` is a :class:`Module` subclass (built with no arguments) or a module object
    that no other run hosts. ``camera`` is a camera SPEC (default: the synthetic scene);
    ``seconds`` and ``frames`` limit the run (5 seconds when neither is given);
    ``frame_rate`` and ``resolution`` default to the module's own; ``every_frame`` hands
    each frame of a recording once, unpaced; ``detections`` names a JSON-lines file to
    write; ``control`` an endpoint on which the run answers remote methods. Ctrl-C ends
    the run early, cleanly. The GIL is let go while the engine runs: other Python threads
    run beside it. Raises OSError or ValueError when the run cannot start.
    """
    instance = module() if isinstance(module, type) else module
    resolution_code, _, module_rate = _settings(instance)
    if seconds is None and frames is None and not every_frame:
        seconds = _DEFAULT_RUN_SECONDS
    outcome = _ekvision._run_module(
        instance, None if camera is None else os.fsdecode(camera), seconds, frames,
        module_rate if frame_rate is None else frame_rate,
        resolution_code if resolution is None else resolution, every_frame, name,
        None if detections is None else os.fsdecode(detections), control)
    detections = [batch._detection(json.loads(line)) for line in outcome["detections"]]
    return RunResult(outcome["module"], outcome["camera"], outcome["frames"],
                     outcome["seconds"], outcome["rate"], detections,
                     outcome["warnings"], outcome["error"], outcome.get("pacing_p99_ms"))
