"""One run of a player on its own virtual X server, and the helpers the
Linux suite (tests/e2e/player.py) and the Windows suite under Wine
(tests/wine/windows_demo.py) share. Each platform's session says only how
its program is launched, how long it is given, and how a box is dismissed."""
import os
import shutil
import subprocess

from demo_names import PICTURES
from x11_checks import Failure, check, crop, stop_process, wait_until


class PlayerSession:
    """An X server and at most one run of the program at a time, with a
    folder of its own (tmp); close() stops exactly what was started and
    removes the folder. A platform supplies command(args), the command line
    that runs its program, dismiss(box), and reference(name), a picture as
    the program must show it."""

    platform = None  # "linux" or "windows": the row of a shared case's table
    name = None  # the program, in failure messages
    # Seconds to wait, by default, for the end, a window and a picture, and
    # how often a window and a picture are looked for.
    exit_timeout = window_timeout = picture_timeout = None
    window_poll = picture_poll = None
    stop_children = False  # whether close() also kills what the program forked

    def __init__(self, data, tmp, start_x):
        """data: the pictures, the default working folder; start_x(): the X
        server, started once tmp exists (tmp is removed again if it fails)."""
        self.data = data
        self.tmp = tmp
        self.process = None
        self.stderr_file = None
        self.stderr_path = os.path.join(tmp, "stderr.txt")
        try:
            self.x = start_x()
        except BaseException:
            shutil.rmtree(tmp, ignore_errors=True)
            raise
        self.env = self.x.env

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def start(self, args=(), cwd=None, env=None):
        """Runs the program in cwd (the pictures' folder by default) with the
        session's environment plus env, its standard error to a file."""
        self.started_with = (list(args), cwd or self.data, dict(self.env, **(env or {})))
        return self.launch()

    def launch(self):
        """Starts the program as start() was asked to, with a new stderr file."""
        args, cwd, env = self.started_with
        if self.stderr_file is not None:
            self.stderr_file.close()
        self.stderr_file = open(self.stderr_path, "w")
        self.process = subprocess.Popen(self.command(args), cwd=cwd, env=env,
                                        stdout=subprocess.DEVNULL, stderr=self.stderr_file)
        return self.process

    def relaunched(self):
        """Whether a start that failed before any of the program ran was just
        made again; a platform whose starts can fail so says when."""
        return False

    def alive(self):
        return self.process.poll() is None

    def check_alive(self, ended="ended early"):
        check(self.alive(), "%s %s (status %s): %s"
              % (self.name, ended, self.process.returncode, self.stderr()))

    def stderr(self):
        if self.stderr_file is None:
            return ""
        self.stderr_file.flush()
        with open(self.stderr_path, errors="replace") as f:
            return f.read()

    def wait_exit(self, timeout=None):
        timeout = timeout or self.exit_timeout
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("%s did not end within %s s" % (self.name, timeout))

    def window(self, title, timeout=None, what="window"):
        """The id of the top-level window with this title, once it is there."""
        def find():
            if self.relaunched():
                return None
            self.check_alive("ended without its " + what)
            return self.x.find_window(title)
        return wait_until(find, timeout or self.window_timeout, "%s %s" % (what, title),
                          self.window_poll)

    def message_box(self, caption, timeout=None):
        """Waits for the box captioned so and dismisses it with Return."""
        self.dismiss(self.window(caption, timeout, "message box"))

    def run_x(self, command):
        return self.x.run_x(command)

    def geometry(self, window_id):
        return self.x.geometry(window_id)

    def screenshot(self):
        return self.x.screenshot()

    def xdotool(self, *args):
        self.x.xdotool(*args)

    def close(self):
        if self.process is not None:
            stop_process(self.process, children=self.stop_children)
        if self.stderr_file is not None:
            self.stderr_file.close()
        self.x.close()
        shutil.rmtree(self.tmp, ignore_errors=True)


def opened(make):
    """For a fixture: yields a function that makes a session with make(...)
    (usable with `with`), and closes every one still open when the test ends."""
    sessions = []

    def start(*args, **kwargs):
        session = make(*args, **kwargs)
        sessions.append(session)
        return session
    yield start
    for session in reversed(sessions):
        session.close()


def wait_for_picture(session, picture, x=0, y=0, timeout=None):
    """Polls the screen until the 640x480 area at x, y shows the picture (a
    parsed image, as session.reference gives) pixel for pixel."""
    def shown():
        session.check_alive()
        return crop(session.screenshot(), x, y, 640, 480) == picture[2]
    wait_until(shown, timeout or session.picture_timeout,
               "the picture on screen, pixel for pixel", session.picture_poll)


def quit_with_escape(session):
    session.xdotool("key", "Escape")
    check(session.wait_exit() == 0, "Escape did not end with status 0 (%s)" % session.stderr())


def copy_pictures(session, leave_out=()):
    """A folder of the session's with the pictures but those left out."""
    folder = os.path.join(session.tmp, "pictures")
    os.mkdir(folder)
    for name in PICTURES:
        if name not in leave_out:
            shutil.copy(os.path.join(session.data, name), folder)
    return folder
