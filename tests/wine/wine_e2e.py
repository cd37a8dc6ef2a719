#!/usr/bin/env python3
"""End-to-end tests of the Windows build, run under Wine on a virtual X server.

Every case starts its own Xvfb (displays :70 to :79, whichever is free) with
the screen it needs, runs queltravine.exe in a shared Wine prefix (made once
and kept in the work folder), drives it with xdotool and looks at the screen
with ImageMagick's import. One PulseAudio daemon with a null sink serves as
the sound card. At the end exactly what was started is stopped: the Wine
processes of the prefix (wineserver -k), each Xvfb and the PulseAudio daemon.

Exits 0 when every case passed, 1 when one failed, 77 when Wine or the X
tools are missing.

usage: wine_e2e.py --exe PATH --work DIR [--data DIR] [--render EXE --linux-render PATH]
                   [CASE ...]
"""
import argparse
import array
import fcntl
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir))
from x11_checks import Failure, check, crop, parse_ppm, wait_until  # noqa: E402

SKIP = 77
WINDOWED_TITLE = "BWAHAHHAHAHAHAHHAHAHAHAHAH"
FULLSCREEN_TITLE = "BWAHAHAHAHAHAHAH"
PICTURES = ["warning.jpg", "credits.jpg", "part1.jpg", "part2.jpg", "part3.jpg", "greets.jpg"]
TOOLS = ["wine", "wineserver", "wineboot", "Xvfb", "xdotool", "xwininfo", "import", "convert",
         "djpeg", "pulseaudio", "parec"]
DISPLAYS = range(70, 80)


def log(text):
    print(text, flush=True)


