"""The Windows build under Wine on a virtual X server: the shared prefix, one
run of the demo, and the helpers its tests share."""
import array
import fcntl
import os
import shutil
import subprocess
import tempfile

from demo_names import PICTURES
from x11_checks import Failure, OnXServer, check, crop, parse_ppm, stop_process, wait_until

# Each run gets its own Xvfb on the first free one of these displays.
DISPLAYS = range(70, 80)
TOOLS = ["wine", "wineserver", "wineboot", "Xvfb", "xdotool", "xwininfo", "import", "convert",
         "djpeg", "pulseaudio", "parec"]


class Wine:
    """The prefix (made once, kept in the work folder) and the environment
    every Wine command gets."""

    def __init__(self, work, exe, pulse_server):
        self.work = os.path.abspath(work)
        self.exe = exe
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
            XDG_RUNTIME_DIR=os.path.join(self.work, "run"),
            PULSE_SERVER=pulse_server)

    def make_prefix(self):
        """Makes the prefix once; later runs reuse it (about 15 s saved)."""
        marker = os.path.join(self.env["WINEPREFIX"], ".queltravine-ready")
        with open(os.path.join(self.work, "prefix.lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if os.path.exists(marker):
                return
            print("making the Wine prefix in " + self.env["WINEPREFIX"], flush=True)
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

    def kill_wine(self):
        """Ends every process of the prefix, by the prefix's own server."""
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Session(OnXServer):
    """One X server and at most one run of the demo."""

    def __init__(self, wine, x_servers, screen):
        self.wine = wine
        self.demo = None
        self.stderr_file = None
        self.started_with = None
        self.restarted = True
        self.stderr_path = os.path.join(wine.work, "tmp", "demo-stderr.txt")
        self.x = x_servers(screen, env=wine.env, numbers=DISPLAYS)
        self.env = self.x.env

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    # Now and then Wine's loader cannot start a process at all (an address
    # clash: "failed to map the shared user data"), before any of the demo
    # runs. Such a start is made again, once.
    LOADER_FAILURE = "failed to map the shared user data"

    def start(self, args=(), cwd=None, env=None):
        run_env = dict(self.env)
        run_env.update(env or {})
        self.started_with = (args, cwd, env)
        self.restarted = False
        self._launch(args, cwd, run_env)

    def _launch(self, args, cwd, run_env):
        if self.stderr_file is not None:
            self.stderr_file.close()
        self.stderr_file = open(self.stderr_path, "w")
        self.demo = subprocess.Popen(["wine", self.wine.exe, *args], cwd=cwd, env=run_env,
                                     stdout=subprocess.DEVNULL, stderr=self.stderr_file)

    def _restart_after_loader_failure(self):
        if self.restarted or self.alive() or self.LOADER_FAILURE not in self.stderr():
            return False
        print("Wine's loader failed to start the demo; starting it again")
        self.restarted = True
        args, cwd, env = self.started_with
        run_env = dict(self.env)
        run_env.update(env or {})
        self._launch(args, cwd, run_env)
        return True

    def alive(self):
        return self.demo.poll() is None

    def stderr(self):
        if self.stderr_file is None:
            return ""
        self.stderr_file.flush()
        with open(self.stderr_path, errors="replace") as f:
            return f.read().strip()

    def wait_exit(self, timeout=20):
        try:
            return self.demo.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the demo did not end within %d s" % timeout)

    def window(self, title, timeout=30):
        def find():
            if self._restart_after_loader_failure():
                return None
            check(self.alive(), "the demo ended early (status %s): %s"
                  % (self.demo.returncode, self.stderr()))
            return self.x.find_window(title)
        return wait_until(find, timeout, "window " + title)

    def message_box(self, caption, timeout=30):
        """Waits for the box captioned so and dismisses it with Return."""
        self.dismiss(self.window(caption, timeout))

    def dismiss(self, box, timeout=30):
        """Presses Return on the box, while it is shown, until it is gone or
        the demo has ended: a box just shown may not take keys yet."""
        def gone():
            info = self.run_x(["xwininfo", "-id", box])
            if not self.alive() or "Map State" not in info:
                return True
            if "IsViewable" in info:
                # Not self.xdotool: the box may go between the two commands.
                self.run_x(["xdotool", "key", "--window", box, "Return"])
            return False
        wait_until(gone, timeout, "the box %s to go after Return" % box, 0.5)

    def close(self):
        self.wine.kill_wine()
        if self.demo is not None:
            stop_process(self.demo)
        if self.stderr_file is not None:
            self.stderr_file.close()
        self.x.close()


def reference(data, name):
    """The picture as libjpeg decodes it, which the demo must show unchanged."""
    result = subprocess.run(["djpeg", "-ppm", os.path.join(data, name)],
                            capture_output=True, check=True, timeout=30).stdout
    return parse_ppm(result)[2]


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


def stand_in_pictures(folder):
    """Pictures of the right sizes when the real ones are not there."""
    os.makedirs(folder, exist_ok=True)
    for index, name in enumerate(PICTURES[:5]):
        subprocess.run(["convert", "-size", "640x480", "-seed", str(index + 1),
                        "plasma:fractal", "-type", "TrueColor", "-quality", "92",
                        os.path.join(folder, name)], check=True, timeout=60)
    # The last is the greetings strip.
    subprocess.run(["convert", "-size", "5455x49", "gradient:yellow-purple", "-type",
                    "TrueColor", os.path.join(folder, PICTURES[5])], check=True, timeout=60)


def temporary_folder(wine, prefix):
    return tempfile.mkdtemp(prefix=prefix, dir=os.path.join(wine.work, "tmp"))
