"""The Linux player's speed on a virtual X server: what the frame probe
(tests/e2e/frame_probe.cpp, preloaded) saw per scene, and the resident memory.
Prints what it saw and checks nothing.

    pytest-3 bench/measure/measure_player.py --player build-test/queltravine \
        --probe build-test/tests/libframe_probe.so --dump build-test/tests/picture_dump
"""
import re
import time

import pytest

from suites import conftest

globals().update(conftest("e2e"))

from demo_names import WINDOWED_TITLE  # noqa: E402
from players import quit_with_escape  # noqa: E402


@pytest.mark.parametrize("renderer", [None, "opengl"], ids=["default", "opengl"])
def measure_speed(player_session, options, renderer):
    """Not a check: runs the player for a while and reports what the probe saw.
    The default window draws through SDL's software renderer; OpenGL for
    comparison."""
    probe = options.path("probe")
    session = player_session()
    env = dict(SDL_RENDER_DRIVER=renderer) if renderer else {}
    # Timed against a display that is up and idle, as a desktop is, not one
    # still starting: a first client makes the server load its keymap, and
    # nothing polls the server while the player starts.
    session.run_x(["xprop", "-root"])
    time.sleep(2)  # a measurement: the server idles before it starts
    session.start(["-w"], env=env, preload=probe)
    time.sleep(1)  # no polling of the server during the start; window() then waits
    session.window(WINDOWED_TITLE)
    time.sleep(options.number("speed-seconds"))  # the time is what is measured
    with open("/proc/%d/status" % session.process.pid) as f:
        rss = re.search(r"VmRSS:\s+(\d+) kB", f.read()).group(1)
    quit_with_escape(session)
    probe_lines = [line for line in session.stderr().splitlines() if line.startswith("probe:")]
    print("renderer %s: resident %s kB; %s" % (renderer or "default", rss, probe_lines))