class Wine:
    """The prefix, the sound card and the environment every Wine command gets."""

    def __init__(self, work):
        self.work = os.path.abspath(work)
        self.home = os.path.join(self.work, "home")
        for sub in ("home", "tmp", "cache", "config", "data", "run"):
            os.makedirs(os.path.join(self.work, sub), exist_ok=True)
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("WINE", "PULSE", "XDG_")) and k != "DISPLAY"}
        self.env.update(
            WINEPREFIX=os.path.join(self.work, "prefix"), WINEDEBUG="-all",
            WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
            TMPDIR=os.path.join(self.work, "tmp"), HOME=self.home,
            XDG_CACHE_HOME=os.path.join(self.work, "cache"),
            XDG_CONFIG_HOME=os.path.join(self.work, "config"),
            XDG_DATA_HOME=os.path.join(self.work, "data"),
            XDG_RUNTIME_DIR=os.path.join(self.work, "run"))
        self.pulse = None

    def make_prefix(self):
        """Makes the prefix once; later runs reuse it (about 15 s saved)."""
        marker = os.path.join(self.env["WINEPREFIX"], ".queltravine-ready")
        with open(os.path.join(self.work, "prefix.lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if os.path.exists(marker):
                return
            log("making the Wine prefix in " + self.env["WINEPREFIX"])
            shutil.rmtree(self.env["WINEPREFIX"], ignore_errors=True)
            env = dict(self.env, DISPLAY="")
            subprocess.run(["wineboot", "-u"], env=env, check=True, timeout=300,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            # DirectDraw through GDI: the same pixels as OpenGL, faster here.
            subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\Direct3D", "/v",
                            "renderer", "/t", "REG_SZ", "/d", "gdi", "/f"], env=env,
                           check=True, timeout=120, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=env, timeout=120)
            open(marker, "w").close()

    def start_pulse(self):
        folder = tempfile.mkdtemp(prefix="pulse-", dir=os.path.join(self.work, "run"))
        socket = os.path.join(folder, "pulse.sock")
        env = dict(self.env, HOME=folder, XDG_RUNTIME_DIR=folder, XDG_CONFIG_HOME=folder)
        self.pulse = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--disable-shm=yes", "-L",
             "module-native-protocol-unix socket=%s auth-anonymous=1" % socket,
             "-L", "module-null-sink sink_name=nullsink rate=44100", "-L", "module-always-sink"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.env["PULSE_SERVER"] = "unix:" + socket
        wait_until(lambda: os.path.exists(socket) or self.pulse.poll() is not None, 15,
                   "PulseAudio")
        check(self.pulse.poll() is None, "PulseAudio did not start")

    def kill_wine(self):
        """Ends every process of the prefix, by the prefix's own server."""
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        self.kill_wine()
        if self.pulse is not None and self.pulse.poll() is None:
            self.pulse.terminate()
            try:
                self.pulse.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.pulse.kill()
                self.pulse.wait()


class Session:
    """One X server and at most one run of the demo."""

    def __init__(self, wine, screen):
        self.wine = wine
        self.xvfb = None
        self.demo = None
        self.stderr_path = os.path.join(wine.work, "tmp", "demo-stderr.txt")
        self.display = self._start_x(screen)
        self.env = dict(wine.env, DISPLAY=self.display)

    def _start_x(self, screen):
        for number in DISPLAYS:
            if display_in_use(number):
                continue
            # Xvfb writes the display number to the pipe once it accepts clients.
            read_end, write_end = os.pipe()
            self.xvfb = subprocess.Popen(
                ["Xvfb", ":%d" % number, "-displayfd", str(write_end), "-screen", "0", screen,
                 "-nolisten", "tcp"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.close(write_end)
            ready = b""
            deadline = time.monotonic() + 15
            while not ready.endswith(b"\n") and time.monotonic() < deadline:
                readable, _, _ = select.select([read_end], [], [], 0.5)
                if readable:
                    chunk = os.read(read_end, 16)
                    if not chunk:
                        break
                    ready += chunk
            os.close(read_end)
            if ready.endswith(b"\n"):
                return ":%d" % number
            self.xvfb.terminate()
            self.xvfb.wait()
            self.xvfb = None
        raise Failure("no free X display between :70 and :79")

    def run_x(self, command):
        return subprocess.run(command, env=self.env, capture_output=True, text=True,
                              timeout=30).stdout

    def start(self, args=(), cwd=None, env=None):
        run_env = dict(self.env)
        run_env.update(env or {})
        self.stderr_file = open(self.stderr_path, "w")
        self.demo = subprocess.Popen(["wine", self.wine.exe, *args], cwd=cwd, env=run_env,
                                     stdout=subprocess.DEVNULL, stderr=self.stderr_file)

    def alive(self):
        return self.demo.poll() is None

    def stderr(self):
        self.stderr_file.flush()
        with open(self.stderr_path, errors="replace") as f:
            return f.read().strip()

    def wait_exit(self, timeout=20):
        try:
            return self.demo.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the demo did not end within %d s" % timeout)

    def window(self, title, timeout=30):
        pattern = re.compile(r'^\s*(0x[0-9a-f]+) "%s":' % re.escape(title), re.M)

        def find():
            check(self.alive(), "the demo ended early (status %s): %s"
                  % (self.demo.returncode, self.stderr()))
            match = pattern.search(self.run_x(["xwininfo", "-root", "-tree"]))
            return match.group(1) if match else None
        return wait_until(find, timeout, "window " + title)

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

    def message_box(self, caption, timeout=30):
        """Waits for the box captioned so and dismisses it with Return."""
        box = self.window(caption, timeout)
        time.sleep(0.3)
        self.xdotool("key", "--window", box, "Return")

    def close(self):
        self.wine.kill_wine()
        if self.demo is not None:
            try:
                self.demo.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.demo.kill()
                self.demo.wait()
            self.stderr_file.close()
        if self.xvfb is not None:
            self.xvfb.terminate()  # lets it remove its lock file
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()


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


def reference(options, name):
    """The picture as libjpeg decodes it, which the demo must show unchanged."""
    data = subprocess.run(["djpeg", "-ppm", os.path.join(options.data, name)],
                          capture_output=True, check=True, timeout=30).stdout
    return parse_ppm(data)[2]


def wait_for_picture(session, expected, timeout=20):
    def shown():
        check(session.alive(), "the demo ended early (status %s): %s"
              % (session.demo.returncode, session.stderr()))
        return crop(session.screenshot(), 0, 0, 640, 480) == expected
    wait_until(shown, timeout, "the picture on screen, pixel for pixel", 0.2)


def record_sink(session, seconds):
    """What the null sink played for a while, as 16-bit samples."""
    result = subprocess.run(
        ["timeout", str(seconds), "parec", "-d", "nullsink.monitor", "--raw",
         "--format=s16le", "--rate=44100", "--channels=2"],
        env=session.env, capture_output=True)
    return array.array("h", result.stdout[:len(result.stdout) // 2 * 2])


def quit_with_escape(session):
    session.xdotool("key", "Escape")
    check(session.wait_exit() == 0, "Escape did not end with status 0 (%s)" % session.stderr())


# ---- cases -----------------------------------------------------------------

def case_windowed(options, wine):
    """-w: warning.jpg pixel for pixel at 0,0, the music playing, Escape -> 0."""
    session = Session(wine, "1024x768x24")
    try:
        session.start(["-w"], cwd=options.data)
        window = session.window(WINDOWED_TITLE)
        wait_for_picture(session, reference(options, "warning.jpg"))
        g = session.geometry(window)
        check((g["x"], g["y"], g["width"], g["height"]) == (0, 0, 640, 480),
              "window geometry %s" % g)
        samples = record_sink(session, 3)
        check(len(samples) > 44100, "recorded only %d samples" % len(samples))
        loud = sum(1 for s in samples if abs(s) > 256)
        log("  recorded %d samples, %d above 1/128 of full scale" % (len(samples), loud))
        check(loud > len(samples) // 4, "the sink's monitor is (nearly) silent")
        started = time.monotonic()
        quit_with_escape(session)
        log("  Escape -> status 0 in %.1f s" % (time.monotonic() - started))
    finally:
        session.close()


def case_resize_and_drag(options, wine):
    """Arrow keys resize by 4 pixels a press; a drag in the top rows moves the window."""
    session = Session(wine, "1024x768x24")
    try:
        session.start(["-w"], cwd=options.data)
        window = session.window(WINDOWED_TITLE)
        wait_for_picture(session, reference(options, "warning.jpg"))
        session.xdotool("key", "--delay", "80", *(["Right"] * 10), *(["Down"] * 5))
        wait_until(lambda: session.geometry(window)["width"] == 680 and
                   session.geometry(window)["height"] == 500, 10, "the window at 680x500")
        g = session.geometry(window)
        check((g["x"], g["y"]) == (0, 0), "resizing moved the window: %s" % g)
        # The frame is stretched over the new size: the added columns show it.
        time.sleep(0.5)
        shot = session.screenshot()
        check(any(crop(shot, 660, 100, 20, 300)), "the frame is not stretched to 680 wide")
        session.xdotool("key", "--delay", "80", "Left", "Left", "Up")
        wait_until(lambda: session.geometry(window)["width"] == 672 and
                   session.geometry(window)["height"] == 496, 10, "the window at 672x496")

        # Press at (100, 50), first move records the grab point, the next moves.
        session.xdotool("mousemove", "--sync", "100", "50")
        time.sleep(0.3)
        session.xdotool("mousedown", "1")
        time.sleep(0.3)
        session.xdotool("mousemove", "110", "55")
        time.sleep(0.3)
        session.xdotool("mousemove", "150", "85")
        time.sleep(0.3)
        session.xdotool("mouseup", "1")
        wait_until(lambda: (session.geometry(window)["x"], session.geometry(window)["y"]) ==
                   (40, 30), 10, "the window moved to 40,30")
        g = session.geometry(window)
        check((g["width"], g["height"]) == (672, 496), "the drag changed the size: %s" % g)
        # After the release, moving the pointer moves nothing.
        session.xdotool("mousemove", "300", "300")
        time.sleep(0.5)
        g = session.geometry(window)
        check((g["x"], g["y"]) == (40, 30), "the window moved after the release: %s" % g)
        quit_with_escape(session)
    finally:
        session.close()


def case_missing_picture(options, wine):
    """A missing picture, then one that is a folder: its message box (caption =
    file name), then status 1; the folder also gets a line saying what it is."""
    for folder_instead in (False, True):
        folder = tempfile.mkdtemp(prefix="pictures-", dir=os.path.join(wine.work, "tmp"))
        session = Session(wine, "1024x768x24")
        try:
            for name in PICTURES:
                if name != "part2.jpg":
                    shutil.copy(os.path.join(options.data, name), folder)
            if folder_instead:
                os.mkdir(os.path.join(folder, "part2.jpg"))
            session.start(["-w"], cwd=folder)
            session.message_box("part2.jpg")
            check(session.wait_exit() == 1, "status %s, not 1" % session.demo.returncode)
            check("part2.jpg: ERROR LOCATING..." in session.stderr(),
                  "no message on stderr: %s" % session.stderr())
            if folder_instead:
                check("part2.jpg: is a folder, not a regular file" in session.stderr(),
                      "no line saying part2.jpg is a folder: %s" % session.stderr())
        finally:
            session.close()
            shutil.rmtree(folder, ignore_errors=True)


def case_desktop_16_bit(options, wine):
    """Windowed on a 16-bit desktop: "32bpp desktop please ;)", then status 1."""
    session = Session(wine, "1024x768x16")
    try:
        session.start(["-w"], cwd=options.data)
        session.message_box("Error")
        check(session.wait_exit() == 1, "status %s, not 1" % session.demo.returncode)
        check("Error: 32bpp desktop please ;)" in session.stderr(),
              "wrong message: %s" % session.stderr())
    finally:
        session.close()


def case_fullscreen_flips(options, wine):
    """Fullscreen on a 640x480 screen: the flip chain shows warning.jpg, then later scenes."""
    session = Session(wine, "640x480x24")
    try:
        session.start([], cwd=options.data)
        session.window(FULLSCREEN_TITLE)
        warning = reference(options, "warning.jpg")
        wait_for_picture(session, warning)
        credits = reference(options, "credits.jpg")
        # The timeline moves on: the next scene reaches the screen through flips too.
        wait_until(lambda: crop(session.screenshot(), 0, 0, 640, 480) == credits, 20,
                   "credits.jpg on screen")
        quit_with_escape(session)
    finally:
        session.close()


def case_fullscreen_unsupported(options, wine):
    """Fullscreen on a 1024x768 screen, where Wine refuses 640x480: the reporter names it.

    Wine normally refuses the mode with DDERR_UNSUPPORTED. On rare runs (seen
    once, on a busy machine) it answered DDERR_INVALIDPARAMS instead and its
    message box returned at once; either way the reporter must show the real
    code's name as text and caption and end with status 1.
    """
    session = Session(wine, "1024x768x24")
    box = re.compile(r'^\s*(0x[0-9a-f]+) "(DDERR_[A-Z]+ )":', re.M)
    try:
        session.start([], cwd=options.data)

        def reported():
            if not session.alive():
                return "ended"
            match = box.search(session.run_x(["xwininfo", "-root", "-tree"]))
            return match.groups() if match else None
        found = wait_until(reported, 30, "a DirectDraw error box")
        if found != "ended":
            time.sleep(0.3)
            session.xdotool("key", "--window", found[0], "Return")
        check(session.wait_exit() == 1, "status %s, not 1" % session.demo.returncode)
        line = re.search(r"^(DDERR_[A-Z]+) : (DDERR_[A-Z]+) ?\r?$", session.stderr(), re.M)
        check(line is not None and line.group(1) == line.group(2),
              "wrong message: %s" % session.stderr())
        if line.group(1) != "DDERR_UNSUPPORTED":
            print("note: Wine refused the mode with %s this time" % line.group(1), flush=True)
    finally:
        session.close()


def case_no_sound_device(options, wine):
    """No sound server at all: status 1 with a reason, before any frame."""
    session = Session(wine, "1024x768x24")
    try:
        missing = os.path.join(wine.work, "run", "no-such-server.sock")
        session.start(["-w"], cwd=options.data, env={"PULSE_SERVER": "unix:" + missing})
        check(session.wait_exit(timeout=30) == 1, "status %s, not 1" % session.demo.returncode)
        check("cannot open the sound device" in session.stderr(),
              "no reason given: %s" % session.stderr())
    finally:
        session.close()


def case_renderer_matches_linux(options, wine):
    """The Windows renderer's WAV, log and frames against the Linux renderer's."""
    if not options.render or not options.linux_render:
        return "needs --render and --linux-render"
    out = tempfile.mkdtemp(prefix="render-", dir=os.path.join(wine.work, "tmp"))
    try:
        common = ["--pictures", options.data, "--seconds", str(options.render_seconds),
                  "--every", "60"]
        linux = [options.linux_render, *common, "--wav", os.path.join(out, "linux.wav"),
                 "--log", os.path.join(out, "linux.log"), "--frames",
                 os.path.join(out, "linux")]
        subprocess.run(linux, check=True, timeout=600, stderr=subprocess.DEVNULL)
        windows = ["wine", options.render, *common, "--wav", os.path.join(out, "win.wav"),
                   "--log", os.path.join(out, "win.log"), "--frames", os.path.join(out, "win")]
        subprocess.run(windows, env=dict(wine.env, DISPLAY=""), check=True, timeout=900,
                       stderr=subprocess.DEVNULL)
        report = compare_renders(out)
        for line in report["lines"]:
            log("  " + line)
        # The schedule, the pictures and the scene arithmetic are the same code:
        # the log and the frames must agree exactly. Samples may differ where
        # the two C runtimes' sin, pow and tanh round differently.
        check(report["log_lines_differ"] == 0, "the frame logs differ")
        check(report["frames_differ"] == 0, "rendered frames differ")
        check(report["samples"] > 0, "no audio rendered")
    finally:
        shutil.rmtree(out, ignore_errors=True)


def compare_renders(out):
    def samples(name):
        with open(os.path.join(out, name), "rb") as f:
            data = f.read()
        return array.array("h", data[44:])
    linux, win = samples("linux.wav"), samples("win.wav")
    lines = []
    differ = [i for i in range(min(len(linux), len(win))) if linux[i] != win[i]]
    lines.append("WAV: %d samples (%d vs %d), %d differ" % (len(linux), len(linux), len(win),
                                                           len(differ)))
    if differ:
        largest = max(abs(linux[i] - win[i]) for i in differ)
        lines.append("  first difference at sample %d (%.3f s), largest %d"
                     % (differ[0], differ[0] / 2 / 22050, largest))
    with open(os.path.join(out, "linux.log")) as f:
        log_linux = f.read().splitlines()
    with open(os.path.join(out, "win.log")) as f:
        log_win = f.read().splitlines()
    log_differ = sum(1 for a, b in zip(log_linux, log_win) if a != b) + \
        abs(len(log_linux) - len(log_win))
    lines.append("log: %d lines, %d differ" % (len(log_linux), log_differ))
    names = sorted(os.listdir(os.path.join(out, "linux")))
    frames_differ = 0
    for name in names:
        with open(os.path.join(out, "linux", name), "rb") as a, \
                open(os.path.join(out, "win", name), "rb") as b:
            frames_differ += a.read() != b.read()
    lines.append("frames: %d compared (every 60th), %d differ" % (len(names), frames_differ))
    return {"lines": lines, "samples": len(linux), "log_lines_differ": log_differ,
            "frames_differ": frames_differ}


def case_speed(options, wine):
    """Not a check, and not run unless named: frames per second over 65 s from Wine's fps trace."""
    session = Session(wine, "1024x768x24")
    try:
        time.sleep(2)  # timed against a display that is up and idle
        session.start(["-w"], cwd=options.data, env=dict(WINEDEBUG="+timestamp,fps"))
        session.window(WINDOWED_TITLE)
        time.sleep(options.speed_seconds)
        quit_with_escape(session)
        # Each trace line starts with Wine's clock in seconds; shown from the first one.
        rates = [(float(t), float(r)) for t, r in
                 re.findall(r"^([0-9.]+):.*approx ([0-9.]+)fps", session.stderr(), re.M)]
        log("  fps (seconds since the first trace: rate): " +
            " ".join("%.0f:%.0f" % (t - rates[0][0], r) for t, r in rates))
    finally:
        session.close()


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}
# Measurements, run only when named.
NOT_BY_DEFAULT = {"speed"}


def stand_in_pictures(folder):
    """Pictures of the right sizes when the real ones are not there."""
    os.makedirs(folder, exist_ok=True)
    for index, name in enumerate(PICTURES[:5]):
        subprocess.run(["convert", "-size", "640x480", "-seed", str(index + 1),
                        "plasma:fractal", "-type", "TrueColor", "-quality", "92",
                        os.path.join(folder, name)], check=True, timeout=60)
    subprocess.run(["convert", "-size", "5455x49", "gradient:yellow-purple", "-type",
                    "TrueColor", os.path.join(folder, "greets.jpg")], check=True, timeout=60)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--data")
    parser.add_argument("--render")
    parser.add_argument("--linux-render")
    parser.add_argument("--render-seconds", type=float, default=110)
    parser.add_argument("--speed-seconds", type=float, default=65)
    parser.add_argument("cases", nargs="*")
    options = parser.parse_args()
    unknown = [c for c in options.cases if c not in CASES]
    if unknown:
        parser.error("unknown cases: " + ", ".join(unknown) + "; known: " + ", ".join(CASES))

    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        print("skipped: the Windows tests need %s" % ", ".join(missing))
        return SKIP

    if not options.data or any(not os.path.exists(os.path.join(options.data, name))
                               for name in PICTURES):
        options.data = os.path.join(os.path.abspath(options.work), "stand-in-pictures")
        if not all(os.path.exists(os.path.join(options.data, n)) for n in PICTURES):
            stand_in_pictures(options.data)
        log("the pictures are not all in data/: using stand-ins in " + options.data)
    options.data = os.path.abspath(options.data)
    options.exe = os.path.abspath(options.exe)

    wine = Wine(options.work)
    wine.exe = options.exe
    failed = []
    started = time.monotonic()
    try:
        wine.make_prefix()
        wine.start_pulse()
        for name in options.cases or [c for c in CASES if c not in NOT_BY_DEFAULT]:
            case_started = time.monotonic()
            try:
                skipped = CASES[name](options, wine)
                if skipped:
                    log("SKIP %s: %s" % (name, skipped))
                else:
                    log("PASS %s (%.1f s)" % (name, time.monotonic() - case_started))
            except Failure as failure:
                failed.append(name)
                log("FAIL %s: %s" % (name, failure))
    finally:
        wine.close()
    log("%d failed; Windows tests took %.0f s" % (len(failed), time.monotonic() - started))
    return 1 if failed else 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
