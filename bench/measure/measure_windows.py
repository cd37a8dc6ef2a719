"""The Windows build's speed under Wine: frames per second from Wine's fps
trace, in the window and through the fullscreen flip chain. Prints what it
saw and checks nothing.

    pytest-3 bench/measure/measure_windows.py \
        --windows-exe build-windows/queltravine.exe --data data
"""
import re
import time

import pytest

from suites import conftest

globals().update(conftest("wine"))

from demo_names import FULLSCREEN_TITLE, WINDOWED_TITLE  # noqa: E402
from players import quit_with_escape  # noqa: E402


@pytest.mark.parametrize("mode", ["window", "fullscreen"])
def measure_speed(player_session, options, mode):
    """Not a check: frames per second from Wine's fps trace, in the window
    and through the fullscreen flip chain (on a screen with the 640x480 mode)."""
    window = mode == "window"
    session = player_session("1024x768x24" if window else "640x480x24")
    time.sleep(2)  # a measurement: timed against a display that is up and idle
    session.start(["-w"] if window else [], env=dict(WINEDEBUG="+timestamp,fps"))
    session.window(WINDOWED_TITLE if window else FULLSCREEN_TITLE)
    time.sleep(options.number("speed-seconds"))  # the time is what is measured
    quit_with_escape(session)
    # Each trace line starts with Wine's clock in seconds; shown from the first one.
    rates = [(float(t), float(r)) for t, r in
             re.findall(r"^([0-9.]+):.*approx ([0-9.]+)fps", session.stderr(), re.M)]
    print("fps (seconds since the first trace: rate): " +
          " ".join("%.0f:%.0f" % (t - rates[0][0], r) for t, r in rates))
