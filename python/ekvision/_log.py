"""Where the library's log records go: standard error (or the host's handler) unless the
program asks for Python's logging."""

import atexit
import logging

from . import _ekvision

# The library's levels: 1 severe, 2 an operation failed, 3 a refusal, 4 information.
_LEVELS = {1: logging.CRITICAL, 2: logging.ERROR, 3: logging.WARNING, 4: logging.INFO}
_stop_registered = False


def route_log_to_logging(logger_name="ekvision"):
    """Sends the library's log records to :mod:`logging`, to the logger
    ``<logger_name>.<category>`` ("ekvision.vision.ekimage"...), from now until
    :func:`stop_routing_log`.

    Levels map 1 to CRITICAL, 2 (an operation failed) to ERROR, 3 (a refusal) to WARNING,
    4 to INFO, higher ones to DEBUG; the library's function name is the record's
    ``ekvision_function`` attribute. Importing ekvision does not do this: until then the
    records go where the process sends them (standard error by default). Calling it again
    changes the logger name."""
    global _stop_registered

    def forward(level, category, message, function):
        logger = logging.getLogger(f"{logger_name}.{category}" if category else logger_name)
        logger.log(_LEVELS.get(level, logging.CRITICAL if level < 1 else logging.DEBUG), "%s",
                   message, extra={"ekvision_function": function})

    _ekvision._route_log(forward)
    if not _stop_registered:
        # Records written while the interpreter shuts down must not reach Python.
        atexit.register(stop_routing_log)
        _stop_registered = True


def stop_routing_log():
    """Gives the library's log records back to the handler they went to before
    :func:`route_log_to_logging` (standard error by default); nothing when not routing."""
    _ekvision._route_log(None)
