"""The browser build in headless Chromium, against the native renderer: the
cases that use what only Chromium offers (virtual time, screenshots from its
command line, its trace). The cases every engine runs are in test_engines.py.

Each test serves a copy of the built site on 127.0.0.1. Most use Chromium's
own command line (--dump-dom, --screenshot, virtual time); the real-time
ones drive it over the DevTools protocol.
"""
import base64
import html
import json
import os
import re
import shutil
import subprocess
import tempfile
import time

from skips import require_tools
from x11_checks import check, wait_for_value, wait_until

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), os.pardir, os.pardir))


def chromium(args, timeout=600):
    profile = tempfile.mkdtemp(prefix="queltravine-chromium-")
    try:
        result = subprocess.run(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu",
             "--user-data-dir=" + profile, "--autoplay-policy=no-user-gesture-required",
             "--hide-scrollbars", *args],
            capture_output=True, text=True, timeout=timeout)
        return result.stdout
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def dump(url, budget_ms):
    return chromium(["--virtual-time-budget=%d" % budget_ms, "--dump-dom", url])


def element(dom, name):
    match = re.search(r'id="%s"[^>]*>(.*?)</(pre|div)>' % name, dom, re.S)
    return html.unescape(match.group(1)) if match else None


def wait_for_title(browser, title, timeout):
    wait_until(lambda: browser.evaluate("document.title") == title, timeout,
               "the page to reach %r" % title, 0.25)


def test_loads_cleanly(serve_site):
    """The start page, and ?autostart, without page errors."""
    site = serve_site()
    dom = dump(site.url, 3000)
    check(element(dom, "status") == "Click or press a key to start",
          "start page says %r" % element(dom, "status"))
    check(element(dom, "page-errors") == "", "errors: %r" % element(dom, "page-errors"))
    dom = dump(site.url + "?autostart", 3000)
    check(element(dom, "page-errors") == "", "errors: %r" % element(dom, "page-errors"))
    check('id="status" hidden' in dom or 'hidden="" id="status"' in dom
          or re.search(r'id="status"[^>]*hidden', dom), "the start line is still shown")


def native_audio(paths, seconds, folder):
    """The native renderer's music at 44100 Hz (`--wav-rate 44100`, the stream
    through the project's upsampler from its start): the WAV's raw data,
    written to folder/native.raw, whose path is returned."""
    wav = os.path.join(folder, "native.wav")
    subprocess.run([paths.render, "--pictures", paths.data, "--seconds", "%g" % seconds,
                    "--wav-rate", "44100", "--wav", wav], check=True, capture_output=True)
    with open(wav, "rb") as f:
        data = f.read()
    frames = round(seconds * 44100)
    check(data[36:40] == b"data" and len(data) == 44 + 4 * frames,
          "the native WAV is not %d frames at 44100 Hz" % frames)
    raw = os.path.join(folder, "native.raw")
    with open(raw, "wb") as f:
        f.write(data[44:])
    return raw


def first_difference(a, b):
    """The index of the first 16-bit sample where a and b differ, or None."""
    if a == b:
        return None
    step = 1 << 16
    at = next(i for i in range(0, max(len(a), len(b)), step) if a[i:i + step] != b[i:i + step])
    while a[at:at + 2] == b[at:at + 2]:
        at += 2
    return at // 2


