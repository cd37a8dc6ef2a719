"""The browser build's speed in headless Chromium: compose times, frame
rates (also with the CPU throttled, as on a phone) and the music's cost per
quantum. Each prints what it saw and checks nothing.

    pytest-3 bench/measure/measure_web.py --site build-web/site \
        --linux-render build-test/queltravine-render [-k throttled --throttle 4]
"""
import time

from suites import conftest

globals().update(conftest("web"))

from test_web import (QUANTUM_US, WORKLET_TRACE, audio_report, click_frame,  # noqa: E402
                      process_costs, synth_stream, wait_for_title)
from x11_checks import wait_for_value, wait_until  # noqa: E402


def measure_speed(serve_site, browser, options):
    """Not a check: compose times per scene, animation frames per second, and
    the time from a click to the first frame."""
    site = serve_site()
    browser.open(site.url + "?render=6600&fps=60&every=1000000")
    wait_for_title(browser, "render done", 300)
    print(browser.evaluate("document.getElementById('render-times').textContent").rstrip())
    browser.open(site.url + "?autostart")
    seconds = int(options.number("speed-seconds"))
    rates = browser.evaluate("""new Promise((done) => {
        const rates = []; let frames = 0; let second = performance.now();
        const count = (now) => {
          ++frames;
          if (now - second >= 1000) { rates.push(frames); frames = 0; second = now; }
          if (rates.length < %d) requestAnimationFrame(count); else done(rates);
        };
        requestAnimationFrame(count);
      })""" % seconds, timeout=seconds + 60)
    print("animation frames per second over %d s: %s" % (seconds, " ".join(map(str, rates))))
    for _ in range(3):
        browser.open(site.url)
        browser.evaluate("document.getElementById('frame').click()")
        times = wait_for_value(lambda: browser.evaluate("window.demoTimes"),
                               lambda t: t["firstFrame"] is not None, 30, "the first frame", 0.1)
        print("click to first frame: %.0f ms" % (times["firstFrame"] - times["start"]))


def measure_throttled_frame_rate(serve_site, browser, options):
    """Not a check: animation frames in each second of the show, counted from
    its first frame for --speed-seconds (default 65), with Chromium's CPU
    throttled --throttle times (default 4, a common stand-in for a mid-range
    phone), and how far the scenes' clock moved meanwhile; with
    --reduce-flashes, of the show with its flashing reduced."""
    seconds = int(options.number("speed-seconds"))
    rate = options.number("throttle")
    site = serve_site()
    reduced = options.config.getoption("reduce_flashes")
    browser.open(site.url + ("?reduce-flashes=1" if reduced else ""))
    browser.send("Emulation.setCPUThrottlingRate", rate=rate)
    browser.evaluate("""(() => {
        window.throttledRates = []; window.throttledClock = [];
        let frames = 0; let second = null;
        const count = (now) => {
          if (window.demoTimes.firstFrame !== null) {
            if (second === null) {
              second = window.demoTimes.firstFrame;
              window.throttledClockStart = window.demoShowClock();
            }
            ++frames;
            if (now - second >= 1000) {
              window.throttledRates.push(frames);
              window.throttledClock.push(window.demoShowClock());
              frames = 0; second += 1000;
            }
          }
          requestAnimationFrame(count);
        };
        requestAnimationFrame(count);
      })()""")
    click_frame(browser)
    wait_until(lambda: browser.evaluate("window.throttledRates.length") >= seconds,
               seconds + 120, "%d seconds of frames" % seconds)
    rates = browser.evaluate("window.throttledRates")[:seconds]
    browser.send("Emulation.setCPUThrottlingRate", rate=1)
    print("CPU throttled %gx, animation frames in each second of the show: %s"
          % (rate, " ".join(map(str, rates))))
    clock = browser.evaluate("window.throttledClock")[:seconds]
    moved = (clock[-1] - browser.evaluate("window.throttledClockStart")) / 1000
    print("  lowest %d; seconds under 57: %s; the scenes' clock moved %.2f s in %d s"
          % (min(rates), [i for i, r in enumerate(rates) if r < 57], moved, seconds))


def measure_audio_cost(serve_site, browser, options, web_paths, tmp_path):
    """Not a check: the worklet's cost per quantum (Chromium's trace of every
    process() call) and the context's underruns over --speed-seconds
    (default 65) of music in real time from the click, and the same calls
    timed in Node."""
    seconds = options.number("speed-seconds")
    site = serve_site()
    browser.open(site.url)
    browser.start_tracing(WORKLET_TRACE)
    click_frame(browser)
    wait_until(lambda: browser.evaluate("window.demoAudioContext && "
                                        "window.demoAudioContext.playbackStats") is not None,
               15, "the audio context")
    time.sleep(seconds)  # the time is what is measured
    last = audio_report(browser)
    stats = browser.evaluate("window.demoAudioContext.playbackStats.toJSON()")
    costs = process_costs(browser.stop_tracing())
    counts = last["counts"]
    print("worklet: %d calls, %.1f s of music; short quanta %d, late blocks %d"
          % (counts["quanta"], counts["musicQuanta"] * 128 / 44100, counts["shortQuanta"],
             counts["lateBlocks"]))
    for what, index in (("CPU", 1), ("wall", 0)):
        values = sorted(c[index] for c in costs)
        print("  %s time per call over %d traced calls: mean %.1f us, median %d us, "
              "99.9%% %d us, max %d us, %d over a quantum (%.0f us); first five %s"
              % (what, len(values), sum(values) / len(values), values[len(values) // 2],
                 values[int(len(values) * 0.999)], values[-1],
                 sum(1 for v in values if v >= QUANTUM_US), QUANTUM_US,
                 [c[index] for c in costs[:5]]))
    print("  context playbackStats: %r" % stats)
    node = synth_stream(web_paths, seconds, str(tmp_path / "web.raw"))
    print("Node, the same calls: %d quanta, mean %.1f us, max %.0f us, %d over 1 ms, "
          "late blocks %d" % (node["quanta"], node["meanUs"], node["maxUs"], node["over1Ms"],
                              node["lateBlocks"]))
