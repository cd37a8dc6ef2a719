"""Shared pytest set-up of the end-to-end tests (tests/e2e, tests/wine,
tests/web): the paths they are given, skipping when a tool is missing, and
fixtures for virtual X servers and a PulseAudio null sink.

Paths come as command-line options or, when an option is not given, from the
environment variable named in its help (the measurements in bench/measure
take the same options). With --all-skipped-exit N the run ends with status N
when every test was skipped, so CTest and tools/test.sh can tell "skipped"
from "passed".
"""
import array
import os
import shutil
import signal
import subprocess
import tempfile

import pytest

from skips import require_tools
from x11_checks import XServer, check, stop_process, wait_until

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), os.pardir))

# option: (environment variable, help)
PATHS = {
    "player": ("QUELTRAVINE_PLAYER", "the Linux player, queltravine"),
    "dump": ("QUELTRAVINE_PICTURE_DUMP", "the Linux build's tests/picture_dump"),
    "probe": ("QUELTRAVINE_FRAME_PROBE", "the Linux build's tests/libframe_probe.so"),
    "faults": ("QUELTRAVINE_FAULT_INJECTION", "the Linux build's tests/libfault_injection.so"),
    "data": ("QUELTRAVINE_DATA", "the folder of the six pictures (default: data/)"),
    "linux-render": ("QUELTRAVINE_LINUX_RENDER", "the Linux renderer, queltravine-render"),
    "windows-exe": ("QUELTRAVINE_WINDOWS_EXE", "the Windows player, queltravine.exe"),
    "windows-render": ("QUELTRAVINE_WINDOWS_RENDER",
                       "the Windows renderer, queltravine-render.exe"),
    "wine-work": ("QUELTRAVINE_WINE_WORK", "a folder for the Wine prefix, kept between runs "
                  "(default: a temporary folder, removed at the end)"),
    "site": ("QUELTRAVINE_SITE", "the built web site (build-web/site)"),
}


def pytest_addoption(parser):
    group = parser.getgroup("queltravine", "the demo's end-to-end tests")
    for option, (variable, text) in PATHS.items():
        group.addoption("--" + option, help="%s; or %s" % (text, variable))
    group.addoption("--soak-seconds", type=float, default=70,
                    help="how long the soak case runs the player (default 70; 3600 by hand)")
    group.addoption("--render-seconds", type=float, default=110,
                    help="how much of the show the renderers are compared over (default 110)")
    group.addoption("--engines", default="chromium,firefox,webkit",
                    help="the browser engines the browser cases run in, comma-separated "
                    "(default chromium,firefox,webkit; one that is not installed is skipped)")
    group.addoption("--all-skipped-exit", type=int, default=None,
                    help="the exit status when tests ran and every one was skipped")


def pytest_configure(config):
    # A runner that stops the tests with SIGTERM still gets every process the
    # fixtures started stopped: pytest tears down after an interrupt.
    def interrupt(*_):
        raise KeyboardInterrupt("SIGTERM")
    signal.signal(signal.SIGTERM, interrupt)


OUTCOMES = {"passed": 0, "failed": 0, "skipped": 0}


def pytest_runtest_logreport(report):
    outcomes = OUTCOMES
    if report.skipped:
        outcomes["skipped"] += 1
    elif report.failed:
        outcomes["failed"] += 1
    elif report.passed and report.when == "call":
        outcomes["passed"] += 1


def pytest_sessionfinish(session, exitstatus):
    code = session.config.getoption("all_skipped_exit")
    outcomes = OUTCOMES
    if (code is not None and exitstatus == 0 and outcomes["skipped"]
            and not outcomes["passed"] and not outcomes["failed"]):
        session.exitstatus = code


class Options:
    """The paths given to this run, made absolute."""

    def __init__(self, config):
        self.config = config

    def given(self, option):
        """The path given for the option, or None."""
        value = self.config.getoption(option.replace("-", "_"))
        if value is None:
            value = os.environ.get(PATHS[option][0]) or None
        if value is None and option == "data":
            value = os.path.join(ROOT, "data")
        return os.path.abspath(value) if value is not None else None

    def path(self, option):
        """The path given for the option; the test is skipped when there is none,
        and fails when the path does not exist."""
        value = self.given(option)
        if value is None:
            pytest.skip("no --%s given (nor %s)" % (option, PATHS[option][0]))
        check(os.path.exists(value), "--%s: %s does not exist" % (option, value))
        return value

    def number(self, option):
        return self.config.getoption(option.replace("-", "_"))


