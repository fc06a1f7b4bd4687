"""The viewer in headless Chromium, driven by Selenium, against the built tool: live frames
with the module's boxes on the scene's rectangle, the pause button, scrubbing and stepping a
recording, Save PNG and the MP4 export, all with every address but this machine's cut off."""

import json
import os
import shutil
import subprocess
import tempfile
import time
import urllib.request
from pathlib import Path

import cv2
import numpy
import pytest
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

import chromium
import ekvision
from chromium import wait_until

TOOL = os.environ["EKVISION_TOOL"]
# Where the test leaves the pictures it took (the README shows one).
SHOTS = Path(os.environ.get("EKVISION_VIEWER_SHOTS", tempfile.gettempdir()))


class Tool(chromium.Tool):
    """The built tool."""

    def __init__(self, *args):
        super().__init__(TOOL, *args)


@pytest.fixture
def browser(tmp_path):
    driver = chromium.headless_chromium(tmp_path)
    yield driver
    driver.quit()


def painted(driver):
    return driver.execute_script("return window.ekPainted")


def call(endpoint, module, method, *args):
    done = subprocess.run([TOOL, "call", endpoint, module, method, *args], capture_output=True,
                          text=True, timeout=30, check=False)
    assert done.returncode == 0, done.stderr
    return done.stdout.strip().rsplit("-> ", 1)[-1]


def only_this_machine(driver, url):
    """Every resource the page loaded came from the viewer."""
    loaded = driver.execute_script(
        "return performance.getEntriesByType('resource').map((e) => e.name)")
    assert all(name.startswith(url) for name in loaded), loaded


def box_and_rectangle(stage_png):
    """The green box the page drew and the bright rectangle of the scene under it."""
    shot = cv2.imdecode(numpy.frombuffer(stage_png, numpy.uint8), cv2.IMREAD_COLOR)
    blue, green, red = (shot[..., i].astype(int) for i in range(3))
    box = (green > 200) & (red < 80) & (blue < 80)
    bright = (red > 170) & (green > 170) & (blue > 170)
    def bounds(mask):
        rows, cols = numpy.nonzero(mask)
        assert rows.size, "nothing of that colour in the screenshot"
        return cols.min(), rows.min(), cols.max(), rows.max()
    return bounds(box), bounds(bright)


def overlap(a, b):
    """Intersection over union of two (left, top, right, bottom) boxes, edges included."""
    width = min(a[2], b[2]) - max(a[0], b[0]) + 1
    height = min(a[3], b[3]) - max(a[1], b[1]) + 1
    if width <= 0 or height <= 0:
        return 0.0
    area = lambda r: (r[2] - r[0] + 1) * (r[3] - r[1] + 1)
    return width * height / (area(a) + area(b) - width * height)


def test_live_frames_advance_with_boxes_on_the_scene_and_pause_pauses_the_module(browser):
    tool = Tool("run", "--view", "127.0.0.1:0", "--control", "tcp://127.0.0.1:*")
    try:
        url = tool.wait_for_line(r"^viewer: (http://\S+)")[1]
        endpoint = tool.wait_for_line(r"^control: .* on (tcp://\S+) ")[1]
        browser.get(url)
        wait_until(lambda: len(painted(browser)) >= 10, what="ten painted frames")
        frames = painted(browser)
        indexes = [frame["index"] for frame in frames]
        assert indexes == sorted(set(indexes)), "frames go forwards, each once"
        stamps = [frame["timeStamp"] for frame in frames]
        assert stamps == sorted(set(stamps))
        assert "frames/s (asked 15)" in browser.find_element(By.ID, "stats").text

        # The pause button pauses the module itself, as its remote method says.
        assert call(endpoint, "MotionDetector", "isPaused") == "false"
        browser.find_element(By.ID, "pause").click()
        wait_until(lambda: browser.find_element(By.ID, "paused").text == "paused",
                   what="the page saying paused")
        assert call(endpoint, "MotionDetector", "isPaused") == "true"

        # Paused, the page keeps the last frame and its boxes: the box lies on the rectangle
        # that the scene drew in that frame.
        wait_until(lambda: browser.execute_script("return window.ekShown.detections.length"),
                   what="a frame with a box")
        time.sleep(0.3)
        shot = browser.find_element(By.ID, "stage").screenshot_as_png
        (SHOTS / "viewer-live.png").write_bytes(browser.get_screenshot_as_png())
        box, rectangle = box_and_rectangle(shot)
        assert overlap(box, rectangle) > 0.6, (box, rectangle)
        shown = browser.execute_script("return window.ekShown")
        detection = shown["detections"][0]
        assert box[:2] == (detection["x"], detection["y"]), (box, detection)

        # Switching the boxes off leaves the picture alone.
        browser.find_element(By.ID, "showBoxes").click()
        box_off = browser.find_element(By.ID, "stage").screenshot_as_png
        with pytest.raises(AssertionError, match="nothing of that colour"):
            box_and_rectangle(box_off)

        browser.find_element(By.ID, "pause").click()
        wait_until(lambda: browser.find_element(By.ID, "paused").text == "running")
        assert call(endpoint, "MotionDetector", "isPaused") == "false"
        only_this_machine(browser, url)
    finally:
        status, err = tool.stop()
    assert status == 0, err
    assert err == ""


