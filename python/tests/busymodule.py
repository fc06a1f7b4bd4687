"""A Python module that keeps the GIL busy in its hook while the tool calls its remote
method from another thread: the tool's threaded test (ctest label threads, run under
ThreadSanitizer) runs it."""

import threading

import numpy

import ekvision


class Busy(ekvision.Module):
    def __init__(self):
        super().__init__("Busy", resolution=1, frame_rate=30)
        self.lock = threading.Lock()
        self.frames = 0

    def process_image(self, image):
        luma = image.pixels[:, :, 0]
        rows, columns = numpy.nonzero(luma >= 200)
        if len(rows):
            self.report(columns.min(), rows.min(), columns.max() - columns.min() + 1,
                        rows.max() - rows.min() + 1, len(rows))
        # Pure Python work holds the GIL, which the interpreter hands to the callers between
        # byte codes.
        total = sum(int(value) for value in luma[::16, ::16].ravel())
        with self.lock:
            self.frames += 1
            self.total = total

    @ekvision.remote_method("getFrames", doc="Frames seen", returns=("frames", "count"))
    def get_frames(self) -> int:
        with self.lock:
            return self.frames
