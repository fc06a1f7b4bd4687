"""People in front of the camera, found with OpenCV's HOG people detector: a vision module
written in Python, run by the C++ engine like a plugin.

    ekvision run --module modules/peopledetector/people.py --camera clip.mp4

Each person found is reported as a box (``getDetections``); ``getPeopleCount`` tells how
many the last frame showed. The detector's model is built into OpenCV: nothing to fetch.
"""

import threading

import cv2
import numpy

import ekvision


class PeopleDetector(ekvision.Module):
    """Upright people of at least 128 pixels in height, on each frame converted to BGR."""

    def __init__(self, frame_rate=10, resolution=2):
        super().__init__("PeopleDetector", resolution=resolution, frame_rate=frame_rate)
        self.hog = cv2.HOGDescriptor()
        self.hog.setSVMDetector(cv2.HOGDescriptor_getDefaultPeopleDetector())
        self.lock = threading.Lock()
        self.last_count = 0

    def process_image(self, image):
        # The camera gives YUV 4:2:2 (Y0 U Y1 V), which OpenCV calls YUY2.
        bgr = cv2.cvtColor(image.pixels, cv2.COLOR_YUV2BGR_YUY2)
        # Without a person, OpenCV gives empty tuples rather than arrays.
        boxes, weights = self.hog.detectMultiScale(bgr, winStride=(8, 8), padding=(8, 8),
                                                   scale=1.05)
        people = [box for box, weight in zip(boxes, numpy.ravel(weights)) if weight > 0.5]
        for x, y, w, h in people:
            self.report(x, y, w, h)
        with self.lock:
            self.last_count = len(people)

    @ekvision.remote_method("getPeopleCount", doc="People in the last frame processed",
                            returns=("people", "how many"))
    def people_count(self) -> int:
        with self.lock:
            return self.last_count