@pytest.fixture(scope="module")
def recording(tmp_path_factory):
    folder = tmp_path_factory.mktemp("recording")
    clip, log = folder / "walk.arv", folder / "walk.jsonl"
    done = subprocess.run([TOOL, "run", "--seconds", "2", "--record", str(clip),
                           "--detections", str(log)], capture_output=True, text=True,
                          timeout=60, check=False)
    assert done.returncode == 0, done.stderr
    return clip, log


def detections_by_stamp(log):
    found = {}
    for line in log.read_text().splitlines():
        record = json.loads(line)
        if "summary" not in record:
            found.setdefault(record["timeStamp"], []).append(record)
    return found


def test_a_recording_scrubs_by_time_steps_and_exports(browser, recording, tmp_path):
    clip, log = recording
    tool = Tool("view", str(clip), "--detections", str(log), "--listen", "127.0.0.1:0")
    try:
        url = tool.wait_for_line(r"^viewer: (http://\S+) shows")[1]
        browser.get(url)
        wait_until(lambda: browser.execute_script("return window.ekShown"), what="frame 0")
        boxes = detections_by_stamp(log)
        with ekvision.Recording(str(clip)) as video:
            stamps = [video.frame(i).time_stamp for i in range(len(video))]
            # Between two frames, and on one: the frame findFrame gives.
            for wanted in (stamps[7] + 1000, stamps[12], stamps[-1] + 10**6):
                index = video.find(wanted).index
                browser.execute_script(
                    "const t = document.getElementById('timeline');"
                    "t.value = arguments[0]; t.dispatchEvent(new Event('input'));", wanted)
                shown = wait_until(lambda: (browser.execute_script("return window.ekShown")
                                            if browser.execute_script(
                                                "return window.ekShown.index") == index
                                            else None), what=f"frame {index}")
                assert shown["timeStamp"] == stamps[index]
                assert [d["x"] for d in shown["detections"]] == \
                    [d["x"] for d in boxes.get(stamps[index], [])]
                items = browser.find_elements(By.CSS_SELECTOR, "#detectionList li")
                assert len(items) == len(shown["detections"])

            # One frame back and forward, with the arrow keys and the buttons.
            body = browser.find_element(By.TAG_NAME, "body")
            for key, expected in ((Keys.ARROW_LEFT, index - 1), (Keys.ARROW_LEFT, index - 2),
                                  (Keys.ARROW_RIGHT, index - 1)):
                body.send_keys(key)
                wait_until(lambda: browser.execute_script("return window.ekShown.index")
                           == expected, what=f"frame {expected}")
            browser.find_element(By.ID, "back").click()
            wait_until(lambda: browser.execute_script("return window.ekShown.index") == index - 2)
            info = browser.find_element(By.ID, "frameInfo").text
            assert f"frame {index - 2} \u00b7 stamp {stamps[index - 2]} us \u00b7 camera 0" in info

        # Save PNG writes the frame with its boxes.
        browser.find_element(By.ID, "savePng").click()
        saved = wait_until(lambda: list(tmp_path.glob("frame-*.png")), what="the PNG")
        picture = cv2.imread(str(saved[0]))
        assert picture.shape == (480, 640, 3)
        shutil.copy(saved[0], SHOTS / "viewer-recording-frame.png")

        # The export of a marked range plays with one frame per recorded frame. A frame that
        # repeats its predecessor's stamp is found as the later one, as findFrame does.
        with ekvision.Recording(str(clip)) as video:
            first = video.find(stamps[3]).index
        browser.execute_script(
            "const t = document.getElementById('timeline');"
            "t.value = arguments[0]; t.dispatchEvent(new Event('input'));", stamps[3])
        wait_until(lambda: browser.execute_script("return window.ekShown.index") == first,
                   what=f"frame {first}")
        browser.find_element(By.ID, "markIn").click()
        for index in (first + 1, first + 2):
            browser.find_element(By.ID, "forward").click()
            wait_until(lambda: browser.execute_script("return window.ekShown.index") == index,
                       what=f"frame {index}")
        browser.find_element(By.ID, "markOut").click()
        link = browser.find_element(By.ID, "export").get_attribute("href")
        assert link.endswith(f"/api/recording/export.mp4?from={first}&to={first + 2}")
        video = tmp_path / "range.mp4"
        video.write_bytes(urllib.request.urlopen(link, timeout=60).read())
        probe = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v",
                                "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0",
                                str(video)], capture_output=True, text=True, check=True)
        assert probe.stdout.strip() == "3"
        only_this_machine(browser, url)
    finally:
        status, err = tool.stop()
    assert status == 0, err
    assert err == ""
