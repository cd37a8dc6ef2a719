"""Shared pytest set-up of the end-to-end tests (tests/e2e, tests/wine,
tests/web): the paths they are given, skipping when a tool is missing, and
fixtures for virtual X servers and a PulseAudio null sink.

Paths come as command-line options or, when an option is not given, from the
environment variable named in its help. Measurements (tests marked measure)
run only with --measure. With --all-skipped-exit N the run ends with status N
when every test was skipped, so CTest and tools/test.sh can tell "skipped"
from "passed".
"""
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
    group.addoption("--speed-seconds", type=float, default=65,
                    help="how long the speed measurements run (default 65)")
    group.addoption("--measure", action="store_true",
                    help="also run the measurements (marked measure), which check nothing")
    group.addoption("--all-skipped-exit", type=int, default=None,
                    help="the exit status when tests ran and every one was skipped")


def pytest_configure(config):
    config.addinivalue_line("markers", "measure: a measurement, not a check; run only with "
                            "--measure")
    # A runner that stops the tests with SIGTERM still gets every process the
    # fixtures started stopped: pytest tears down after an interrupt.
    def interrupt(*_):
        raise KeyboardInterrupt("SIGTERM")
    signal.signal(signal.SIGTERM, interrupt)


def pytest_collection_modifyitems(config, items):
    if config.getoption("measure"):
        return
    kept = [item for item in items if "measure" not in item.keywords]
    dropped = [item for item in items if "measure" in item.keywords]
    if dropped:
        config.hook.pytest_deselected(items=dropped)
        items[:] = kept


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
    """A PulseAudio daemon whose only sink is a null sink named nullsink."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="queltravine-pulse-")
        socket = os.path.join(self.folder, "pulse.sock")
        env = {k: v for k, v in os.environ.items() if not k.startswith(("PULSE", "XDG_"))}
        env.update(HOME=self.folder, XDG_RUNTIME_DIR=self.folder, XDG_CONFIG_HOME=self.folder)
        self.process = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--disable-shm=yes", "-L",
             "module-native-protocol-unix socket=%s auth-anonymous=1" % socket,
             "-L", "module-null-sink sink_name=nullsink rate=44100", "-L", "module-always-sink"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.server = "unix:" + socket
        try:
            wait_until(lambda: os.path.exists(socket) or self.process.poll() is not None, 15,
                       "PulseAudio")
            check(self.process.poll() is None, "PulseAudio did not start")
        except BaseException:
            self.close()
            raise

    def close(self):
        stop_process(self.process)
        shutil.rmtree(self.folder, ignore_errors=True)


@pytest.fixture(scope="session")
def pulse_sink():
    """One PulseAudio null sink for the whole run; PULSE_SERVER=sink.server
    plays into it, `parec -d nullsink.monitor` records what played."""
    require_tools("pulseaudio", "parec", what="the sound tests")
    sink = PulseSink()
    yield sink
    sink.close()
