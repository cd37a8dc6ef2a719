"""Checks and helpers shared by the end-to-end tests of the Linux and Windows
players: failures, waiting for a condition, reading screenshots, and a
virtual X server that stops exactly what it started."""
import os
import re
import select
import signal
import subprocess
import time


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for_value(read, wanted, timeout, what, interval=0.05):
    """Polls read() until wanted(value) holds and returns that value; a
    failure shows the last value read."""
    deadline = time.monotonic() + timeout
    while True:
        value = read()
        if wanted(value):
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for %s; last %r" % (what, value))
        time.sleep(interval)


def wait_until(predicate, timeout, what, interval=0.05):
    """Polls predicate() until it gives a true value, and returns that."""
    return wait_for_value(predicate, bool, timeout, what, interval)


def parse_ppm(data):
    """A binary PPM image as (width, height, RGB bytes)."""
    match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    check(match, "not a PPM image")
    width, height, maximum = (int(g) for g in match.groups())
    check(maximum == 255, "unexpected PPM depth")
    pixels = data[match.end():match.end() + width * height * 3]
    check(len(pixels) == width * height * 3, "short PPM image")
    return width, height, pixels


def crop(image, x, y, width, height):
    """The RGB bytes of a rectangle of a parsed image, row after row."""
    image_width, _, pixels = image
    return b"".join(pixels[(row * image_width + x) * 3:(row * image_width + x + width) * 3]
                    for row in range(y, y + height))


def stop_process(process, children=False, grace=10):
    """Ends one process a test started (and, when asked, the children it
    forked, such as a message-box helper), each by its id, and reaps it."""
    if process.poll() is None:
        if children:
            listed = subprocess.run(["pgrep", "-P", str(process.pid)], capture_output=True,
                                    text=True).stdout.split()
            for child in listed:
                try:
                    os.kill(int(child), signal.SIGKILL)
                except ProcessLookupError:
                    pass
            process.kill()
        else:
            process.terminate()  # an X server removes its lock file
    try:
        process.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def display_in_use(number):
    """A display whose lock names a live process belongs to someone."""
    try:
        with open("/tmp/.X%d-lock" % number) as f:
            os.kill(int(f.read().strip()), 0)
        return True
    except (FileNotFoundError, ValueError, ProcessLookupError):
        return False
    except PermissionError:
        return True


class XServer:
    """One Xvfb with the given screen, and the window manager when asked for.

    With numbers, the display is the first free one of them; without, Xvfb
    picks a free one itself. env is the environment of every command run on
    the display (DISPLAY is added). close() stops what was started here.
    """

    def __init__(self, screen="1024x768x24", env=None, numbers=None):
        self.xvfb = None
        self.window_manager = None
        self.display = self._start(screen, numbers)
        self.env = dict(env if env is not None else os.environ, DISPLAY=self.display)

    def _start(self, screen, numbers):
        for number in numbers if numbers is not None else [None]:
            if number is not None and display_in_use(number):
                continue
            # Xvfb writes its display number to the pipe once it accepts clients.
            read_end, write_end = os.pipe()
            name = [] if number is None else [":%d" % number]
            self.xvfb = subprocess.Popen(
                ["Xvfb", *name, "-displayfd", str(write_end), "-screen", "0", screen,
                 "-nolisten", "tcp"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.close(write_end)
            data = b""
            deadline = time.monotonic() + 15
            try:
                while not data.endswith(b"\n") and time.monotonic() < deadline:
                    ready, _, _ = select.select([read_end], [], [], 0.5)
                    if ready:
                        chunk = os.read(read_end, 64)
                        if not chunk:
                            break
                        data += chunk
            finally:
                os.close(read_end)
            if data.endswith(b"\n"):
                return ":" + data.decode().strip()
            stop_process(self.xvfb)
            self.xvfb = None
        if numbers is None:
            raise Failure("Xvfb did not report its display")
        raise Failure("no free X display among :%d to :%d" % (min(numbers), max(numbers)))

    def start_window_manager(self, home):
        """openbox, with its settings in home; returns once it manages the screen."""
        self.window_manager = subprocess.Popen(
            ["openbox", "--sm-disable"], env=dict(self.env, HOME=home),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # openbox announces itself on the root window once it manages the screen.
        wait_until(lambda: "window id" in self.run_x(["xprop", "-root",
                                                      "_NET_SUPPORTING_WM_CHECK"]),
                   10, "openbox")

    def run_x(self, command):
        return subprocess.run(command, env=self.env, capture_output=True, text=True,
                              timeout=30).stdout

    def find_window(self, title):
        """The id of a top-level window with exactly this title, or None."""
        pattern = re.compile(r'^\s*(0x[0-9a-f]+) "%s":' % re.escape(title), re.M)
        match = pattern.search(self.run_x(["xwininfo", "-root", "-tree"]))
        return match.group(1) if match else None

    def geometry(self, window_id):
        info = self.run_x(["xwininfo", "-id", window_id])
        value = {}
        for key, name in (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"),
                          ("width", "Width"), ("height", "Height")):
            value[key] = int(re.search(r"%s:\s+(-?\d+)" % name, info).group(1))
        return value

    def screenshot(self):
        data = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"],
                              env=self.env, capture_output=True, timeout=30).stdout
        return parse_ppm(data)

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.env, check=True, timeout=30,
                       stdout=subprocess.DEVNULL)

    def close(self):
        if self.window_manager is not None:
            stop_process(self.window_manager)
            self.window_manager = None
        if self.xvfb is not None:
            stop_process(self.xvfb)
            self.xvfb = None