@pytest.fixture(scope="session")
def options(pytestconfig):
    return Options(pytestconfig)


@pytest.fixture
def x_servers():
    """Starts virtual X servers: x_servers(screen, env=..., numbers=...);
    every one still running is stopped when the test ends."""
    started = []

    def start(screen="1024x768x24", **kwargs):
        require_tools("Xvfb", "xwininfo", "xdotool", "import", what="the X tests")
        server = XServer(screen, **kwargs)
        started.append(server)
        return server
    yield start
    for server in reversed(started):
        server.close()


class PulseSink:
    """A PulseAudio daemon whose only sink is a null sink named nullsink.
    stop() kills the daemon as a crash would; restart() starts a new one on
    the same socket, which clients find again with the same PULSE_SERVER."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="queltravine-pulse-")
        self.socket = os.path.join(self.folder, "pulse.sock")
        self.env = {k: v for k, v in os.environ.items() if not k.startswith(("PULSE", "XDG_"))}
        self.env.update(HOME=self.folder, XDG_RUNTIME_DIR=self.folder,
                        XDG_CONFIG_HOME=self.folder)
        self.server = "unix:" + self.socket
        self.process = None
        try:
            self.start()
        except BaseException:
            self.close()
            raise

    def start(self):
        self.process = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--disable-shm=yes", "-L",
             "module-native-protocol-unix socket=%s auth-anonymous=1" % self.socket,
             "-L", "module-null-sink sink_name=nullsink rate=44100", "-L", "module-always-sink"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: self.answers() or self.process.poll() is not None, 15, "PulseAudio")
        check(self.process.poll() is None, "PulseAudio did not start")

    def answers(self):
        """Whether the daemon takes requests on the socket."""
        if not os.path.exists(self.socket):
            return False
        return subprocess.run(["pactl", "--server", self.server, "info"], env=self.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=10).returncode == 0

    def stop(self):
        """Kills the daemon (SIGKILL: no goodbye to its clients) and removes
        its socket, as a crashed sound server leaves things."""
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if os.path.exists(self.socket):
            os.unlink(self.socket)

    def restart(self):
        self.stop()
        self.start()

    def inputs(self):
        """The streams playing into the sink: `pactl list short sink-inputs`
        lines."""
        listed = subprocess.run(["pactl", "--server", self.server, "list", "short",
                                 "sink-inputs"], env=self.env, capture_output=True, text=True,
                                timeout=10)
        return [line for line in listed.stdout.splitlines() if line.strip()]

    def record(self, seconds):
        """What the sink played for a while, from its monitor: 16-bit stereo
        samples at 44100 Hz."""
        result = subprocess.run(
            ["timeout", str(seconds), "parec", "--server", self.server, "-d",
             "nullsink.monitor", "--raw", "--format=s16le", "--rate=44100", "--channels=2"],
            env=self.env, capture_output=True)
        return array.array("h", result.stdout[:len(result.stdout) // 2 * 2])

    def close(self):
        if self.process is not None:
            stop_process(self.process)
        shutil.rmtree(self.folder, ignore_errors=True)


@pytest.fixture(scope="session")
def pulse_sink():
    """One PulseAudio null sink for the whole run; PULSE_SERVER=sink.server
    plays into it, `parec -d nullsink.monitor` records what played."""
    require_tools("pulseaudio", "pactl", "parec", what="the sound tests")
    sink = PulseSink()
    yield sink
    sink.close()


@pytest.fixture
def private_pulse_sink():
    """A PulseAudio null sink of this test's own, which it may stop and
    restart without disturbing the others."""
    require_tools("pulseaudio", "pactl", "parec", what="the sound tests")
    sink = PulseSink()
    yield sink
    sink.close()
