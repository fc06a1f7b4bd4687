"""What the viewer's browser tests and benchmark share: the tool in a process of its own and
headless Chromium with every address but this machine's cut off."""

import re
import shutil
import subprocess
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


class Tool:
    """The tool running in a process of its own. Its standard output is read on a thread as
    it comes, so that a tool that prints a line a frame never waits for the reader."""

    def __init__(self, tool, *args):
        self.process = subprocess.Popen([tool, *args], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
        self.lines = []
        self._read = 0
        self._arrived = threading.Condition()
        self._reader = threading.Thread(target=self._read_lines, daemon=True)
        self._reader.start()

    def _read_lines(self):
        for line in self.process.stdout:
            with self._arrived:
                self.lines.append(line)
                self._arrived.notify_all()
        with self._arrived:
            self._arrived.notify_all()

    def wait_for_line(self, pattern, timeout=20):
        """The match of the next line of standard output like @p pattern."""
        deadline = time.monotonic() + timeout
        with self._arrived:
            while True:
                while self._read < len(self.lines):
                    found = re.search(pattern, self.lines[self._read])
                    self._read += 1
                    if found:
                        return found
                left = deadline - time.monotonic()
                if left <= 0 or (not self._reader.is_alive() and self._read == len(self.lines)):
                    break
                self._arrived.wait(min(left, 0.1))
        err = self.process.stderr.read() if self.process.poll() is not None else ""
        raise AssertionError(f"no line like {pattern!r} in {self.lines}: {err}")

    def stop(self):
        """Ctrl-C, then the exit status and standard error; the output is kept in lines."""
        self.process.send_signal(2)
        return self.finish()

    def finish(self, timeout=60):
        """Waits for the end: the exit status and standard error."""
        err = self.process.stderr.read()
        self.process.wait(timeout=timeout)
        self._reader.join()
        return self.process.returncode, err


def headless_chromium(download_directory):
    """Chromium without a screen, its downloads going to @p download_directory. Every address
    but this machine's goes to a proxy that is not there: a page that loaded anything from
    elsewhere would break."""
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1000,1000", "--proxy-server=http://127.0.0.1:9"):
        options.add_argument(flag)
    options.add_experimental_option("prefs",
                                    {"download.default_directory": str(download_directory)})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def wait_until(condition, timeout=20, what="the page"):
    """The first true value of @p condition, polled until @p timeout seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError(f"{what} did not come within {timeout} s")
