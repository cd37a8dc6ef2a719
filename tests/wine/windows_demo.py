"""The Windows build under Wine on a virtual X server: the shared prefix, one
run of the demo, and the helpers only its tests use."""
import fcntl
import os
import shutil
import subprocess
import tempfile

from demo_names import PICTURES
from players import PlayerSession
from x11_checks import parse_ppm, wait_until

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


class Session(PlayerSession):
    """The demo under Wine, on an X server of one of DISPLAYS."""

    platform, name = "windows", "the demo"
    exit_timeout, window_timeout, picture_timeout = 20, 30, 20
    window_poll, picture_poll = 0.05, 0.2

    # Now and then Wine's loader cannot start a process at all (an address
    # clash: "failed to map the shared user data"), before any of the demo
    # runs. Such a start is made again, once.
    LOADER_FAILURE = "failed to map the shared user data"

    def __init__(self, wine, x_servers, data, screen="1024x768x24"):
        self.wine = wine
        self.restarted = True
        super().__init__(data, tempfile.mkdtemp(prefix="run-", dir=os.path.join(wine.work, "tmp")),
                         lambda: x_servers(screen, env=wine.env, numbers=DISPLAYS))

    def command(self, args):
        return ["wine", self.wine.exe, *args]

    def start(self, args=(), cwd=None, env=None):
        self.restarted = False
        return super().start(args, cwd, env)

    def relaunched(self):
        if self.restarted or self.alive() or self.LOADER_FAILURE not in self.stderr():
            return False
        print("Wine's loader failed to start the demo; starting it again")
        self.restarted = True
        self.launch()
        return True

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

    def reference(self, name):
        """The picture as libjpeg decodes it, which the demo must show unchanged."""
        result = subprocess.run(["djpeg", "-ppm", os.path.join(self.data, name)],
                                capture_output=True, check=True, timeout=30).stdout
        return parse_ppm(result)

    def close(self):
        self.wine.kill_wine()
        super().close()


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