def test_worklet_samples(serve_site, browser, web_paths, tmp_path):
    """The AudioWorklet's output, rendered offline at 44100 Hz, equals the
    native renderer's --wav-rate 44100 sample for sample from the music's
    first sample, after only silence while the first block is made (at most
    60 ms), with no block late and every quantum full. In real time over
    the DevTools protocol: an OfflineAudioContext's worklet does not load
    under virtual time."""
    seconds = 4
    site = serve_site(extra={"expected.raw": native_audio(web_paths, seconds, str(tmp_path))})
    browser.open(site.url + "worklet_check.html?seconds=%d" % seconds)
    wait_for_title(browser, "check done", 60)
    result = browser.evaluate("document.getElementById('result').textContent")
    match = re.match(r"frames (\d+) start (\d+) differ (\d+) first (-?\d+) noise (\d+) "
                     r"loud (\d+) blocks (\d+) late (\d+) short (\d+)$", result or "")
    check(match, "the check page says %r" % result)
    frames, start, differ, first, noise, loud, blocks, late, short = map(int, match.groups())
    check(frames == seconds * 44100, "only %d frames were compared" % frames)
    check(differ == 0, "%d of %d samples differ, the first at frame %d"
          % (differ, 2 * frames, first))
    check(noise == 0 and start <= 0.06 * 44100,
          "the music started at frame %d (%d samples before it not silent)" % (start, noise))
    check(loud > frames // 2, "the worklet is (nearly) silent: %d loud" % loud)
    check(blocks >= frames // 20000, "the worklet posted residues of only %d blocks" % blocks)
    check(late == 0 and short == 0, "%d blocks late, %d quanta short" % (late, short))
    print("%d samples equal from frame %d on, %d above 1/128; %d blocks"
          % (2 * frames, start, loud, blocks))


def synth_stream(web_paths, seconds, out, quantum=128):
    """synth.wasm driven in Node as the worklet drives it: its 44100 Hz music
    written to out, and its counts."""
    require_tools("node", what="the synth.wasm stream test")
    script = os.path.join(os.path.dirname(__file__), "synth_stream.cjs")
    result = subprocess.run(["node", script, os.path.join(web_paths.site, "synth.wasm"),
                             "%g" % seconds, out, str(quantum)],
                            capture_output=True, text=True, timeout=600)
    check(result.returncode == 0, "synth_stream.cjs failed: %s" % result.stderr)
    return json.loads(result.stdout)


def test_synth_module_matches_native(web_paths, options, tmp_path):
    """synth.wasm's music at 44100 Hz, played 128 frames a call as the
    worklet plays it, equals the native renderer's --wav-rate 44100 over
    the whole show (--render-seconds), with no block late."""
    seconds = options.number("render-seconds")
    out = str(tmp_path / "web.raw")
    counts = synth_stream(web_paths, seconds, out)
    with open(native_audio(web_paths, seconds, str(tmp_path)), "rb") as f:
        want = f.read()
    with open(out, "rb") as f:
        got = f.read()
    check(len(got) == len(want), "%d bytes from synth.wasm, %d natively" % (len(got), len(want)))
    differ = first_difference(got, want)
    check(differ is None, "synth.wasm's music differs from sample %s (frame %s)"
          % (differ, None if differ is None else differ // 2))
    check(counts["lateBlocks"] == 0 and counts["shortQuanta"] == 0, "counts: %r" % counts)
    check(counts["silentQuanta"] * 128 <= 0.06 * 44100, "counts: %r" % counts)
    print("%g s (%d samples) equal; %d blocks; per quantum in Node: mean %.0f us, max %.0f us"
          % (seconds, len(got) // 2, counts["blocks"], counts["meanUs"], counts["maxUs"]))


def click_frame(browser):
    """A user's click in the middle of the demo's frame."""
    box = browser.evaluate("(() => { const r = document.getElementById('frame')"
                           ".getBoundingClientRect(); return [r.x + r.width / 2, "
                           "r.y + r.height / 2]; })()")
    browser.click(*box)


def audio_report(browser):
    """The worklet's counts, asked for now, and the context's time and state."""
    return browser.evaluate("""window.demoAudioReport().then((counts) => ({
        counts, time: window.demoAudioContext.currentTime,
        state: window.demoAudioContext.state, blocks: window.demoTimes.blocks }))""")


def start_music(serve_site, browser):
    site = serve_site()
    browser.open(site.url)
    click_frame(browser)
    wait_until(lambda: (browser.evaluate("window.demoTimes.blocks") or 0) >= 3, 15,
               "three blocks of music from the worklet")


# Chromium's trace of each process() call of the worklet: its wall time
# (dur) and its thread's CPU time (tdur, without time the thread was not run).
WORKLET_TRACE = ["disabled-by-default-audio-worklet"]
PROCESS_CALL = "AudioWorkletProcessor::Process (author script execution)"
QUANTUM_US = 128 / 44100 * 1e6  # 2902 us


def process_costs(events):
    """(wall, CPU) microseconds of each traced process() call, in order."""
    calls = sorted((e for e in events if e.get("name") == PROCESS_CALL), key=lambda e: e["ts"])
    return [(e["dur"], e.get("tdur", e["dur"])) for e in calls]


def test_audio_quanta_full(serve_site, browser):
    """In real time at 44100 Hz for 5 s: the worklet is called for every
    quantum the context renders, each call gives a full quantum of music
    (never silence from an empty buffer once the music started), and every
    block was made ahead of its turn, in slices, so no call had to make a
    whole block. The calls' CPU time in Chromium's trace is printed, not
    checked: how long a call takes depends on the machine's load."""
    site = serve_site()
    browser.open(site.url)
    browser.start_tracing(WORKLET_TRACE)
    click_frame(browser)
    wait_until(lambda: (browser.evaluate("window.demoTimes.blocks") or 0) >= 3, 15,
               "three blocks of music from the worklet")
    check(browser.evaluate("window.demoAudioContext.sampleRate") == 44100,
          "the context does not run at 44100 Hz")
    before = audio_report(browser)
    time.sleep(5)  # the time is what is tested: every quantum over 5 s of real time
    after = audio_report(browser)
    costs = process_costs(browser.stop_tracing())
    counts = after["counts"]
    check(counts["rate"] == 44100, "the worklet runs at %r Hz" % counts["rate"])
    check(counts["startFrame"] is not None, "the music never started")
    check(counts["shortQuanta"] == 0, "%d quanta were not full of music"
          % counts["shortQuanta"])
    check(counts["lateBlocks"] == 0, "%d blocks were late" % counts["lateBlocks"])
    called = (counts["quanta"] - before["counts"]["quanta"]) * 128 / 44100
    rendered = after["time"] - before["time"]
    check(rendered > 3 and abs(called - rendered) < 0.05,
          "the context rendered %.2f s, the worklet was called for %.2f s" % (rendered, called))
    check(len(costs) >= counts["quanta"] - 10, "%d of %d calls traced"
          % (len(costs), counts["quanta"]))
    cpu = [c for _, c in costs]
    slow = [c for c in cpu if c >= QUANTUM_US / 2]
    underruns = browser.evaluate("window.demoAudioContext.playbackStats ? "
                                 "window.demoAudioContext.playbackStats.underrunEvents : -1")
    print("%d calls (%.1f s): CPU per call mean %.0f us, max %d us, %d at half a quantum or "
          "more; wall max %d us; underrun events %d"
          % (len(costs), len(costs) * 128 / 44100, sum(cpu) / len(cpu), max(cpu), len(slow),
             max(w for w, _ in costs), underruns))


RESUME_HINT = "tap, click or press a key for the music"


def test_resume_after_suspend(serve_site, browser):
    """A context the browser suspends stops the worklet and the page says so;
    the next key or click resumes it, the blocks flow again from where the
    generator was (not faster, to catch up), and Escape still ends the show."""
    start_music(serve_site, browser)
    status = "document.getElementById('status')"
    for resume in (lambda: browser.press("a", "KeyA"), lambda: click_frame(browser)):
        state = browser.evaluate("window.demoAudioContext.suspend()"
                                 ".then(() => window.demoAudioContext.state)")
        check(state == "suspended", "the context is %r" % state)
        wait_until(lambda: browser.evaluate(status + ".hidden === false && "
                                            + status + ".textContent") == RESUME_HINT,
                   30, "the page saying how to resume")
        stopped = audio_report(browser)
        time.sleep(1.5)  # the time is what is tested: nothing may flow for this long
        still = audio_report(browser)
        check(still["counts"]["quanta"] == stopped["counts"]["quanta"]
              and still["blocks"] == stopped["blocks"],
              "the worklet went on while suspended: %r then %r" % (stopped, still))
        resume()
        wait_until(lambda: browser.evaluate("window.demoAudioContext.state") == "running", 30,
                   "the context running again")
        wait_until(lambda: browser.evaluate(status + ".hidden"), 30, "the hint hidden")
        resumed = audio_report(browser)
        time.sleep(2)  # the time is what is tested: the pace over 2 s, not catching up
        later = audio_report(browser)
        counts = later["counts"]
        check(later["blocks"] >= still["blocks"] + 2, "the blocks did not flow again: %d then %d"
              % (still["blocks"], later["blocks"]))
        # The music goes on at its own pace: the generator stays at most one
        # block ahead of what has played, and no more was played than rendered.
        played = counts["musicQuanta"] * 128
        check(later["blocks"] <= played // 20000 + 2,
              "%d blocks made for %d frames played" % (later["blocks"], played))
        called = (counts["quanta"] - resumed["counts"]["quanta"]) * 128 / 44100
        check(abs(called - (later["time"] - resumed["time"])) < 0.05,
              "%.2f s played in %.2f s of the context" % (called, later["time"] - resumed["time"]))
        check(counts["shortQuanta"] == 0 and counts["lateBlocks"] == 0, "counts: %r" % counts)
    browser.evaluate("window.demoAudioContext.suspend()")
    browser.press("Escape", "Escape")
    wait_until(lambda: browser.evaluate("window.demoAudioContext.state") == "closed", 30,
               "Escape closing the context")
    check(browser.evaluate(status + ".textContent") == "stopped: click to start again",
          "after Escape the page says %r" % browser.evaluate(status + ".textContent"))
    errors = browser.evaluate("document.getElementById('page-errors').textContent")
    check(errors == "", "errors: %r" % errors)


def tap(browser, x, y):
    """A one-finger tap at page coordinates (touch emulation must be on)."""
    browser.send("Input.dispatchTouchEvent", type="touchStart", touchPoints=[{"x": x, "y": y}])
    browser.send("Input.dispatchTouchEvent", type="touchEnd", touchPoints=[])


def box(browser, element_id):
    return browser.evaluate("(() => { const r = document.getElementById('%s')"
                            ".getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; })()"
                            % element_id)


def shown(browser, element_id):
    return browser.evaluate("getComputedStyle(document.getElementById('%s')).display !== 'none'"
                            % element_id)


def test_touch_screen(serve_site, browser):
    """On a phone (touch emulation, 390x844 CSS pixels): the frame is as
    large as fits, 4:3 and centred, held upright and turned; a tap on the
    bar above the frame starts the show; the fullscreen control is shown,
    takes the stage fullscreen and back without stopping the show, and
    starts nothing itself."""
    site = serve_site()
    browser.send("Emulation.setTouchEmulationEnabled", enabled=True, maxTouchPoints=5)
    browser.open(site.url)
    start_line = browser.evaluate("document.getElementById('status').textContent")
    check(start_line == "Tap to start", "a touch screen is told %r" % start_line)
    for width, height, want in ((390, 844, [0, (844 - 292.5) / 2, 390, 292.5]),
                                (844, 390, [(844 - 520) / 2, 0, 520, 390])):
        browser.send("Emulation.setDeviceMetricsOverride", width=width, height=height,
                     deviceScaleFactor=1, mobile=True)
        wait_for_value(lambda: box(browser, "screen"),
                       lambda got: all(abs(a - b) < 1 for a, b in zip(got, want)), 10,
                       "the canvas at %r at %dx%d" % (want, width, height), 0.1)
    check(shown(browser, "fullscreen"), "no fullscreen control on a touch screen")
    x, y, w, h = box(browser, "fullscreen")
    tap(browser, x + w / 2, y + h / 2)
    wait_until(lambda: browser.evaluate("document.fullscreenElement && "
                                        "document.fullscreenElement.id") == "stage", 30,
               "the stage fullscreen after a tap on the control")
    time.sleep(0.5)  # a negative check: nothing may start in this time
    check(browser.evaluate("window.demoTimes.start") is None,
          "a tap on the fullscreen control started the show")
    browser.send("Emulation.setDeviceMetricsOverride", width=390, height=844,
                 deviceScaleFactor=1, mobile=True)
    wait_for_value(lambda: box(browser, "screen"), lambda got: got[1] > 100, 10,
                   "the frame below y 100 when held upright", 0.1)
    # Above the frame, on the black bar.
    tap(browser, 195, 100)
    wait_until(lambda: (browser.evaluate("window.demoTimes.blocks") or 0) >= 2, 15,
               "the show started by a tap on the bar above the frame")
    x, y, w, h = box(browser, "fullscreen")
    tap(browser, x + w / 2, y + h / 2)
    wait_until(lambda: browser.evaluate("document.fullscreenElement") is None, 30,
               "fullscreen left after a second tap on the control")
    frames = browser.evaluate("window.demoTimes.frames")
    wait_until(lambda: browser.evaluate("window.demoTimes.frames") > frames, 10,
               "the frames to go on after the fullscreen control", 0.1)
    status = browser.evaluate("document.getElementById('status').hidden")
    check(status, "the page shows %r" % browser.evaluate(
        "document.getElementById('status').textContent"))
    errors = browser.evaluate("document.getElementById('page-errors').textContent")
    check(errors == "", "errors: %r" % errors)


def test_fullscreen_control_hidden(serve_site, browser):
    """No fullscreen control with a mouse alone (F and a double-click do
    it), nor on a touch screen whose browser has no fullscreen (an iPhone's)."""
    site = serve_site()
    browser.open(site.url)
    check(not shown(browser, "fullscreen"), "a fullscreen control without a touch screen")
    browser.send("Emulation.setTouchEmulationEnabled", enabled=True, maxTouchPoints=5)
    browser.send("Page.enable")
    browser.send("Page.addScriptToEvaluateOnNewDocument", source=(
        "Object.defineProperty(Document.prototype, 'fullscreenEnabled', {get: () => false})"))
    browser.open(site.url)
    check(browser.evaluate("document.fullscreenEnabled") is False, "fullscreen still enabled")
    check(not shown(browser, "fullscreen"),
          "a fullscreen control where the browser has no fullscreen")


def show_state(browser):
    return browser.evaluate("""window.demoAudioReport().then((counts) => ({
        quanta: counts.quanta, blocks: window.demoTimes.blocks,
        frames: window.demoTimes.frames, clock: window.demoShowClock(),
        time: window.demoAudioContext.currentTime, state: window.demoAudioContext.state,
        wall: performance.now(), hidden: document.hidden }))""")


def test_hidden_tab_pauses(serve_site, browser):
    """A tab hidden behind another pauses the show: no frames, no music
    (the context suspended, the worklet not called) and the show's clock
    stands. Shown again, all three go on, the clock having moved with the
    music over the whole time (so the scenes stay with the music), not
    with the wall clock."""
    start_music(serve_site, browser)
    page = next(t["targetId"] for t in browser.send("Target.getTargets")["targetInfos"]
                if t["type"] == "page" and t["url"].startswith("http://127.0.0.1"))
    before = show_state(browser)
    other = browser.send("Target.createTarget", url="about:blank")["targetId"]
    try:
        wait_until(lambda: browser.evaluate("window.demoAudioContext.state") == "suspended", 30,
                   "the music suspended in a hidden tab")
        hidden = show_state(browser)
        check(hidden["hidden"], "the page is not hidden behind the second tab")
        time.sleep(2)  # the time is what is tested: nothing may move for this long
        still = show_state(browser)
        for what in ("quanta", "blocks", "frames", "clock"):
            check(still[what] == hidden[what], "%s went on in the hidden tab: %r then %r"
                  % (what, hidden[what], still[what]))
        browser.send("Target.activateTarget", targetId=page)
        wait_until(lambda: browser.evaluate("window.demoAudioContext.state") == "running", 30,
                   "the music running again")
        after = wait_for_value(lambda: show_state(browser),
                               lambda now: now["frames"] > still["frames"] + 10
                               and now["blocks"] > still["blocks"], 15,
                               "the show to go on after %r" % still, 0.1)
    finally:
        browser.send("Target.closeTarget", targetId=other)
    wall = after["wall"] - before["wall"]
    clock = after["clock"] - before["clock"]
    music = (after["time"] - before["time"]) * 1000
    check(wall - clock > 1900, "the clock went on while hidden: %.0f ms in %.0f ms" % (clock, wall))
    check(abs(clock - music) < 150, "the clock moved %.0f ms, the music %.0f ms" % (clock, music))
    check(browser.evaluate("document.getElementById('status').hidden"),
          "the page shows %r" % browser.evaluate("document.getElementById('status').textContent"))
    print("over %.0f ms, %.0f hidden: clock %.0f ms, music %.0f ms"
          % (wall, still["wall"] - hidden["wall"], clock, music))


FLASHING_WARNING = ("This show contains rapid full-screen flashing.\n"
                    "Reduced flashing is chosen below; untick it for the original.\n"
                    "Tap, click or press a key again to start.")


def test_flashing_warning(serve_site, browser):
    """With prefers-reduced-motion: reduce, the first click (or ?autostart)
    shows the flashing warning with the reduced show ticked and starts
    nothing, Escape does not start it either; the next click or key starts
    the show, reduced. Without the preference the choice is unticked."""
    site = serve_site()
    browser.send("Emulation.setEmulatedMedia", features=[
        {"name": "prefers-reduced-motion", "value": "reduce"}])
    status = "document.getElementById('status').textContent"
    for url, first, second in ((site.url, lambda: click_frame(browser),
                                lambda: click_frame(browser)),
                               (site.url + "?autostart", None,
                                lambda: browser.press("a", "KeyA"))):
        browser.open(url)
        if first:
            first()
        wait_until(lambda: browser.evaluate(status) == FLASHING_WARNING, 30,
                   "the flashing warning (%s)" % url)
        browser.press("Escape", "Escape")
        time.sleep(1)  # a negative check: nothing may start in this time
        check(browser.evaluate("window.demoTimes.start") is None,
              "the show started without a second gesture (%s)" % url)
        check(browser.evaluate(status) == FLASHING_WARNING, "the warning went away")
        second()
        wait_until(lambda: (browser.evaluate("window.demoTimes.blocks") or 0) >= 2, 15,
                   "the show started by the second gesture (%s)" % url)
        check(browser.evaluate("document.getElementById('status').hidden"),
              "the warning is still shown")
        check(browser.evaluate("document.getElementById('reduce-flashes').checked"),
              "the reduced show was not offered (%s)" % url)
    browser.send("Emulation.setEmulatedMedia", features=[
        {"name": "prefers-reduced-motion", "value": "no-preference"}])
    browser.open(site.url)
    check(not browser.evaluate("document.getElementById('reduce-flashes').checked"),
          "the reduced show is ticked without being asked for")


def test_black_before_start(serve_site, browser, tmp_path):
    """Under the start screen, the canvas waiting for the click is painted
    black while the page waits."""
    site = serve_site()
    browser.open(site.url)
    browser.evaluate("document.getElementById('start').hidden = "
                     "document.getElementById('status').hidden = true")
    shot = tmp_path / "waiting.png"
    shot.write_bytes(base64.b64decode(browser.send("Page.captureScreenshot",
                                                   format="png")["data"]))
    pixels = subprocess.run(["convert", str(shot), "rgb:-"], capture_output=True,
                            check=True).stdout
    black = sum(1 for i in range(0, len(pixels), 3) if pixels[i:i + 3] == b"\0\0\0")
    check(black >= 0.97 * len(pixels) / 3,
          "only %d of %d pixels are black before the start" % (black, len(pixels) // 3))


def test_first_picture(serve_site, web_paths, tmp_path):
    """A screenshot after ?autostart is warning.jpg pixel for pixel."""
    site = serve_site()
    shot = str(tmp_path / "shot.png")
    chromium(["--virtual-time-budget=2000", "--window-size=640,480",
              "--screenshot=" + shot, site.url + "?autostart"])
    check(os.path.exists(shot), "no screenshot")
    got = subprocess.run(["convert", shot, "-crop", "640x480+0+0", "rgb:-"],
                         capture_output=True, check=True).stdout
    want = subprocess.run(["djpeg", "-pnm", os.path.join(web_paths.data, "warning.jpg")],
                          capture_output=True, check=True).stdout
    want = want[len(want) - 640 * 480 * 3:]
    differ = sum(1 for i in range(0, len(want), 3) if got[i:i + 3] != want[i:i + 3])
    check(len(got) == len(want) and differ == 0,
          "%d of 307200 pixels differ from warning.jpg" % differ)


def worker_ready(browser, url):
    """Waits for the site's service worker to be active after this first
    load, then for a visit controlled by it (a page that was still loading
    when the worker came may be left uncontrolled); returns the names of the
    caches."""
    state = browser.evaluate("navigator.serviceWorker.ready.then((r) => r.active.state)")
    check(state in ("activating", "activated"), "the service worker is %r" % state)
    if not browser.evaluate("!!navigator.serviceWorker.controller"):
        browser.open(url)
    wait_until(lambda: browser.evaluate("!!navigator.serviceWorker.controller"), 30,
               "the page controlled by the service worker", 0.2)
    return browser.evaluate("caches.keys()")


def render_crcs(browser, url):
    browser.open(url + "?render=60&fps=60")
    wait_for_title(browser, "render done", 120)
    return browser.evaluate("document.getElementById('render-crc').textContent")


def test_installable_and_offline(serve_site, browser):
    """Installable (no installability error, a manifest that parses, its two
    icons and the link preview's poster decode at their sizes), and kept by
    the service worker: with the host gone, a reload shows the start page, a
    click starts the show, and the render mode gives the same checksums."""
    site = serve_site()
    online = render_crcs(browser, site.url)
    browser.open(site.url)
    worker_ready(browser, site.url)
    errors = browser.send("Page.getInstallabilityErrors")["installabilityErrors"]
    check(errors == [], "installability errors: %r" % errors)
    manifest = browser.send("Page.getAppManifest")
    check(manifest["errors"] == [], "manifest errors: %r" % manifest["errors"])
    preview = browser.evaluate(
        "document.querySelector('meta[property=\"og:image\"]').content")
    sizes = browser.evaluate("""Promise.all(%s.map((name) => fetch(name)
        .then((reply) => reply.blob()).then(createImageBitmap)
        .then((image) => [name, image.width, image.height])))"""
                             % json.dumps(["icon-192.png", "icon-512.png", preview]))
    check(sizes == [["icon-192.png", 192, 192], ["icon-512.png", 512, 512],
                    [preview, 640, 480]], "the images decode as %r" % sizes)

    site.close()  # the host is gone
    browser.open(site.url)
    start_line = browser.evaluate("document.getElementById('status').textContent")
    check(start_line == "Click or press a key to start", "offline, the page says %r" % start_line)
    click_frame(browser)
    wait_until(lambda: browser.evaluate("window.demoTimes.frames") > 30, 30,
               "frames of the show started offline", 0.2)
    errors = browser.evaluate("document.getElementById('page-errors').textContent")
    check(errors == "", "errors offline: %r" % errors)
    check(render_crcs(browser, site.url) == online, "offline, the render's checksums differ")


def test_updated_site_taken_on_the_next_visit(serve_site, browser, tmp_path):
    """One file of the site changed and the site rebuilt (its worker written
    again by the build's own step): the visit after the one that sees the
    update is served the new file, and the old cache is gone."""
    site = serve_site()
    browser.open(site.url)
    old_caches = worker_ready(browser, site.url)
    with open(os.path.join(site.folder, "page.js"), "a") as f:
        f.write("\nwindow.siteVersion = 2;\n")
    with open(os.path.join(site.folder, "sw.js")) as f:
        files = json.loads(re.search(r"const FILES = (\[.*?\]);", f.read()).group(1))
    template = str(tmp_path / "service_worker.js")
    shutil.copy(os.path.join(ROOT, "platform", "web", "service_worker.js"), template)
    subprocess.run(["cmake", "-DSITE=" + site.folder, "-DTEMPLATE=" + template,
                    "-DFILES=" + ",".join(name for name in files if name != "./"),
                    "-P", os.path.join(ROOT, "cmake", "site-worker.cmake")], check=True)
    browser.open(site.url)  # sees the new worker, which takes over
    # Active once it has deleted the old cache.
    wait_for_value(lambda: browser.evaluate("caches.keys()"),
                   lambda caches: len(caches) == 1 and caches != old_caches, 30,
                   "the new cache alone in place of the old", 0.2)
    browser.open(site.url)
    check(browser.evaluate("window.siteVersion") == 2, "the second visit still had the old page")
