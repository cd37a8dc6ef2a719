"""How fast the player presents, counted from outside by the frame probe:
fullscreen once per display refresh (Xvfb reports none, so 60 Hz) whatever
renderer SDL picks; the window as fast as frames come, unless asked to pace."""
import re
import signal
import time

import pytest

from x11_checks import check

RUN_SECONDS = 7  # the time is what is measured: frames in each whole second


def presents_by_second(session, args, env):
    session.start(args, env=env, preload=session.paths.probe)
    time.sleep(RUN_SECONDS)  # the time is what is measured
    check(session.alive(), "the player ended: " + session.stderr())
    session.process.send_signal(signal.SIGTERM)
    check(session.wait_exit() == 0, "SIGTERM did not end with status 0")
    line = re.search(r"probe: first-frame-ms \S+ frames \d+ fps-by-second(.*)", session.stderr())
    check(line, "the probe reported no frames: " + session.stderr())
    # The first second holds the start (the window mapping, the first textures).
    seconds = [int(v) for v in line.group(1).split()][1:]
    check(len(seconds) >= 3, "only %d whole seconds of frames: %s" % (len(seconds), seconds))
    print("%s %s: presents by second %s" % (" ".join(args) or "fullscreen", env, seconds))
    return seconds


@pytest.mark.parametrize("env", [{}, {"SDL_RENDER_DRIVER": "software"},
                                 {"SDL_VIDEODRIVER": "dummy"}],
                         ids=["sdl_choice", "software", "dummy"])
def test_fullscreen_is_paced(player_session, env):
    session = player_session("1024x768x24")
    seconds = presents_by_second(session, [], env)
    # Unpaced, these drivers present hundreds to thousands of frames a
    # second here. A busy machine may make a second slower, never faster.
    check(max(seconds) <= 65, "more than one present per refresh: %s" % seconds)
    check(sorted(seconds)[len(seconds) // 2] >= 40, "far below the refresh rate: %s" % seconds)


def test_window_is_unpaced_unless_asked(player_session):
    with player_session("1024x768x24") as session:
        free = presents_by_second(session, ["-w"], {})
    check(min(free) > 120, "the window is paced: %s" % free)
    with player_session("1024x768x24") as session:
        paced = presents_by_second(session, ["-w"], {"QUELTRAVINE_PACE_WINDOW": "1"})
    check(max(paced) <= 65, "QUELTRAVINE_PACE_WINDOW=1 did not pace the window: %s" % paced)
