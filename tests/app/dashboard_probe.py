#!/usr/bin/env python3
"""Loads the web link's dashboard in headless Chromium and follows it through the DevTools protocol.

Usage: dashboard_probe.py URL FIRST_VALUE SECOND_VALUE DOM_FILE SCREENSHOT_FILE

Prints "LOADED" once the page shows FIRST_VALUE, then waits for SECOND_VALUE to appear without a reload
(the page's own marker survives) and prints "UPDATED", then waits for the notice that the program is gone
and prints "DISCONNECTED". Writes the DOM and a screenshot on the way. Exits 1 on a timeout.
"""
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time


class Browser:
    def __init__(self, profile):
        # The DevTools protocol over a pipe: Chromium reads commands on fd 3 and writes answers on fd 4.
        to_chromium_read, self.to_chromium = os.pipe()
        self.from_chromium, from_chromium_write = os.pipe()

        def bind_pipes():
            os.dup2(to_chromium_read, 3)
            os.dup2(from_chromium_write, 4)

        self.process = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--no-first-run", "--window-size=1000,900",
             "--user-data-dir=" + profile, "--remote-debugging-pipe", "about:blank"],
            preexec_fn=bind_pipes, pass_fds=(3, 4),
            stdout=subprocess.DEVNULL, stderr=None if os.environ.get("PROBE_VERBOSE") else subprocess.DEVNULL)
        os.close(to_chromium_read)
        os.close(from_chromium_write)
        self.buffer = b""
        self.next_id = 0
        self.session = None

    def command(self, method, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if self.session and not method.startswith("Target."):
            message["sessionId"] = self.session
        os.write(self.to_chromium, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.buffer:
                chunk = os.read(self.from_chromium, 65536)
                if not chunk:
                    raise RuntimeError("chromium ended")
                self.buffer += chunk
            raw, self.buffer = self.buffer.split(b"\0", 1)
            answer = json.loads(raw)
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise RuntimeError(answer["error"])
                return answer["result"]

    def evaluate(self, expression):
        return self.command("Runtime.evaluate", expression=expression, returnByValue=True)["result"].get("value")

    def wait_for(self, expression, seconds=20):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if self.evaluate(expression):
                return True
            time.sleep(0.1)
        return False

    def close(self):
        self.process.kill()
        self.process.wait()


def main():
    url, first, second, dom_file, screenshot_file = sys.argv[1:6]
    profile = tempfile.mkdtemp(prefix="dashboard-probe-")
    try:
        browser = Browser(profile)
        try:
            target = browser.command("Target.createTarget", url=url)["targetId"]
            browser.session = browser.command("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
            value = "document.getElementById('value').textContent"
            if not browser.wait_for(value + " === " + json.dumps(first)):
                print("TIMEOUT first value, page shows", browser.evaluate(value), flush=True)
                return 1
            browser.evaluate("window.probeMarker = 'same page'")
            print("LOADED", flush=True)

            if not browser.wait_for(value + " === " + json.dumps(second) + " && window.probeMarker === 'same page'"):
                print("TIMEOUT second value, page shows", browser.evaluate(value), flush=True)
                return 1
            with open(dom_file, "w", encoding="utf-8") as out:
                out.write(browser.evaluate("document.documentElement.outerHTML"))
            shot = browser.command("Page.captureScreenshot", format="png")["data"]
            with open(screenshot_file, "wb") as out:
                out.write(base64.b64decode(shot))
            print("UPDATED", flush=True)

            if not browser.wait_for("getComputedStyle(document.getElementById('status')).display === 'block'"):
                print("TIMEOUT disconnection", flush=True)
                return 1
            print("DISCONNECTED", flush=True)
            return 0
        finally:
            browser.close()
    finally:
        # Chromium's helpers may still be writing to the profile as it ends.
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
