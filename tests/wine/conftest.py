"""Fixtures of the Windows build's tests under Wine: the shared prefix and
sound card (skipped, saying why, when Wine or another tool is missing), the
pictures, and runs of the demo on virtual X servers."""
import functools
import os
import shutil
import tempfile

import pytest

from players import opened
from skips import missing_pictures, require_tools
from windows_demo import TOOLS, Session, Wine, stand_in_pictures


@pytest.fixture(scope="session")
def wine(options, pulse_sink):
    """The Wine prefix, made once in --wine-work (or a temporary folder), with
    the PulseAudio null sink as its sound card. At the end the prefix's
    processes are ended by its own wineserver."""
    require_tools(*TOOLS, what="the Windows tests")
    exe = options.path("windows-exe")
    work = options.given("wine-work")
    temporary = None
    if work is None:
        temporary = work = tempfile.mkdtemp(prefix="queltravine-wine-")
    prepared = Wine(work, exe, pulse_sink.server)
    try:
        prepared.make_prefix()
        yield prepared
    finally:
        prepared.kill_wine()
        if temporary is not None:
            shutil.rmtree(temporary, ignore_errors=True)


@pytest.fixture(scope="session")
def wine_data(options, wine):
    """The pictures; stand-ins of the right sizes when they are not all in --data."""
    data = options.given("data")
    if not data or missing_pictures(data):
        data = os.path.join(wine.work, "stand-in-pictures")
        if missing_pictures(data):
            stand_in_pictures(data)
        print("the pictures are not all in data/: using stand-ins in " + data)
    return data


@pytest.fixture
def player_session(wine, wine_data, x_servers):
    """player_session(screen): a new X server for one run of the demo, usable
    with `with`; any still open at the end of the test are closed."""
    yield from opened(functools.partial(Session, wine, x_servers, wine_data))
