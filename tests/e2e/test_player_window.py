"""The player's window on a virtual X server: the first picture pixel for
pixel, keys, dragging, fullscreen with and without bars, and the ways to end
it (Escape, the window manager's close, SIGTERM and SIGINT)."""
import os
import signal
import time

import pytest

from demo_names import FULLSCREEN_TITLE
from player import ready_windowed, wait_for_audio
from players import quit_with_escape, wait_for_picture
from x11_checks import Failure, check, crop, wait_for_value, wait_until


def test_windowed_shows_warning(player_session):
    session = player_session()
    window_id = ready_windowed(session)
    check(session.geometry(window_id) == dict(x=0, y=0, width=640, height=480),
          "the window is not 640x480 at 0,0: %s" % session.geometry(window_id))
    # Nothing outside the window is drawn on.
    shot = session.screenshot()
    check(crop(shot, 640, 0, 384, 480) == bytes(384 * 480 * 3), "drawing outside the window")
    quit_with_escape(session)


def test_escape_is_prompt(player_session):
    session = player_session()
    # The disk driver's file shows the device at work.
    raw = os.path.join(session.tmp, "audio.raw")
    ready_windowed(session, env=dict(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=raw))
    wait_for_audio(session, raw, 0.5)  # the audio device is well under way
    started = time.monotonic()
    session.xdotool("key", "Escape")
    status = session.wait_exit()
    elapsed = time.monotonic() - started
    print("Escape to exit: %.3f s" % elapsed)
    check(status == 0, "status %s after Escape" % status)
    # Typically 0.05 s here. The bound catches a player that waits for
    # something (a device thread, a whole audio block), not a busy machine.
    check(elapsed < 1.0, "Escape took %.3f s to end the player" % elapsed)


def test_arrows_resize(player_session):
    session = player_session()
    window_id = ready_windowed(session)
    session.xdotool("key", "--delay", "60", *(["Right"] * 10))
    wait_until(lambda: session.geometry(window_id)["width"] == 680, 30, "width 680")
    session.xdotool("key", "--delay", "60", "Down", "Down", "Up", "Down")
    wait_until(lambda: session.geometry(window_id)["height"] == 488, 30, "height 488")
    check(session.geometry(window_id) == dict(x=0, y=0, width=680, height=488),
          "resizing moved the window: %s" % session.geometry(window_id))
    # The frame is stretched over the new size: the last column is drawn on.
    def stretched():
        shot = session.screenshot()
        return shot if crop(shot, 679, 0, 1, 488) != bytes(488 * 3) else None
    shot = wait_until(stretched, 10, "the frame to reach x 679", 0.1)
    check(crop(shot, 680, 0, 1, 488) == bytes(488 * 3), "drawing right of the window")
    # Holding a key auto-repeats.
    session.xdotool("keydown", "Right")
    time.sleep(1.2)  # the time is what is tested: a key held this long repeats
    session.xdotool("keyup", "Right")
    wait_for_value(lambda: session.geometry(window_id)["width"], lambda w: w >= 680 + 4 * 3,
                   10, "holding Right to repeat (width 692 or more)")
    # However long Left and Up are held, the window keeps a 4x4 size.
    session.xdotool("key", "--delay", "4", *(["Left", "Up"] * 200))
    wait_until(lambda: session.geometry(window_id)["width"] == 4
               and session.geometry(window_id)["height"] == 4, 10, "a 4x4 window")
    # Keys are handled in order: width 8 after this Right means every Left
    # and Up before it was handled at the smallest size.
    session.xdotool("key", "Right")

    def widened():
        check(session.alive(), "the player ended at the smallest size: " + session.stderr())
        return session.geometry(window_id)["width"] == 8
    wait_until(widened, 10, "width 8")
    quit_with_escape(session)


def wait_for_position(session, window_id, x, y):
    """The window's geometry once it is at x, y; a failure shows where it was."""
    return wait_for_value(lambda: session.geometry(window_id),
                          lambda g: (g["x"], g["y"]) == (x, y), 10,
                          "the window dragged to %d,%d" % (x, y))


def test_drag_moves(player_session):
    session = player_session()
    window_id = ready_windowed(session)
    # Relative moves while the button is down: SDL follows the pointer
    # during a capture through raw motion, which absolute jumps bypass.
    # xdotool's sleeps pace the press and the moves, which the player must
    # see as separate events: the time is what is tested.
    session.xdotool("mousemove", "--sync", "100", "50", "mousedown", "1", "sleep", "0.2",
                    "mousemove_relative", "10", "5", "sleep", "0.2",
                    "mousemove_relative", "200", "10", "sleep", "0.3", "mouseup", "1")
    wait_for_position(session, window_id, 200, 10)
    # A move that leaves the window to the left in one step (client x -55)
    # still moves it by the whole offset.
    session.xdotool("mousemove", "--sync", "300", "60", "mousedown", "1", "sleep", "0.2",
                    "mousemove_relative", "--", "-5", "0", "sleep", "0.2",
                    "mousemove_relative", "--", "-150", "0", "sleep", "0.3", "mouseup", "1")
    moved = wait_for_position(session, window_id, 50, 10)
    # The bottom 96 rows are no handle.
    session.xdotool("mousemove", "--sync", "100", str(10 + 400), "mousedown", "1",
                    "sleep", "0.2", "mousemove_relative", "20", "5", "sleep", "0.2",
                    "mousemove_relative", "30", "10", "sleep", "0.3", "mouseup", "1")
    time.sleep(0.5)  # a negative check: the window must not move in this time
    check(session.geometry(window_id) == moved, "a press in the bottom rows dragged")
    # The frame follows the window.
    wait_for_picture(session, session.reference("warning.jpg"), 50, 10, timeout=30)
    quit_with_escape(session)


