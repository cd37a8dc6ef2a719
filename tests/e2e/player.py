"""The Linux player on a virtual X server: one run of it, and the helpers
its end-to-end tests share (reference pictures, waiting for a picture on
screen, quitting)."""
import os
import shutil
import subprocess
import tempfile
import time

from demo_names import PICTURES, WINDOWED_TITLE
from x11_checks import Failure, OnXServer, check, crop, parse_ppm, stop_process, wait_until


class Session(OnXServer):
    """One X server (with a window manager when asked for) and at most one
    player; close() stops exactly what was started."""

    def __init__(self, paths, x_servers, screen="1024x768x24", window_manager=False):
        self.paths = paths
        self.tmp = tempfile.mkdtemp(prefix="queltravine-e2e-")
        self.player = None
        self.stderr_file = None
        self.stderr_path = os.path.join(self.tmp, "stderr.txt")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("SDL_") and k not in ("WAYLAND_DISPLAY", "LD_PRELOAD")}
        env.update(SDL_AUDIODRIVER="dummy", HOME=self.tmp,
                   XDG_CONFIG_HOME=os.path.join(self.tmp, "config"),
                   XDG_CACHE_HOME=os.path.join(self.tmp, "cache"))
        self.x = x_servers(screen, env=env)
        self.env = self.x.env
        if window_manager:
            check(shutil.which("openbox"), "openbox is not installed")
            self.x.start_window_manager(self.tmp)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def start_player(self, args=(), cwd=None, env=None, preload=None):
        run_env = dict(self.env)
        run_env.update(env or {})
        if preload:
            run_env["LD_PRELOAD"] = preload
        if cwd is None:
            cwd = self.paths.data
        self.stderr_file = open(self.stderr_path, "w")
        self.started_at = time.monotonic()
        self.player = subprocess.Popen([self.paths.player, *args], cwd=cwd, env=run_env,
                                       stdout=subprocess.DEVNULL, stderr=self.stderr_file)
        return self.player

    def stderr(self):
        if self.stderr_file is None:
            return ""
        self.stderr_file.flush()
        with open(self.stderr_path) as f:
            return f.read()

    def alive(self):
        return self.player.poll() is None

    def wait_exit(self, timeout=10):
        try:
            return self.player.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the player did not end within %s s" % timeout)

    def window(self, title, timeout=15):
        def find():
            check(self.alive(), "the player ended early (status %s): %s"
                  % (self.player.returncode, self.stderr()))
            return self.x.find_window(title)
        return wait_until(find, timeout, "window " + title, 0.1)

    def message_box(self, caption, timeout=15):
        """Waits for the box captioned so, dismisses it with Return."""
        def find():
            check(self.alive(), "the player ended without its message box (status %s): %s"
                  % (self.player.returncode, self.stderr()))
            return self.x.find_window(caption)
        box = wait_until(find, timeout, "message box " + caption, 0.1)
        self.xdotool("key", "--window", box, "Return")

    def close(self):
        if self.player is not None:
            stop_process(self.player, children=True)
        if self.stderr_file is not None:
            self.stderr_file.close()
        self.x.close()
        shutil.rmtree(self.tmp, ignore_errors=True)


def reference(paths, name, width=640, height=480):
    """The picture as the project's own loader decodes and scales it."""
    data = subprocess.run([paths.dump, os.path.join(paths.data, name), str(width),
                           str(height)], capture_output=True, check=True, timeout=30).stdout
    return parse_ppm(data)


def wait_for_picture(session, picture, x=0, y=0, timeout=15):
    """Polls the screen until the 640x480 area at x, y shows the picture exactly."""
    expected = picture[2]

    def shown():
        check(session.alive(), "the player ended early (status %s): %s"
              % (session.player.returncode, session.stderr()))
        return crop(session.screenshot(), x, y, 640, 480) == expected
    wait_until(shown, timeout, "the picture on screen", 0.1)


DEVICE_BYTES_PER_SECOND = 44100 * 4  # 16-bit stereo at 44100 Hz


def wait_for_audio(session, path, seconds, after=0, timeout=30):
    """Waits until the file (SDL's disk driver's, or the probe's record of
    the callback) holds `seconds` of device audio more than `after` bytes;
    returns its size."""
    wanted = after + int(seconds * DEVICE_BYTES_PER_SECOND)

    def grown():
        check(session.alive(), "the player ended early (status %s): %s"
              % (session.player.returncode, session.stderr()))
        size = os.path.getsize(path) if os.path.exists(path) else 0
        return size if size >= wanted else None
    return wait_until(grown, timeout, "%g s of audio in %s" % (seconds, os.path.basename(path)),
                      0.05)


def ready_windowed(session, args=("-w",), **kw):
    session.start_player(args, **kw)
    wait_for_picture(session, reference(session.paths, "warning.jpg"))
    # Looked up once frames show: an OpenGL renderer replaces the first X window.
    return session.window(WINDOWED_TITLE)


def quit_with_escape(session):
    session.xdotool("key", "Escape")
    check(session.wait_exit() == 0, "Escape did not end with status 0")


def copy_pictures(session, leave_out=()):
    folder = os.path.join(session.tmp, "pictures")
    os.mkdir(folder)
    for name in PICTURES:
        if name not in leave_out:
            shutil.copy(os.path.join(session.paths.data, name), folder)
    return folder
