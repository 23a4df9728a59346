#!/usr/bin/env python3
"""A real browser against `quenby --http-cache`: a video that seeks gets 206 replies and a
reload of a page gets 304s.

Drives headless Chromium through its DevTools protocol over --remote-debugging-pipe (JSON
messages ended by a NUL byte on fds 3 and 4), so only the standard library is needed.
Exits 77 (skipped) when Chromium is not installed.

usage: http_cache_browser.py QUENBY_EXECUTABLE
"""

import fcntl
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
VIDEO = os.path.join(HERE, "http_cache_clip.mp4")
# A 1x1 PNG.
PIXEL = bytes.fromhex(
    "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
    "1f15c4890000000d49444154789c6360f8cfc0f01f0005000201f5d83a"
    "5b0000000049454e44ae426082")
PAGE = """<!DOCTYPE html>
<html><head><title>cache</title></head><body>
<img id="pixel" src="pixel.png" alt="pixel">
<video id="clip" src="clip.mp4" preload="auto" muted></video>
</body></html>
"""
SEEK_TO = 15.0
TIME_LIMIT = 60


def high_fd(fd):
    moved = fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10)
    os.close(fd)
    return moved


def find_browser():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


class Browser:
    """One headless Chromium and one page of it, spoken to through the DevTools pipe."""

    def __init__(self, executable, profile):
        to_browser_read, self._to_browser = os.pipe()
        self._from_browser, from_browser_write = os.pipe()
        # Moved above 4 first, so that placing them on 3 and 4 cannot overwrite one another.
        to_browser_read = high_fd(to_browser_read)
        from_browser_write = high_fd(from_browser_write)

        def map_pipes():
            os.dup2(to_browser_read, 3)  # inheritable, unlike the pipes themselves
            os.dup2(from_browser_write, 4)

        self.process = subprocess.Popen(
            [executable, "--headless=new", "--remote-debugging-pipe", "--no-sandbox",
             "--disable-gpu", "--no-first-run", "--no-default-browser-check",
             "--autoplay-policy=no-user-gesture-required", "--user-data-dir=" + profile,
             "about:blank"],
            close_fds=False, preexec_fn=map_pipes,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser_read)
        os.close(from_browser_write)
        self._pending = b""
        self._next_id = 0
        self.events = []
        self.session = None

    def send(self, method, params=None, session=True):
        self._next_id += 1
        message = {"id": self._next_id, "method": method, "params": params or {}}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self._to_browser, json.dumps(message).encode() + b"\0")
        while True:
            reply = self._read()
            if reply.get("id") == self._next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            self.events.append(reply)

    def wait_for(self, method, deadline):
        while True:
            for index, event in enumerate(self.events):
                if event.get("method") == method:
                    return self.events.pop(index)
            self.events.append(self._read(deadline))

    def _read(self, deadline=None):
        while b"\0" not in self._pending:
            if deadline is not None:
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([self._from_browser], [], [], left)[0]:
                    raise TimeoutError("no message from the browser in time")
            chunk = os.read(self._from_browser, 65536)
            if not chunk:
                raise EOFError("the browser closed its pipe")
            self._pending += chunk
        message, self._pending = self._pending.split(b"\0", 1)
        return json.loads(message)

    def open_page(self):
        target = self.send("Target.createTarget", {"url": "about:blank"}, session=False)
        attached = self.send("Target.attachToTarget",
                             {"targetId": target["targetId"], "flatten": True}, session=False)
        self.session = attached["sessionId"]
        self.send("Page.enable")
        self.send("Network.enable")

    def evaluate(self, expression):
        result = self.send("Runtime.evaluate",
                           {"expression": expression, "awaitPromise": True,
                            "returnByValue": True})
        if "exceptionDetails" in result:
            raise RuntimeError(f"script failed: {result['exceptionDetails']}")
        return result["result"].get("value")

    def responses(self):
        """(url, status) of every response seen so far; the events stay."""
        return [(e["params"]["response"]["url"], e["params"]["response"]["status"])
                for e in self.events if e.get("method") == "Network.responseReceived"]

    def close(self):
        try:
            self.send("Browser.close", session=False)
        except (OSError, EOFError, RuntimeError):
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self._to_browser)
        os.close(self._from_browser)


