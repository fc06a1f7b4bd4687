"""The motion detector's rule (modules/motiondetector) as a Python vision module in numpy,
for the tests to compare with the C++ module."""

import cv2
import numpy

import ekvision


class MotionPort(ekvision.Module):
    """The motion detector's rule in numpy (modules/motiondetector): pixels whose luma
    changed by more than 40, regions of 8-connected changed pixels, the edges of a move
    along a row or a column joined, regions under 16 pixels dropped, the largest first."""

    def __init__(self):
        super().__init__("MotionPort")
        self.previous = None

    def on_start_detection(self):
        self.previous = None

    def process_image(self, image):
        luma = image.pixels[:, :, 0].astype(numpy.int16)
        previous, self.previous = self.previous, luma
        if previous is None or previous.shape != luma.shape:
            return
        changed = (numpy.abs(luma - previous) > 40).astype(numpy.uint8)
        count, labels, stats, _ = cv2.connectedComponentsWithStats(changed, connectivity=8)
        # Regions in the order of their first pixel in raster order, as a flood fill finds them.
        _, first = numpy.unique(labels.ravel(), return_index=True)
        regions = [[int(stats[label, 0]), int(stats[label, 1]),
                    int(stats[label, 0] + stats[label, 2] - 1),
                    int(stats[label, 1] + stats[label, 3] - 1), int(stats[label, 4]), False]
                   for label in sorted(range(1, count), key=lambda label: first[label])]
        if len(regions) <= 256:
            for i, a in enumerate(regions):
                for b in regions[i + 1:]:
                    if not b[5] and _edges_of_one_move(a, b):
                        a[:5] = [min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]),
                                 max(a[3], b[3]), a[4] + b[4]]
                        b[5] = True
                        break
        kept = sorted((r for r in regions if not r[5] and r[4] >= 16), key=lambda r: -r[4])
        for left, top, right, bottom, pixels, _ in kept[:32]:
            self.report(left, top, right - left + 1, bottom - top + 1, pixels)


def _edges_of_one_move(a, b):
    def near(x, y):
        return abs(x - y) <= 1
    same_rows = (near(a[1], b[1]) and near(a[3], b[3]) and near(a[2] - a[0], b[2] - b[0])
                 and (a[2] < b[0] or b[2] < a[0]))
    same_columns = (near(a[0], b[0]) and near(a[2], b[2]) and near(a[3] - a[1], b[3] - b[1])
                    and (a[3] < b[1] or b[3] < a[1]))
    return same_rows or same_columns
