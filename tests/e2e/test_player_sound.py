"""The music reaches the sound device: SDL's disk driver records what the
player plays, and the frame probe tells the format it was opened with; what
the player's callback hands the device is the renderer's 44100 Hz WAV from
the stream's start; and a device lost while playing (the PulseAudio server
killed and started again) is opened again, the music going on from where the
generator was."""
import array
import os
import re
import subprocess
import time

from player import DEVICE_BYTES_PER_SECOND, ready_windowed, wait_for_audio
from players import quit_with_escape
from x11_checks import check, wait_until

OPENED = "probe: audio-device 44100 Hz 2 channels format 0x8010"


def test_audio_reaches_device(player_session, options):
    session = player_session()
    raw = os.path.join(session.tmp, "audio.raw")
    ready_windowed(session, preload=options.path("probe"),
                   env=dict(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=raw))
    begun = time.monotonic()
    size_then = os.path.getsize(raw)
    size_now = wait_for_audio(session, raw, 2, after=size_then)
    elapsed = time.monotonic() - begun
    quit_with_escape(session)
    # The device plays 44100 Hz 16-bit stereo, not the stream's 22050 Hz. Its
    # pace is printed, not checked: a busy machine slows SDL's disk driver.
    opened = [line for line in session.stderr().splitlines() if "audio-device" in line]
    check(opened == [OPENED], "the sound device was opened as %s" % opened)
    print("device frames per second: %.0f" % ((size_now - size_then) / 4 / elapsed))
    samples = array.array("h")
    with open(raw, "rb") as f:
        samples.frombytes(f.read()[: (size_now // 4) * 4])
    check(max(abs(s) for s in samples) > 1000, "the device got silence")
    check(len(set(samples[: 44100 * 2])) > 100, "the device got a constant signal")


def rendered_44100(options, folder, data_bytes):
    """The renderer's 44100 Hz WAV data, at least data_bytes of it."""
    seconds = data_bytes // (44100 * 4) + 2
    wav = os.path.join(folder, "render.wav")
    subprocess.run([options.path("linux-render"), "--seconds", str(seconds), "--wav-rate",
                    "44100", "--wav", wav, "--pictures", options.path("data"), "--force"],
                   check=True, timeout=300, stdout=subprocess.DEVNULL)
    with open(wav, "rb") as f:
        data = f.read()[44:]
    check(len(data) >= data_bytes, "the render is shorter than the recording")
    return data


def check_same_stream(recorded, rendered):
    same = next((i for i, (a, b) in enumerate(zip(recorded, rendered)) if a != b), None)
    check(same is None, "the callback's sound leaves the renderer's 44100 Hz WAV at byte %s "
          "of %d (device frame %s)" % (same, len(recorded), same and same // 4))


def test_callback_plays_the_renderers_44100_wav(player_session, options):
    """Every byte the SDL callback hands the device, from its first call, is
    the renderer's --wav-rate 44100 WAV from the stream's start: one
    resampler (synth/upsampler), its lag lined up with the stream's start."""
    session = player_session()
    recorded = os.path.join(session.tmp, "callback.raw")
    ready_windowed(session, preload=options.path("probe"),
                   env=dict(SDL_AUDIODRIVER="dummy", QUELTRAVINE_PROBE_AUDIO=recorded))
    wait_for_audio(session, recorded, 1.5)
    quit_with_escape(session)
    with open(recorded, "rb") as f:
        data = f.read()
    print("recorded %d device frames from the callback" % (len(data) // 4))
    check(len(data) > DEVICE_BYTES_PER_SECOND, "the callback made only %d bytes" % len(data))
    check_same_stream(data, rendered_44100(options, session.tmp, len(data)))


def fps_by_second(stderr):
    line = re.search(r"probe: first-frame-ms \S+ frames \d+ fps-by-second(.*)", stderr)
    check(line, "the probe reported no frames: " + stderr)
    return [int(n) for n in line.group(1).split()]


def test_music_survives_a_lost_device(player_session, private_pulse_sink, options):
    """The PulseAudio server killed while the music plays: the player goes on
    showing frames, calls the synthesiser no more while there is no device,
    and within 3 s of a new server starting its stream is on the sink again
    and the sink plays music, the stream going on from where it stopped."""
    sink = private_pulse_sink
    session = player_session()
    recorded = os.path.join(session.tmp, "callback.raw")
    ready_windowed(session, preload=options.path("probe"),
                   env=dict(SDL_AUDIODRIVER="pulseaudio", PULSE_SERVER=sink.server,
                            QUELTRAVINE_PROBE_AUDIO=recorded))
    wait_until(sink.inputs, 30, "the player's stream on the sink", 0.1)
    wait_until(lambda: os.path.getsize(recorded) > 0, 30, "the callback's first sound", 0.1)

    sink.stop()
    lost_at = time.monotonic()
    wait_until(lambda: "sound device was lost" in session.stderr(), 3,
               "the player to see its device gone", 0.05)
    print("device seen lost %.2f s after the kill" % (time.monotonic() - lost_at))
    # No device: the synthesiser is not called (the callback makes nothing).
    size_then = os.path.getsize(recorded)
    time.sleep(1.5)  # the time is what is tested: nothing may flow for this long
    check(os.path.getsize(recorded) == size_then,
          "the callback made %d bytes with no device" % (os.path.getsize(recorded) - size_then))
    check(session.alive(), "the player ended with its device: " + session.stderr())

    sink.start()
    started = time.monotonic()
    wait_until(sink.inputs, 3, "the player's stream on the restarted sink", 0.05)
    print("stream on the new sink %.2f s after it started" % (time.monotonic() - started))
    # A new stream on a new null sink takes a moment to be asked for much.
    for _ in range(3):
        samples = sink.record(1.5)
        loud = sum(1 for s in samples if abs(s) > 256)
        print("recorded %d samples from the monitor, %d above 1/128 of full scale"
              % (len(samples), loud))
        if loud > 1000:
            break
    check(loud > 1000, "the restarted sink's monitor is silent")
    check(os.path.getsize(recorded) > size_then, "the callback made nothing after the restart")
    check(session.alive(), "the player ended: " + session.stderr())
    quit_with_escape(session)

    stderr = session.stderr()
    opened = [line for line in stderr.splitlines() if "audio-device" in line]
    check(opened == [OPENED, OPENED], "the devices were opened as %s" % opened)
    seconds = fps_by_second(stderr)
    print("frames by second: %s" % seconds)
    check(len(seconds) >= 4 and min(seconds) > 0,
          "a second without frames while the device was away: %s" % seconds)
    # Across the two devices the callback's sound is one unbroken stream.
    if options.given("linux-render"):
        with open(recorded, "rb") as f:
            data = f.read()
        check_same_stream(data, rendered_44100(options, session.tmp, len(data)))


def test_no_sound_server_at_start(player_session, tmp_path):
    """Missing at start-up is not retried: no PulseAudio server behind the
    socket, status 1 and one line about the sound."""
    session = player_session()
    session.start(["-w"], env=dict(SDL_AUDIODRIVER="pulseaudio",
                                   PULSE_SERVER="unix:%s/no-server.sock" % tmp_path))
    status = session.wait_exit(15)
    check(status == 1, "status %s with no sound server" % status)
    lines = session.stderr().splitlines()
    check(len(lines) == 1 and "sound" in lines[0], "not one line about the sound: %s" % lines)
    print(lines[0])
