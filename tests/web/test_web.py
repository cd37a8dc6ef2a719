"""The browser build in headless Chromium, against the native renderer.

Each test serves a copy of the built site on 127.0.0.1. Most use Chromium's
own command line (--dump-dom, --screenshot, virtual time); the real-time
ones drive it over the DevTools protocol.
"""
import html
import os
import re
import shutil
import subprocess
import tempfile
import time

import pytest

from x11_checks import check, wait_until


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


def native(paths, arguments):
    """The native renderer's frame log and frame checksums."""
    with tempfile.TemporaryDirectory() as folder:
        log_path = os.path.join(folder, "log.txt")
        crc_path = os.path.join(folder, "crc.txt")
        subprocess.run([paths.render, "--pictures", paths.data, "--log", log_path,
                        "--crc", crc_path, *arguments], check=True, capture_output=True)
        with open(log_path) as a, open(crc_path) as b:
            return a.read(), b.read()


def wait_for_title(browser, title, timeout):
    deadline = time.monotonic() + timeout
    while browser.evaluate("document.title") != title:
        check(time.monotonic() < deadline, "the page did not reach %r" % title)
        time.sleep(0.25)


def test_loads_cleanly(serve_site):
    """The start page, and ?autostart, without page errors."""
    site = serve_site()
    dom = dump(site.url, 3000)
    check(element(dom, "status") == "click or press a key to start",
          "start page says %r" % element(dom, "status"))
    check(element(dom, "page-errors") == "", "errors: %r" % element(dom, "page-errors"))
    dom = dump(site.url + "?autostart", 3000)
    check(element(dom, "page-errors") == "", "errors: %r" % element(dom, "page-errors"))
    check('id="status" hidden' in dom or 'hidden="" id="status"' in dom
          or re.search(r'id="status"[^>]*hidden', dom), "the start line is still shown")


def test_render_matches(serve_site, web_paths):
    """?render: the frame log of 5 s at 60 fps and the frame checksums of the
    whole show (every 30th frame, every scene) equal queltravine-render's
    --log and --crc."""
    site = serve_site()
    started = time.monotonic()
    dom = dump(site.url + "?render=300&fps=60", 120000)
    check("<title>render done</title>" in dom, "the render did not finish")
    want_log, want_crc = native(web_paths, ["--seconds", "5", "--fps", "60"])
    check(element(dom, "render-log") == want_log, "the 5 s frame logs differ")
    check(element(dom, "render-crc") == want_crc, "the 5 s frame checksums differ")
    dom = dump(site.url + "?render=6600&fps=60&every=30", 600000)
    want_log, want_crc = native(web_paths, ["--seconds", "110", "--fps", "60", "--every", "30"])
    got_crc = element(dom, "render-crc")
    check(got_crc is not None, "the whole show's render wrote no checksums")
    got = got_crc.splitlines()
    want = want_crc.splitlines()
    differ = [k for k, (a, b) in enumerate(zip(got, want)) if a != b]
    check(len(got) == len(want) == 220 and not differ,
          "%d of %d checksums differ (first at line %s)" % (len(differ), len(want),
                                                            differ[:1]))
    check(element(dom, "render-log") == want_log, "the whole show's frame logs differ")
    print("5 s and 110 s: logs and %d checksums equal (%.0f s)"
          % (len(want) + 300, time.monotonic() - started))


def test_worklet_samples(serve_site, browser):
    """The AudioWorklet's output, rendered offline, equals fillStereoBlock of
    the same synth.wasm sample for sample. In real time over the DevTools
    protocol: an OfflineAudioContext's worklet does not load under virtual
    time."""
    site = serve_site()
    browser.open(site.url + "worklet_check.html")
    wait_for_title(browser, "check done", 60)
    result = browser.evaluate("document.getElementById('result').textContent")
    match = re.match(r"samples (\d+) differ (\d+) loud (\d+)", result or "")
    check(match, "the check page says %r" % result)
    samples, differ, loud = map(int, match.groups())
    check(differ == 0, "%d of %d samples differ" % (differ, samples))
    check(loud > samples // 4, "the worklet is (nearly) silent: %d loud" % loud)
    print("%d samples equal, %d above 1/128" % (samples, loud))


def test_plays_after_click(serve_site, browser):
    """In real time: one click starts the frames and the music, and Escape
    stops both."""
    site = serve_site()
    browser.open(site.url, settle=2)
    browser.evaluate("document.getElementById('frame').click()")
    clicked = time.monotonic()
    # Two blocks are made at once, then one every 0.45 s of music: four
    # blocks come within about 1 s, later on a busy machine.
    wait_until(lambda: (browser.evaluate("window.demoTimes.blocks") or 0) >= 4, 15,
               "four blocks of music from the worklet")
    waited = time.monotonic() - clicked
    times = browser.evaluate("window.demoTimes")
    check(times and times["firstFrame"] is not None, "no frame was shown after the click")
    # The demo starts the audio twice; the second start leaves the stream.
    check(times["audioNodes"] == 1, "%d audio worklets were made" % times["audioNodes"])
    print("first frame %.0f ms after the click; %d blocks of music in %.1f s"
          % (times["firstFrame"] - times["start"], times["blocks"], waited))
    browser.evaluate("document.dispatchEvent(new KeyboardEvent('keydown', {key: 'Escape'}))")
    time.sleep(0.5)
    blocks = browser.evaluate("window.demoTimes.blocks")
    time.sleep(1.5)
    check(browser.evaluate("window.demoTimes.blocks") == blocks, "the music went on")
    status = browser.evaluate("document.getElementById('status').textContent")
    check(status == "stopped: click to start again", "after Escape the page says %r" % status)
    errors = browser.evaluate("document.getElementById('page-errors').textContent")
    check(errors == "", "errors: %r" % errors)


def test_missing_picture(serve_site):
    """A site without part2.jpg shows "part2.jpg: ERROR LOCATING..."."""
    site = serve_site(leave_out={"part2.jpg"})
    dom = dump(site.url + "?autostart", 5000)
    status = element(dom, "status") or ""
    check(status == "part2.jpg: ERROR LOCATING...", "the page says %r" % status)


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


@pytest.mark.measure
def test_speed(serve_site, browser, options):
    """Not a check: compose times per scene, animation frames per second, and
    the time from a click to the first frame."""
    site = serve_site()
    browser.open(site.url + "?render=6600&fps=60&every=1000000")
    wait_for_title(browser, "render done", 300)
    print(browser.evaluate("document.getElementById('render-times').textContent").rstrip())
    browser.open(site.url + "?autostart", settle=0)
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
        browser.open(site.url, settle=2)
        browser.evaluate("document.getElementById('frame').click()")
        time.sleep(2)
        times = browser.evaluate("window.demoTimes")
        print("click to first frame: %.0f ms" % (times["firstFrame"] - times["start"]))