def start_quenby(executable, root, log):
    process = subprocess.Popen(
        [executable, "--headless", "--host", "127.0.0.1", "--port", "0", "--root", root,
         "--settings", os.path.join(root, "..", "quenby.ini"), "--log", "--log-file", log,
         "--http-cache"],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        line = process.stdout.readline()
        if not line:
            break
        found = re.search(r"Listening on \S*:(\d+)", line)
        if found:
            return process, int(found.group(1))
    process.kill()
    raise RuntimeError("quenby did not start")


def drain_network(browser, seconds):
    """Lets late network events arrive."""
    deadline = time.monotonic() + seconds
    try:
        browser.wait_for("Test.never", deadline)
    except TimeoutError:
        pass


def check(condition, message, failures):
    print(("ok   " if condition else "FAIL ") + message)
    if not condition:
        failures.append(message)


def run(quenby, chromium, work):
    root = os.path.join(work, "root")
    os.mkdir(root)
    with open(os.path.join(root, "page.html"), "w") as page:
        page.write(PAGE)
    with open(os.path.join(root, "pixel.png"), "wb") as pixel:
        pixel.write(PIXEL)
    shutil.copy(VIDEO, os.path.join(root, "clip.mp4"))
    log = os.path.join(work, "quenby.log")
    server, port = start_quenby(quenby, root, log)
    browser = Browser(chromium, os.path.join(work, "profile"))
    failures = []
    try:
        deadline = time.monotonic() + TIME_LIMIT
        browser.open_page()
        base = f"http://127.0.0.1:{port}/"
        browser.send("Page.navigate", {"url": base + "page.html"})
        browser.wait_for("Page.loadEventFired", deadline)
        seeked = browser.evaluate(f"""new Promise((resolve, reject) => {{
            const video = document.getElementById('clip');
            video.onerror = () => reject('video error ' + (video.error && video.error.code));
            const seek = () => {{
              video.addEventListener('seeked', () => resolve(video.currentTime), {{once: true}});
              video.currentTime = {SEEK_TO};
            }};
            if (video.readyState >= 1) seek(); else video.onloadedmetadata = seek;
          }})""")
        check(abs(seeked - SEEK_TO) < 0.5, f"the video seeked to {seeked}", failures)
        drain_network(browser, 1)
        video_statuses = [s for url, s in browser.responses() if url.endswith("/clip.mp4")]
        print("video replies:", video_statuses)
        check(video_statuses and all(s == 206 for s in video_statuses),
              "every video request got 206", failures)

        browser.events.clear()
        browser.send("Page.reload")
        browser.wait_for("Page.loadEventFired", deadline)
        drain_network(browser, 1)
        statuses = {url[len(base):]: s for url, s in browser.responses()}
        print("reload replies:", statuses)
        # The browser shows the page itself with the status of the copy it kept (200); the
        # server's 304 for it shows in the log below.
        check(304 in statuses.values(), "the reload got 304 replies", failures)
    finally:
        browser.close()
        server.terminate()
        server.wait(timeout=60)
    with open(log, encoding="latin-1") as text:
        lines = text.read()
    size = os.path.getsize(VIDEO)
    check(re.search(r"page\.html \(0 bytes / \d+ bytes sent\)", lines) is not None,
          "the reloaded page was answered with 304 (0 bytes sent)", failures)
    check(f"clip.mp4 (" in lines and f" / {size} bytes sent)" in lines,
          "the log has the video's lines", failures)
    return 1 if failures else 0


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    chromium = find_browser()
    if chromium is None:
        print("chromium is not installed: skipped")
        return SKIP
    with tempfile.TemporaryDirectory() as work:
        return run(os.path.abspath(sys.argv[1]), chromium, work)


if __name__ == "__main__":
    sys.exit(main())
