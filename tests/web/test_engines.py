"""The browser cases every engine must pass: Chromium, Firefox and WebKit
(engines.py), each driven as a user would, with a PulseAudio null sink as
its sound device. Each case is written once and runs in every engine of
--engines."""
import os
import subprocess
import tempfile
import time

from x11_checks import check, wait_until

SHOW_FRAMES = 6600  # the whole show, 110 s at 60 fps
EVERY = 1  # every frame: a few seconds more than every 30th in each engine

STATUS = "document.getElementById('status')"
ERRORS = "document.getElementById('page-errors').textContent"


def native(paths, arguments):
    """The native renderer's frame log and frame checksums."""
    with tempfile.TemporaryDirectory() as folder:
        log_path = os.path.join(folder, "log.txt")
        crc_path = os.path.join(folder, "crc.txt")
        subprocess.run([paths.render, "--pictures", paths.data, "--log", log_path,
                        "--crc", crc_path, *arguments], check=True, capture_output=True)
        with open(log_path) as a, open(crc_path) as b:
            return a.read(), b.read()


def render(engine, url, timeout):
    """The render mode's frame log and checksums, and how long it took."""
    started = time.monotonic()
    engine.open(url)
    # The render holds the page's thread; each question waits for it.
    wait_until(lambda: engine.evaluate("document.title", timeout=timeout) == "render done",
               timeout - (time.monotonic() - started), "the render to finish in %d s" % timeout,
               0.5)
    took = time.monotonic() - started
    log, crc, errors = engine.evaluate(
        "['render-log', 'render-crc', 'page-errors'].map("
        "(name) => document.getElementById(name).textContent)")
    check(errors == "", "errors: %r" % errors)
    return log, crc, took


def first_different_line(got, want):
    got, want = got.splitlines(), want.splitlines()
    for index, (a, b) in enumerate(zip(got, want)):
        if a != b:
            return "line %d: %r, natively %r" % (index + 1, a, b)
    return "%d lines, natively %d" % (len(got), len(want))