def fullscreen_run(player_session, screen, frame):
    with player_session(screen, window_manager=True) as session:
        session.start([])
        width, height = (int(v) for v in screen.split("x")[:2])
        x0, y0, fw, fh = frame

        # The first two scenes show their pictures unchanged for 15 s.
        pictures = [session.reference("warning.jpg"),
                    session.reference("credits.jpg")]

        def letterboxed():
            check(session.alive(), "the player ended: " + session.stderr())
            shot = session.screenshot()
            return any(letterboxed_picture(picture, shot) for picture in pictures)

        def letterboxed_picture(picture, shot):
            bars = []
            if x0 > 0:
                bars += [crop(shot, 0, 0, x0, height),
                         crop(shot, x0 + fw, 0, width - x0 - fw, height)]
            if y0 > 0:
                bars += [crop(shot, 0, 0, width, y0),
                         crop(shot, 0, y0 + fh, width, height - y0 - fh)]
            if any(bar != bytes(len(bar)) for bar in bars):
                state["last"] = "bars not black"
                return False
            # Sample the scaled frame: each screen pixel shows one of the
            # picture pixels around the place it maps to or, at the edge of
            # one, a blend of them. Where the picture is not flat there, most
            # are plain copies (sharp, not blurred).
            samples = copies = 0
            for sy in range(8, fh, 37):
                for sx in range(8, fw, 41):
                    px, py = sx * 640 // fw, sy * 480 // fh
                    got = crop(shot, x0 + sx, y0 + sy, 1, 1)
                    near = {crop(picture, min(639, max(0, px + dx)), min(479, max(0, py + dy)),
                                 1, 1) for dx in (-1, 0, 1) for dy in (-1, 0, 1)}
                    if len(near) > 1:  # where a blend could show
                        samples += 1
                        copies += got in near
                    if any(not min(n[c] for n in near) <= got[c] <= max(n[c] for n in near)
                           for c in range(3)):
                        state["last"] = "screen %d,%d is %s, picture near %d,%d is %s" % (
                            x0 + sx, y0 + sy, got.hex(), px, py, sorted(n.hex() for n in near))
                        return False
            # Here 76% are; a plain linear filter gives 52%.
            if copies * 3 < samples * 2:
                state["last"] = "blurred: %d of %d samples are copies" % (copies, samples)
                return False
            return True
        state = {"last": "no screenshot"}
        try:
            wait_until(letterboxed, 15, "the letterboxed frame", 0.2)
        except Failure:
            where = session.run_x(["xwininfo", "-root", "-tree"])
            raise Failure("no letterboxed frame: %s; windows: %s" % (
                state["last"], " | ".join(line.strip() for line in where.splitlines()
                                          if FULLSCREEN_TITLE in line)))
        window_id = session.window(FULLSCREEN_TITLE)
        filled = session.geometry(window_id)
        check(filled["width"] == width, "the window does not fill the screen: %s" % filled)
        # Arrows and the mouse do nothing in fullscreen (xdotool's sleeps
        # pace a drag the player sees as separate events).
        session.xdotool("key", "--delay", "60", "Right", "Down", "Left")
        session.xdotool("mousemove", "--sync", "300", "100", "mousedown", "1", "sleep", "0.2",
                        "mousemove_relative", "10", "5", "sleep", "0.2",
                        "mousemove_relative", "40", "20", "sleep", "0.3", "mouseup", "1")
        time.sleep(0.3)  # a negative check: the window must not change in this time
        check(session.geometry(window_id) == filled, "the fullscreen window changed: %s"
              % session.geometry(window_id))
        quit_with_escape(session)


@pytest.mark.parametrize("screen, frame", [
    # 16:9 screen: the 4:3 frame becomes 960x720 between two black bars.
    ("1280x720x24", (160, 0, 960, 720)),
    # A 640x480 screen has the demo's own mode: the frame fills it exactly.
    ("640x480x24", (0, 0, 640, 480)),
], ids=["letterboxed", "own_mode"])
def test_fullscreen(player_session, screen, frame):
    # Once in a few full-suite runs the frame never showed where the bars put
    # it (cause not found; the window manager's placement is the suspect).
    # One fresh X server and window manager more tells that from a real fault.
    try:
        fullscreen_run(player_session, screen, frame)
    except Failure as failure:
        print("first attempt failed (%s); trying once more" % failure, flush=True)
        fullscreen_run(player_session, screen, frame)


def test_window_close(player_session):
    session = player_session(window_manager=True)
    ready_windowed(session)
    session.xdotool("key", "alt+F4")  # the window manager's close
    check(session.wait_exit() == 0, "closing the window did not end with status 0")


@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT], ids=["SIGTERM", "SIGINT"])
def test_quit_signal(player_session, sig):
    session = player_session()
    ready_windowed(session)
    session.process.send_signal(sig)
    status = session.wait_exit()
    check(status == 0, "status %s after %s" % (status, sig.name))
