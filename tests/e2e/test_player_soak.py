"""The player over a long run (70 s here, an hour or more by hand with
--soak-seconds 3600)."""
import array
import os
import re
import time

from player import ready_windowed, wait_for_audio
from players import quit_with_escape
from x11_checks import check


def process_figures(pid):
    with open("/proc/%d/status" % pid) as f:
        status = f.read()
    rss = int(re.search(r"VmRSS:\s+(\d+) kB", status).group(1))
    threads = int(re.search(r"Threads:\s+(\d+)", status).group(1))
    return rss, threads, len(os.listdir("/proc/%d/fd" % pid))


def longest_silence(raw, start_frame):
    """The longest run of all-zero stereo frames from start_frame on, in frames."""
    samples = array.array("i")  # one 32-bit item per stereo frame of two 16-bit samples
    with open(raw, "rb") as f:
        f.seek(start_frame * 4)
        data = f.read()
    samples.frombytes(data[: len(data) // 4 * 4])
    longest = run = 0
    for frame in samples:
        run = run + 1 if frame == 0 else 0
        longest = max(longest, run)
    return longest


def test_soak(player_session, options):
    """After the first seconds the player's memory, threads and open files
    stay flat, the device's audio has no gap, and the frame rate does not
    fall. The device's rate is printed, not checked: a machine busy with
    other work slows SDL's disk driver, which is no fault of the player."""
    probe = options.path("probe")
    seconds = options.number("soak-seconds")
    session = player_session()
    raw = os.path.join(session.tmp, "audio.raw")
    ready_windowed(session, preload=probe,
                   env=dict(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=raw))
    pid = session.process.pid
    # The baseline is taken once the device has played the first 5 s.
    wait_for_audio(session, raw, 5, timeout=60)
    first = process_figures(pid)
    begun = time.monotonic()
    size_then = os.path.getsize(raw)
    peak = first
    while time.monotonic() - begun < seconds - 5:
        # The time is what is tested: the soak's length.
        time.sleep(min(10, max(0.1, seconds - 5 - (time.monotonic() - begun))))
        check(session.alive(), "the player ended: " + session.stderr())
        now = process_figures(pid)
        peak = tuple(max(a, b) for a, b in zip(peak, now))
    size_now = os.path.getsize(raw)
    elapsed = time.monotonic() - begun
    last = process_figures(pid)
    quit_with_escape(session)
    rate = (size_now - size_then) / 4 / elapsed
    probe_lines = [line for line in session.stderr().splitlines() if "fps-by-second" in line]
    check(probe_lines, "the probe reported nothing: " + session.stderr())
    fps = [int(v) for v in probe_lines[0].split("fps-by-second")[1].split()]
    print("resident %d -> %d kB (peak %d), threads %d -> %d, open files %d -> %d"
          % (first[0], last[0], peak[0], first[1], last[1], first[2], last[2]))
    print("device frames per second: %.1f over %.0f s" % (rate, elapsed))
    check(peak[0] - first[0] < 2048, "resident memory grew by %d kB" % (peak[0] - first[0]))
    check(peak[1] == first[1] == last[1], "threads changed: %d, %d, peak %d"
          % (first[1], last[1], peak[1]))
    check(peak[2] == first[2] == last[2], "open files changed: %d, %d, peak %d"
          % (first[2], last[2], peak[2]))
    check(size_now > size_then, "the device took no audio in %.0f s" % elapsed)
    silence = longest_silence(raw, 44100)
    print("longest silence after the first second: %d frames" % silence)
    check(silence < 2205, "a gap of %d silent frames in the audio" % silence)
    # The last scene holds from 110 s on: its frame rate, minute by minute.
    steady = fps[115:len(fps) - 1]
    if len(steady) >= 120:
        minutes = [sum(steady[i:i + 60]) / 60 for i in range(0, len(steady) - 59, 60)]
        print("frames per second in the last scene, by minute: %s"
              % " ".join("%.0f" % m for m in minutes))
        check(min(minutes) > 0.9 * minutes[0], "the frame rate fell: %s" % minutes)
    else:
        halves = fps[2:len(fps) - 1]
        print("frames per second, by second: %s" % " ".join(map(str, halves)))
        check(min(halves) > 0, "a second without a frame: %s" % halves)
