"""A small client for Chromium's DevTools protocol over its WebSocket
(Debian's python3-websocket): enough to open a page and evaluate JavaScript
in it, awaiting promises, in real time."""
import json
import re
import shutil
import subprocess
import tempfile
import threading
import time
import urllib.request

import websocket

from x11_checks import wait_until


class Browser:
    def __init__(self, extra_args=(), env=None):
        self.profile = tempfile.mkdtemp(prefix="queltravine-chromium-")
        self.connection = None
        self.process = subprocess.Popen(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu",
             "--user-data-dir=" + self.profile, "--autoplay-policy=no-user-gesture-required",
             "--remote-debugging-port=0", *extra_args, "about:blank"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        try:
            port = None
            deadline = time.monotonic() + 30
            while port is None and time.monotonic() < deadline:
                line = self.process.stderr.readline()
                if not line and self.process.poll() is not None:
                    break
                match = re.search(r"DevTools listening on ws://127.0.0.1:(\d+)/", line)
                if match:
                    port = match.group(1)
            if port is None:
                raise RuntimeError("Chromium did not start its DevTools server")
            # Read the rest of its standard error away: a full pipe would stop
            # Chromium at its next message.
            threading.Thread(target=self.process.stderr.read, daemon=True).start()
            with urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port,
                                        timeout=30) as reply:
                pages = [t for t in json.load(reply) if t["type"] == "page"]
            if not pages:
                raise RuntimeError("Chromium has no page to drive")
            # No Origin header: Chromium refuses DevTools connections that
            # name an origin it was not told to allow.
            self.connection = websocket.create_connection(
                pages[0]["webSocketDebuggerUrl"], timeout=60, suppress_origin=True)
        except BaseException:
            self.close()
            raise
        self.next_id = 0
        self.trace_events = []

    def send(self, method, **params):
        self.next_id += 1
        self.connection.send(json.dumps({"id": self.next_id, "method": method,
                                         "params": params}))
        while True:
            message = json.loads(self.connection.recv())
            if message.get("method") == "Tracing.dataCollected":
                self.trace_events += message["params"]["value"]
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message["result"]

    def open(self, url, timeout=60):
        """Navigates to url; returns once the new document has loaded and
        shown its first frames."""
        self.connection.settimeout(60)
        # The document left is marked, so that its readyState is not taken
        # for the new one's.
        self.evaluate("window.queltravineLeft = true")
        self.send("Page.navigate", url=url)

        def loaded():
            try:
                return self.evaluate("window.queltravineLeft ? 'left' : document.readyState") \
                    == "complete"
            except RuntimeError as error:
                # Between the two documents there may be no context to ask.
                if "context" not in str(error):
                    raise
                return False
        wait_until(loaded, timeout, "the page %s to load" % url, 0.1)
        self.evaluate("new Promise((done) => requestAnimationFrame(() => "
                      "requestAnimationFrame(done)))")

    def evaluate(self, expression, timeout=120):
        """The value of a JavaScript expression, awaited if it is a promise."""
        self.connection.settimeout(timeout)
        result = self.send("Runtime.evaluate", expression=expression, awaitPromise=True,
                           returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError("in the page: %s" % result["exceptionDetails"])
        return result["result"].get("value")

    def press(self, key, code):
        """A key pressed and released as a user would (a gesture that allows sound)."""
        for kind in ("keyDown", "keyUp"):
            self.send("Input.dispatchKeyEvent", type=kind, key=key, code=code)

    def click(self, x, y):
        """A left click at page coordinates, as a user would make it."""
        for kind in ("mousePressed", "mouseReleased"):
            self.send("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left",
                      clickCount=1)

    def start_tracing(self, categories):
        """Records Chromium's trace events of the given categories (a list)."""
        self.trace_events = []
        self.send("Tracing.start", transferMode="ReportEvents",
                  traceConfig={"includedCategories": categories,
                               "recordMode": "recordContinuously"})

    def stop_tracing(self, timeout=120):
        """The events recorded since start_tracing: dicts with name, ts and
        dur (wall microseconds), tdur (the thread's CPU microseconds), tid."""
        self.connection.settimeout(timeout)
        self.send("Tracing.end")
        while True:
            message = json.loads(self.connection.recv())
            if message.get("method") == "Tracing.dataCollected":
                self.trace_events += message["params"]["value"]
            elif message.get("method") == "Tracing.tracingComplete":
                events, self.trace_events = self.trace_events, []
                return events

    def close(self):
        if self.connection is not None:
            self.connection.close()
            self.connection = None
        if self.process.poll() is None:
            self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)
