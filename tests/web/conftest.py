"""Fixtures of the browser tests: the paths they need (skipped, saying why,
when Chromium or another tool is missing), copies of the built site served
by a static server on 127.0.0.1, and Chromium driven over DevTools."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import types

import pytest

from skips import require_tools
from x11_checks import check, stop_process


@pytest.fixture(scope="session")
def web_paths(options):
    """The built site, the native renderer and the pictures."""
    require_tools("chromium", "convert", "djpeg", what="the browser tests")
    paths = types.SimpleNamespace(site=options.path("site"),
                                  render=options.path("linux-render"),
                                  data=options.path("data"))
    check(os.path.exists(os.path.join(paths.site, "index.html")),
          "no index.html in the site " + paths.site)
    return paths


class Site:
    """A copy of the site (less the files left out, plus the extra files:
    {name in the site: path}) served by Python's static server on a free
    port of 127.0.0.1."""

    def __init__(self, site, leave_out=(), extra=None):
        self.server = None
        self.folder = tempfile.mkdtemp(prefix="queltravine-web-")
        try:
            for name in os.listdir(site):
                if name not in leave_out:
                    shutil.copy(os.path.join(site, name), self.folder)
            shutil.copy(os.path.join(os.path.dirname(__file__), "worklet_check.html"),
                        self.folder)
            for name, path in (extra or {}).items():
                shutil.copy(path, os.path.join(self.folder, name))
            self.server = subprocess.Popen(
                [sys.executable, "-u", "-m", "http.server", "--bind", "127.0.0.1", "0"],
                cwd=self.folder, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            line = self.server.stdout.readline()
            match = re.search(r"port (\d+)", line)
            check(match, "the static server did not start: " + line)
            self.url = "http://127.0.0.1:%s/" % match.group(1)
        except BaseException:
            self.close()
            raise

    def close(self):
        if self.server is not None:
            stop_process(self.server)
            self.server.stdout.close()
            self.server = None
        shutil.rmtree(self.folder, ignore_errors=True)


@pytest.fixture
def serve_site(web_paths):
    """serve_site(leave_out=(), extra=None): a served copy of the site;
    stopped and removed when the test ends."""
    sites = []

    def start(leave_out=(), extra=None):
        site = Site(web_paths.site, leave_out, extra)
        sites.append(site)
        return site
    yield start
    for site in sites:
        site.close()


@pytest.fixture
def browser(web_paths):
    """Headless Chromium driven over its DevTools protocol, for real-time cases."""
    try:
        import devtools
    except ModuleNotFoundError as missing:
        if missing.name != "websocket":
            raise
        pytest.skip("the real-time browser tests need python3-websocket, not installed")
    started = devtools.Browser()
    yield started
    started.close()


def pytest_generate_tests(metafunc):
    """Cases that take `engine` run once in each engine of --engines."""
    if "engine" in metafunc.fixturenames:
        import engines
        chosen = [name.strip() for name in metafunc.config.getoption("engines").split(",")
                  if name.strip()]
        unknown = [name for name in chosen if name not in engines.ENGINES]
        if unknown:
            raise pytest.UsageError("--engines: no engine %s (there are %s)"
                                    % (", ".join(unknown), ", ".join(engines.ENGINES)))
        metafunc.parametrize("engine", chosen, indirect=True)


@pytest.fixture
def engine(request, web_paths, pulse_sink):
    """One of the three browser engines (engines.py), started for this case
    with the PulseAudio null sink as its sound device; skipped, saying why,
    when it is not installed."""
    import engines
    why = engines.missing(request.param)
    if why:
        pytest.skip(why)
    started = engines.start(request.param, dict(os.environ, PULSE_SERVER=pulse_sink.server))
    yield started
    started.close()
