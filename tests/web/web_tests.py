#!/usr/bin/env python3
"""The browser build in headless Chromium, against the native renderer.

Serves a copy of the built site on 127.0.0.1 and runs each case with
Chromium's own command line (--dump-dom, --screenshot, virtual time):
  loads_cleanly     the start page, and ?autostart, without page errors
  render_matches    ?render: the frame log of 5 s at 60 fps and the frame
                    checksums of the whole show (every 30th frame, every scene)
                    equal queltravine-render's --log and --crc
  worklet_samples   the AudioWorklet's output, rendered offline, equals
                    fillStereoBlock of the same synth.wasm sample for sample
  plays_after_click one click starts frames and music; Escape stops both
  missing_picture   a site without part2.jpg shows "part2.jpg: ERROR LOCATING..."
  first_picture     a screenshot after ?autostart is warning.jpg pixel for pixel
  speed             (only when named) compose time per scene and animation frames
Exits 77 (skipped) when Chromium is missing.
"""
import argparse
import html
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import devtools

SKIP = 77


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def log(text):
    print(text, flush=True)


class Site:
    """A copy of the site served by Python's static server on a free port."""

    def __init__(self, site, leave_out=()):
        self.folder = tempfile.mkdtemp(prefix="queltravine-web-")
        for name in os.listdir(site):
            if name not in leave_out:
                shutil.copy(os.path.join(site, name), self.folder)
        shutil.copy(os.path.join(os.path.dirname(__file__), "worklet_check.html"), self.folder)
        self.server = subprocess.Popen(
            [sys.executable, "-u", "-m", "http.server", "--bind", "127.0.0.1", "0"],
            cwd=self.folder, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.server.stdout.readline()
        match = re.search(r"port (\d+)", line)
        check(match, "the static server did not start: " + line)
        self.url = "http://127.0.0.1:%s/" % match.group(1)

    def close(self):
        self.server.terminate()
        self.server.wait()
        shutil.rmtree(self.folder, ignore_errors=True)


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


def case_loads_cleanly(options):
    site = Site(options.site)
    try:
        dom = dump(site.url, 3000)
        check(element(dom, "status") == "click or press a key to start",
              "start page says %r" % element(dom, "status"))
        check(element(dom, "page-errors") == "", "errors: %r" % element(dom, "page-errors"))
        dom = dump(site.url + "?autostart", 3000)
        check(element(dom, "page-errors") == "", "errors: %r" % element(dom, "page-errors"))
        check('id="status" hidden' in dom or 'hidden="" id="status"' in dom
              or re.search(r'id="status"[^>]*hidden', dom), "the start line is still shown")
    finally:
        site.close()


def native(options, arguments):
    with tempfile.TemporaryDirectory() as folder:
        log_path = os.path.join(folder, "log.txt")
        crc_path = os.path.join(folder, "crc.txt")
        subprocess.run([options.render, "--pictures", options.data, "--log", log_path,
                        "--crc", crc_path, *arguments], check=True, capture_output=True)
        with open(log_path) as a, open(crc_path) as b:
            return a.read(), b.read()


def case_render_matches(options):
    site = Site(options.site)
    try:
        started = time.monotonic()
        dom = dump(site.url + "?render=300&fps=60", 120000)
        check("<title>render done</title>" in dom, "the render did not finish")
        want_log, want_crc = native(options, ["--seconds", "5", "--fps", "60"])
        check(element(dom, "render-log") == want_log, "the 5 s frame logs differ")
        check(element(dom, "render-crc") == want_crc, "the 5 s frame checksums differ")
        dom = dump(site.url + "?render=6600&fps=60&every=30", 600000)
        want_log, want_crc = native(options, ["--seconds", "110", "--fps", "60", "--every", "30"])
        got = element(dom, "render-crc").splitlines()
        want = want_crc.splitlines()
        differ = [k for k, (a, b) in enumerate(zip(got, want)) if a != b]
        check(len(got) == len(want) == 220 and not differ,
              "%d of %d checksums differ (first at line %s)" % (len(differ), len(want),
                                                                differ[:1]))
        check(element(dom, "render-log") == want_log, "the whole show's frame logs differ")
        log("  5 s and 110 s: logs and %d checksums equal (%.0f s)"
            % (len(want) + 300, time.monotonic() - started))
    finally:
        site.close()


def wait_for_title(browser, title, timeout):
    deadline = time.monotonic() + timeout
    while browser.evaluate("document.title") != title:
        check(time.monotonic() < deadline, "the page did not reach %r" % title)
        time.sleep(0.25)


def case_worklet_samples(options):
    # In real time over the DevTools protocol: an OfflineAudioContext's worklet
    # does not load under virtual time.
    site = Site(options.site)
    browser = devtools.Browser()
    try:
        browser.open(site.url + "worklet_check.html")
        wait_for_title(browser, "check done", 60)
        result = browser.evaluate("document.getElementById('result').textContent")
        match = re.match(r"samples (\d+) differ (\d+) loud (\d+)", result)
        check(match, "the check page says %r" % result)
        samples, differ, loud = map(int, match.groups())
        check(differ == 0, "%d of %d samples differ" % (differ, samples))
        check(loud > samples // 4, "the worklet is (nearly) silent: %d loud" % loud)
        log("  %d samples equal, %d above 1/128" % (samples, loud))
    finally:
        browser.close()
        site.close()


def case_plays_after_click(options):
    # In real time: one click starts the frames and the music, and Escape stops both.
    site = Site(options.site)
    browser = devtools.Browser()
    try:
        browser.open(site.url, settle=2)
        browser.evaluate("document.getElementById('frame').click()")
        time.sleep(3)
        times = browser.evaluate("window.demoTimes")
        check(times["firstFrame"] is not None, "no frame was shown after the click")
        # Two blocks are made at once, then one every 0.45 s of music.
        check(times["blocks"] >= 4, "the worklet made %d blocks in 3 s" % times["blocks"])
        log("  first frame %.0f ms after the click; %d blocks of music in 3 s"
            % (times["firstFrame"] - times["start"], times["blocks"]))
        browser.evaluate("document.dispatchEvent(new KeyboardEvent('keydown', {key: 'Escape'}))")
        time.sleep(0.5)
        blocks = browser.evaluate("window.demoTimes.blocks")
        time.sleep(1.5)
        check(browser.evaluate("window.demoTimes.blocks") == blocks, "the music went on")
        status = browser.evaluate("document.getElementById('status').textContent")
        check(status == "stopped: click to start again", "after Escape the page says %r" % status)
        errors = browser.evaluate("document.getElementById('page-errors').textContent")
        check(errors == "", "errors: %r" % errors)
    finally:
        browser.close()
        site.close()


def case_speed(options):
    """Not a check, run only when named: compose times per scene, and frames per second."""
    site = Site(options.site)
    browser = devtools.Browser()
    try:
        browser.open(site.url + "?render=6600&fps=60&every=1000000")
        wait_for_title(browser, "render done", 300)
        log(browser.evaluate("document.getElementById('render-times').textContent").rstrip())
        browser.open(site.url + "?autostart", settle=0)
        rates = browser.evaluate("""new Promise((done) => {
            const rates = []; let frames = 0; let second = performance.now();
            const count = (now) => {
              ++frames;
              if (now - second >= 1000) { rates.push(frames); frames = 0; second = now; }
              if (rates.length < 65) requestAnimationFrame(count); else done(rates);
            };
            requestAnimationFrame(count);
          })""", timeout=120)
        log("  animation frames per second over 65 s: " + " ".join(map(str, rates)))
        for _ in range(3):
            browser.open(site.url, settle=2)
            browser.evaluate("document.getElementById('frame').click()")
            time.sleep(2)
            times = browser.evaluate("window.demoTimes")
            log("  click to first frame: %.0f ms" % (times["firstFrame"] - times["start"]))
    finally:
        browser.close()
        site.close()


def case_missing_picture(options):
    site = Site(options.site, leave_out={"part2.jpg"})
    try:
        dom = dump(site.url + "?autostart", 5000)
        status = element(dom, "status") or ""
        check(status == "part2.jpg: ERROR LOCATING...", "the page says %r" % status)
    finally:
        site.close()


def case_first_picture(options):
    site = Site(options.site)
    try:
        with tempfile.TemporaryDirectory() as folder:
            shot = os.path.join(folder, "shot.png")
            chromium(["--virtual-time-budget=2000", "--window-size=640,480",
                      "--screenshot=" + shot, site.url + "?autostart"])
            check(os.path.exists(shot), "no screenshot")
            got = subprocess.run(["convert", shot, "-crop", "640x480+0+0", "rgb:-"],
                                 capture_output=True, check=True).stdout
            want = subprocess.run(["djpeg", "-pnm", os.path.join(options.data, "warning.jpg")],
                                  capture_output=True, check=True).stdout
            want = want[len(want) - 640 * 480 * 3:]
            differ = sum(1 for i in range(0, len(want), 3) if got[i:i + 3] != want[i:i + 3])
            check(len(got) == len(want) and differ == 0,
                  "%d of 307200 pixels differ from warning.jpg" % differ)
    finally:
        site.close()


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}
NOT_BY_DEFAULT = {"speed"}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--site", required=True)
    parser.add_argument("--render", required=True, help="the native queltravine-render")
    parser.add_argument("--data", required=True)
    parser.add_argument("cases", nargs="*")
    options = parser.parse_args()
    for tool in ("chromium", "convert", "djpeg"):
        if shutil.which(tool) is None:
            print("skipped: the browser tests need %s" % tool)
            return SKIP
    failed = []
    for name in options.cases or [c for c in CASES if c not in NOT_BY_DEFAULT]:
        started = time.monotonic()
        try:
            CASES[name](options)
            log("PASS %s (%.1f s)" % (name, time.monotonic() - started))
        except (Failure, subprocess.SubprocessError, RuntimeError, OSError) as failure:
            failed.append(name)
            log("FAIL %s: %s" % (name, failure))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
