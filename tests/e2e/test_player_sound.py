"""The music reaches the sound device: SDL's disk driver records what the
player plays, and the frame probe tells the format it was opened with."""
import array
import os
import time

from player import quit_with_escape, ready_windowed
from x11_checks import check


def test_audio_reaches_device(player_session, options):
    session = player_session()
    raw = os.path.join(session.tmp, "audio.raw")
    ready_windowed(session, preload=options.path("probe"),
                   env=dict(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=raw))
    begun = time.monotonic()
    size_then = os.path.getsize(raw)
    time.sleep(2.0)
    size_now = os.path.getsize(raw)
    elapsed = time.monotonic() - begun
    quit_with_escape(session)
    # The device plays 44100 Hz 16-bit stereo, not the stream's 22050 Hz. Its
    # pace is printed, not checked: a busy machine slows SDL's disk driver.
    opened = [line for line in session.stderr().splitlines() if "audio-device" in line]
    check(opened == ["probe: audio-device 44100 Hz 2 channels format 0x8010"],
          "the sound device was opened as %s" % opened)
    check(size_now > size_then, "the device took no audio in %.1f s" % elapsed)
    print("device frames per second: %.0f" % ((size_now - size_then) / 4 / elapsed))
    samples = array.array("h")
    with open(raw, "rb") as f:
        samples.frombytes(f.read()[: (size_now // 4) * 4])
    check(max(abs(s) for s in samples) > 1000, "the device got silence")
    check(len(set(samples[: 44100 * 2])) > 100, "the device got a constant signal")
