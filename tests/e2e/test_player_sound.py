"""The music reaches the sound device: SDL's disk driver, paced in real time,
records what the player plays."""
import array
import os
import time

from player import quit_with_escape, ready_windowed
from x11_checks import check


def test_audio_reaches_device(player_session):
    session = player_session()
    raw = os.path.join(session.tmp, "audio.raw")
    ready_windowed(session, env=dict(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=raw))
    begun = time.monotonic()
    size_then = os.path.getsize(raw)
    time.sleep(2.0)
    size_now = os.path.getsize(raw)
    elapsed = time.monotonic() - begun
    quit_with_escape(session)
    rate = (size_now - size_then) / 4 / elapsed
    print("device frames per second: %.0f" % rate)
    # Paced in real time: 44100 frames a second, not the stream's 22050.
    check(40000 < rate < 48500, "the device plays %.0f frames a second" % rate)
    samples = array.array("h")
    with open(raw, "rb") as f:
        samples.frombytes(f.read()[: (size_now // 4) * 4])
    check(max(abs(s) for s in samples) > 1000, "the device got silence")
    check(len(set(samples[: 44100 * 2])) > 100, "the device got a constant signal")
