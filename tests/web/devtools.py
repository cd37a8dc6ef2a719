"""A small client for Chromium's DevTools protocol over its WebSocket, with
Python's standard library only: enough to open a page and evaluate
JavaScript in it, awaiting promises, in real time."""
import base64
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import tempfile
import time
import urllib.request


class Browser:
    def __init__(self, extra_args=()):
        self.profile = tempfile.mkdtemp(prefix="queltravine-chromium-")
        self.process = subprocess.Popen(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu",
             "--user-data-dir=" + self.profile, "--autoplay-policy=no-user-gesture-required",
             "--remote-debugging-port=0", *extra_args, "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        port = None
        deadline = time.monotonic() + 30
        while port is None and time.monotonic() < deadline:
            line = self.process.stderr.readline()
            match = re.search(r"DevTools listening on ws://127.0.0.1:(\d+)/", line)
            if match:
                port = match.group(1)
        if port is None:
            self.close()
            raise RuntimeError("Chromium did not start its DevTools server")
        with urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port) as reply:
            pages = [t for t in json.load(reply) if t["type"] == "page"]
        self.socket = connect(pages[0]["webSocketDebuggerUrl"])
        self.next_id = 0

    def send(self, method, **params):
        self.next_id += 1
        send_frame(self.socket, json.dumps({"id": self.next_id, "method": method,
                                            "params": params}))
        while True:
            message = json.loads(receive_frame(self.socket))
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message["result"]

    def open(self, url, settle=1.0):
        self.send("Page.navigate", url=url)
        time.sleep(settle)

    def evaluate(self, expression, timeout=120):
        """The value of a JavaScript expression, awaited if it is a promise."""
        self.socket.settimeout(timeout)
        result = self.send("Runtime.evaluate", expression=expression, awaitPromise=True,
                           returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError("in the page: %s" % result["exceptionDetails"])
        return result["result"].get("value")

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


def connect(url):
    match = re.match(r"ws://([^:/]+):(\d+)(/.*)", url)
    host, port, path = match.group(1), int(match.group(2)), match.group(3)
    sock = socket.create_connection((host, port))
    key = base64.b64encode(os.urandom(16)).decode()
    sock.sendall(("GET %s HTTP/1.1\r\nHost: %s:%d\r\nUpgrade: websocket\r\n"
                  "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\n"
                  "Sec-WebSocket-Version: 13\r\n\r\n" % (path, host, port, key)).encode())
    reply = b""
    while b"\r\n\r\n" not in reply:
        chunk = sock.recv(4096)
        if not chunk:
            raise RuntimeError("the DevTools server closed the connection")
        reply += chunk
    if b" 101 " not in reply.split(b"\r\n")[0]:
        raise RuntimeError("no WebSocket: %r" % reply[:80])
    return sock


def send_frame(sock, text):
    data = text.encode()
    mask = os.urandom(4)
    header = bytes([0x81])
    if len(data) < 126:
        header += bytes([0x80 | len(data)])
    elif len(data) < 65536:
        header += bytes([0x80 | 126]) + struct.pack(">H", len(data))
    else:
        header += bytes([0x80 | 127]) + struct.pack(">Q", len(data))
    sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data)))


def receive_exactly(sock, count):
    data = b""
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            raise RuntimeError("the DevTools connection closed")
        data += chunk
    return data


def receive_frame(sock):
    message = b""
    while True:
        first, second = receive_exactly(sock, 2)
        length = second & 0x7F
        if length == 126:
            length = struct.unpack(">H", receive_exactly(sock, 2))[0]
        elif length == 127:
            length = struct.unpack(">Q", receive_exactly(sock, 8))[0]
        message += receive_exactly(sock, length)
        if first & 0x80:
            return message.decode()
