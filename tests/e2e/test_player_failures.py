"""How the player fails: a missing or unreadable picture, a 16-bit desktop,
no sound device, a display that refuses the frame, no display at all, and
allocations that fail. Each gives its message (box and standard error) and
status 1. The picture and desktop cases are shared with the Windows suite
(tests/shared_cases.py)."""
import os
import subprocess

import pytest

from shared_cases import test_desktop_16_bit, test_missing_picture  # noqa: F401 (run here)
from x11_checks import check


def test_audio_failure(player_session):
    session = player_session()
    session.start(["-w"], env=dict(SDL_AUDIODRIVER="nosuchdriver"))
    status = session.wait_exit(15)
    check(status == 1, "status %s when no sound device opens" % status)
    lines = session.stderr().splitlines()
    check(len(lines) == 1 and "sound" in lines[0], "not one line about the sound: %s" % lines)


def test_display_error(player_session, options):
    # The display refuses the frame a second into the run, with the music playing.
    faults = options.path("faults")
    session = player_session()
    session.start(["-w"], preload=faults, env=dict(QUELTRAVINE_FAIL_LOCK="60"))
    session.message_box("Texture lock refused by the test")
    status = session.wait_exit()
    check(status == 1, "status %s after a display error" % status)
    check("Texture lock refused by the test" in session.stderr(),
          "no message on standard error: " + session.stderr())


def test_no_display(player_paths):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY") and not k.startswith("SDL_")}
    result = subprocess.run([player_paths.player, "-w"], cwd=player_paths.data, env=env,
                            capture_output=True, text=True, timeout=30)
    check(result.returncode == 1, "status %s without a display" % result.returncode)
    check("needs a display" in result.stderr, "no reason given: " + result.stderr)
    # Asked for X11 by name, SDL itself fails: still a reason and status 1.
    env["SDL_VIDEODRIVER"] = "x11"
    result = subprocess.run([player_paths.player, "-w"], cwd=player_paths.data, env=env,
                            capture_output=True, text=True, timeout=30)
    check(result.returncode == 1, "status %s without X11" % result.returncode)
    check("Cannot open the display" in result.stderr, "no reason given: " + result.stderr)


@pytest.mark.parametrize("size, text", [
    (640 * 480 * 4, "Not enough memory for virtual backbuffer"),
    (5455 * 49 * 4, "Not enough memory for pictures"),
], ids=["backbuffer", "pictures"])
def test_allocation_fails(player_session, options, size, text):
    faults = options.path("faults")
    session = player_session()
    session.start(["-w"], preload=faults,
                  env=dict(QUELTRAVINE_FAIL_SIZE=str(size), QUELTRAVINE_FAIL_SKIP="0"))
    session.message_box("error")
    status = session.wait_exit()
    check(status == 1, "status %s after a failed allocation" % status)
    check("error: " + text in session.stderr(), "no message on standard error: "
          + session.stderr())
