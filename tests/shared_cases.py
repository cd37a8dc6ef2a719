"""Cases both players must pass, written once: each suite's test file
imports them (tests/e2e/test_player_failures.py, tests/wine/test_windows_demo.py)
and runs them on its own player_session. Where the platforms differ, a
table has one row per session.platform."""
import os

import pytest

from players import copy_pictures
from x11_checks import check

# What takes a picture's place without being a regular file (Windows has no
# FIFOs; a FIFO has no writer here): how it is made, what the player calls it.
NOT_A_FILE = {"linux": (os.mkfifo, "FIFO"), "windows": (os.mkdir, "folder")}


@pytest.mark.parametrize("not_a_file", [False, True], ids=["missing", "not_a_file"])
def test_missing_picture(player_session, not_a_file):
    """A missing picture, or in its place what is no regular file: its
    message box (caption: the file name), then status 1; the stand-in also
    gets a line saying what it is."""
    session = player_session()
    folder = copy_pictures(session, leave_out=("part2.jpg",))
    make, kind = NOT_A_FILE[session.platform]
    if not_a_file:
        make(os.path.join(folder, "part2.jpg"))
    session.start(["-w"], cwd=folder)
    session.message_box("part2.jpg")
    status = session.wait_exit()
    check(status == 1, "status %s after a missing picture" % status)
    check("part2.jpg: ERROR LOCATING..." in session.stderr(),
          "no message on standard error: " + session.stderr())
    if not_a_file:
        check("part2.jpg: is a %s, not a regular file" % kind in session.stderr(),
              "no line saying what part2.jpg is: " + session.stderr())


def test_desktop_16_bit(player_session):
    """Windowed on a 16-bit desktop: "32bpp desktop please ;)", then status 1."""
    session = player_session("1024x768x16")
    session.start(["-w"])
    session.message_box("Error")
    status = session.wait_exit()
    check(status == 1, "status %s on a 16-bit desktop" % status)
    check("Error: 32bpp desktop please ;)" in session.stderr(),
          "no message on standard error: " + session.stderr())

