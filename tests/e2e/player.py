"""The Linux player on a virtual X server: one run of it, and the helpers
only its end-to-end tests use (the device's audio, the windowed start)."""
import os
import shutil
import subprocess
import tempfile

from demo_names import WINDOWED_TITLE
from players import PlayerSession, wait_for_picture
from x11_checks import check, parse_ppm, wait_until


class Session(PlayerSession):
    """The player run with SDL's dummy sound driver unless asked otherwise,
    on an X server with a window manager when asked for."""

    platform, name = "linux", "the player"
    exit_timeout, window_timeout, picture_timeout = 10, 15, 15
    window_poll = picture_poll = 0.1
    stop_children = True  # a message-box helper

    def __init__(self, paths, x_servers, screen="1024x768x24", window_manager=False):
        self.paths = paths
        tmp = tempfile.mkdtemp(prefix="queltravine-e2e-")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("SDL_") and k not in ("WAYLAND_DISPLAY", "LD_PRELOAD")}
        env.update(SDL_AUDIODRIVER="dummy", HOME=tmp,
                   XDG_CONFIG_HOME=os.path.join(tmp, "config"),
                   XDG_CACHE_HOME=os.path.join(tmp, "cache"))

        def start_x():
            x = x_servers(screen, env=env)
            if window_manager:
                check(shutil.which("openbox"), "openbox is not installed")
                x.start_window_manager(tmp)
            return x
        super().__init__(paths.data, tmp, start_x)

    def command(self, args):
        return [self.paths.player, *args]

    def start(self, args=(), cwd=None, env=None, preload=None):
        """As PlayerSession.start; preload: a library for LD_PRELOAD."""
        if preload:
            env = dict(env or {}, LD_PRELOAD=preload)
        return super().start(args, cwd, env)

    def dismiss(self, box):
        self.xdotool("key", "--window", box, "Return")

    def reference(self, name):
        """The picture as the project's own loader decodes it, at 640x480."""
        data = subprocess.run([self.paths.dump, os.path.join(self.data, name), "640", "480"],
                              capture_output=True, check=True, timeout=30).stdout
        return parse_ppm(data)


DEVICE_BYTES_PER_SECOND = 44100 * 4  # 16-bit stereo at 44100 Hz


def wait_for_audio(session, path, seconds, after=0, timeout=30):
    """Waits until the file (SDL's disk driver's, or the probe's record of
    the callback) holds `seconds` of device audio more than `after` bytes;
    returns its size."""
    wanted = after + int(seconds * DEVICE_BYTES_PER_SECOND)

    def grown():
        session.check_alive()
        size = os.path.getsize(path) if os.path.exists(path) else 0
        return size if size >= wanted else None
    return wait_until(grown, timeout, "%g s of audio in %s" % (seconds, os.path.basename(path)),
                      0.05)


def ready_windowed(session, args=("-w",), **kw):
    session.start(args, **kw)
    wait_for_picture(session, session.reference("warning.jpg"))
    # Looked up once frames show: an OpenGL renderer replaces the first X window.
    return session.window(WINDOWED_TITLE)