def test_render_matches(engine, serve_site, web_paths):
    """?render: the frame log and checksums of every frame of 5 s at 60 fps,
    and of the whole show (every scene), equal queltravine-render's --log
    and --crc."""
    site = serve_site()
    log, crc, short = render(engine, site.url + "?render=300&fps=60", 300)
    want_log, want_crc = native(web_paths, ["--seconds", "5", "--fps", "60"])
    check(log == want_log, "the 5 s frame logs differ: " + first_different_line(log, want_log))
    check(crc == want_crc, "the 5 s checksums differ: " + first_different_line(crc, want_crc))
    frames = SHOW_FRAMES
    log, crc, long = render(engine, site.url + "?render=%d&fps=60&every=%d" % (frames, EVERY),
                            900)
    want_log, want_crc = native(web_paths, ["--seconds", "%g" % (frames / 60), "--fps", "60",
                                            "--every", str(EVERY)])
    check(len(crc.splitlines()) == frames // EVERY,
          "%d checksums, not %d" % (len(crc.splitlines()), frames // EVERY))
    check(crc == want_crc, "the %d frames' checksums differ: %s"
          % (frames, first_different_line(crc, want_crc)))
    check(log == want_log, "the %d frames' logs differ: %s"
          % (frames, first_different_line(log, want_log)))
    print("%s: 300 frames in %.0f s, %d frames (%d checksums) in %.0f s, all equal"
          % (engine.name, short, frames, frames // EVERY, long))


def click_frame(engine):
    """A user's click in the middle of the demo's frame."""
    engine.click(*engine.evaluate("(() => { const r = document.getElementById('frame')"
                                  ".getBoundingClientRect(); return [r.x + r.width / 2, "
                                  "r.y + r.height / 2]; })()"))


# Counts the animation frames the page asks for (the demo's frame loop
# asks for one per frame it composes).
COUNT_FRAMES = """(() => {
  const request = window.requestAnimationFrame.bind(window);
  window.frameRequests = 0;
  window.requestAnimationFrame = (callback) => { ++window.frameRequests; return request(callback); };
})()"""

PLAYING = """window.demoAudioReport().then((counts) => ({
    counts, frames: window.frameRequests, blocks: window.demoTimes.blocks,
    time: window.demoAudioContext.currentTime, state: window.demoAudioContext.state }))"""

LOUD = 1000  # of 32767: the music's level is far above, silence far below


def loud_samples(pulse_sink, seconds=1):
    samples = pulse_sink.record(seconds)
    return sum(1 for value in samples if abs(value) > LOUD), len(samples)


def test_click_plays_and_escape_stops(engine, serve_site, pulse_sink):
    """In real time: one click starts the frames and the music (the worklet's
    blocks flow at the music's pace, every quantum full, one worklet, music
    at 44100 Hz in the sound server's sink), and Escape stops both."""
    site = serve_site()
    engine.open(site.url)
    check(engine.evaluate(STATUS + ".textContent") == "Click or press a key to start",
          "the start page says %r" % engine.evaluate(STATUS + ".textContent"))
    engine.evaluate(COUNT_FRAMES)
    click_frame(engine)
    clicked = time.monotonic()
    # The first block is made within 60 ms of the context starting, then
    # one every 0.45 s of music; a context may take a second or two to start.
    wait_until(lambda: (engine.evaluate("window.demoTimes.blocks") or 0) >= 4, 30,
               "four blocks of music from the worklet")
    waited = time.monotonic() - clicked
    times = engine.evaluate("window.demoTimes")
    check(times["firstFrame"] is not None, "no frame was shown after the click")
    # The demo starts the audio twice; the second start leaves the stream.
    check(times["audioNodes"] == 1, "%d audio worklets were made" % times["audioNodes"])
    check(engine.evaluate("window.demoAudioContext.sampleRate") == 44100,
          "the context does not run at 44100 Hz")
    before = engine.evaluate(PLAYING)
    loud, recorded = loud_samples(pulse_sink, 2)
    after = engine.evaluate(PLAYING)
    counts = after["counts"]
    check(after["state"] == "running", "the context is %r" % after["state"])
    check(counts["rate"] == 44100 and counts["startFrame"] is not None, "counts: %r" % counts)
    frames = after["frames"] - before["frames"]
    check(frames >= 20, "%d animation frames in about 2 s" % frames)
    rendered = after["time"] - before["time"]
    called = (counts["quanta"] - before["counts"]["quanta"]) * 128 / 44100
    check(rendered > 1 and abs(called - rendered) < 0.05,
          "the context rendered %.2f s, the worklet was called for %.2f s" % (rendered, called))
    blocks = after["blocks"] - before["blocks"]
    expected = rendered * 44100 / 20000  # a block is 20,000 frames at 44100 Hz
    check(expected - 2 <= blocks <= expected + 2,
          "%d blocks made in %.2f s of music" % (blocks, rendered))
    check(counts["shortQuanta"] == 0, "%d quanta not full of music" % counts["shortQuanta"])
    check(loud > recorded // 4, "the sink heard %d loud samples of %d" % (loud, recorded))
    check(engine.evaluate(ERRORS) == "", "errors: %r" % engine.evaluate(ERRORS))
    print("%s: %d blocks %.1f s after the click (first frame after %.0f ms); in %.2f s: "
          "%d animation frames, %d blocks, %d late blocks in all; the sink: %d of %d samples "
          "loud" % (engine.name, times["blocks"], waited, times["firstFrame"] - times["start"],
                    rendered, frames, blocks, counts["lateBlocks"], loud, recorded))

    engine.key("Escape")
    wait_until(lambda: engine.evaluate("window.demoAudioContext.state") == "closed", 30,
               "Escape closing the context")
    check(engine.evaluate(STATUS + ".textContent") == "stopped: click to start again",
          "after Escape the page says %r" % engine.evaluate(STATUS + ".textContent"))
    # A negative check follows: what was under way when Escape came ends first.
    time.sleep(0.5)
    stopped = engine.evaluate("[window.frameRequests, window.demoTimes.blocks]")
    loud, recorded = loud_samples(pulse_sink, 1.5)
    later = engine.evaluate("[window.frameRequests, window.demoTimes.blocks]")
    check(later[0] == stopped[0], "the frames went on: %d then %d requests"
          % (stopped[0], later[0]))
    check(later[1] == stopped[1], "the music went on: %d then %d blocks"
          % (stopped[1], later[1]))
    check(loud == 0, "the sink still heard %d loud samples of %d" % (loud, recorded))
    check(engine.evaluate(ERRORS) == "", "errors: %r" % engine.evaluate(ERRORS))


def test_missing_picture(engine, serve_site):
    """A site without part2.jpg shows "part2.jpg: ERROR LOCATING..." and
    nothing starts."""
    site = serve_site(leave_out={"part2.jpg"})
    engine.open(site.url + "?autostart")
    wait_until(lambda: engine.evaluate(STATUS + ".textContent")
               == "part2.jpg: ERROR LOCATING...", 20, "the missing picture reported")
    check(engine.evaluate("window.demoTimes.firstFrame") is None,
          "a frame was shown without part2.jpg")
