#!/usr/bin/python3
"""The same show everywhere: renders the whole show with the Linux renderer,
with the Windows renderer under Wine and in the browser (the page's render
mode for the frames, the worklet's synth.wasm under Node for the music), and
checks that every platform gives the same bytes:

  wav      the whole show's 22050 Hz WAV data
  wav44100 the whole show's 44100 Hz WAV data (the project's upsampler)
  log      the frame log, every frame
  crc      every frame's CRC-32
  reduced  every frame's CRC-32 with the flashing reduced (--reduce-flashes)
  hour     an hour of 22050 Hz audio

Prints one line per output with each platform's SHA-256 (first 16 digits).
Exit status 0 when all agree, 1 when any differ or a run fails, 77 when a
platform's tools are missing (each said on a line)."""
import argparse
import hashlib
import html
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SHOW_SECONDS = 110
FPS = 60


def digest(data):
    return hashlib.sha256(data).hexdigest()


def wav_data_digest(path):
    """SHA-256 of a WAV file's samples (all after the 44-byte header), read
    in pieces: an hour is 317 MB."""
    hash_ = hashlib.sha256()
    with open(path, "rb") as f:
        f.seek(44)
        for piece in iter(lambda: f.read(1 << 20), b""):
            hash_.update(piece)
    return hash_.hexdigest()


def run(command, env=None, timeout=1800):
    started = time.monotonic()
    result = subprocess.run(command, env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, timeout=timeout)
    if result.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (command[0], result.returncode,
                                                  result.stderr.strip()[-500:]))
    return time.monotonic() - started


def renderer_outputs(prefix, data, folder, host_path=lambda p: p, env=None, hour=3600):
    """The outputs of one of the native renderers (Linux, or Windows under
    Wine when `prefix` starts with wine)."""
    path = lambda name: host_path(os.path.join(folder, name))
    common = [*prefix, "--pictures", host_path(data), "--force"]
    took = run([*common, "--wav", path("show.wav"), "--log", path("show.log"),
                "--crc", path("show.crc")], env)
    took += run([*common, "--wav-rate", "44100", "--wav", path("show44100.wav")], env)
    took += run([*common, "--reduce-flashes", "--crc", path("reduced.crc")], env)
    took += run([*common, "--seconds", "%d" % hour, "--fps", "1", "--wav", path("hour.wav")], env)
    with open(os.path.join(folder, "show.log"), "rb") as f:
        log = f.read()
    with open(os.path.join(folder, "show.crc"), "rb") as f:
        crc = f.read()
    with open(os.path.join(folder, "reduced.crc"), "rb") as f:
        reduced = f.read()
    outputs = {"wav": wav_data_digest(os.path.join(folder, "show.wav")),
               "wav44100": wav_data_digest(os.path.join(folder, "show44100.wav")),
               "log": digest(log), "crc": digest(crc), "reduced": digest(reduced),
               "hour": wav_data_digest(os.path.join(folder, "hour.wav"))}
    return outputs, took


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def node(arguments):
    result = subprocess.run(["node", *arguments], capture_output=True, text=True, timeout=1800)
    if result.returncode != 0:
        raise RuntimeError("synth.wasm under Node: " + result.stderr.strip()[-500:])
    return result.stdout.strip()


def page_render(site, query):
    """The page's render mode in headless Chromium: its DOM once done."""
    profile = tempfile.mkdtemp(prefix="queltravine-chromium-")
    server = subprocess.Popen([sys.executable, "-u", "-m", "http.server", "--bind", "127.0.0.1",
                               "0"], cwd=site, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
    try:
        port = re.search(r"port (\d+)", server.stdout.readline()).group(1)
        url = "http://127.0.0.1:%s/?%s" % (port, query)
        return subprocess.run(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu",
             "--user-data-dir=" + profile, "--virtual-time-budget=900000", "--dump-dom", url],
            capture_output=True, text=True, timeout=1200).stdout
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(profile, ignore_errors=True)


def page_element(dom, name):
    match = re.search(r'id="%s"[^>]*>(.*?)</(pre|div)>' % name, dom, re.S)
    if not match:
        raise RuntimeError("the page's render wrote no %s" % name)
    return html.unescape(match.group(1)).encode()


def browser_outputs(site, hour):
    """The page's render mode in headless Chromium (log and checksums of every
    frame, plain and with the flashing reduced), and synth.wasm under Node
    (the music)."""
    started = time.monotonic()
    render = "render=%d&fps=%d" % (SHOW_SECONDS * FPS, FPS)
    dom = page_render(site, render)
    reduced = page_render(site, render + "&reduce-flashes=1")
    outputs = {"log": digest(page_element(dom, "render-log")),
               "crc": digest(page_element(dom, "render-crc")),
               "reduced": digest(page_element(reduced, "render-crc"))}
    synth = os.path.join(site, "synth.wasm")
    for name, seconds in (("wav", SHOW_SECONDS), ("hour", hour)):
        outputs[name] = node([os.path.join(HERE, "wasm_audio.mjs"), synth, str(seconds)])
    # The worklet's 44100 Hz music, driven one render quantum at a time.
    with tempfile.TemporaryDirectory() as folder:
        raw = os.path.join(folder, "show44100.raw")
        node([os.path.join(HERE, "..", "web", "synth_stream.cjs"), synth, str(SHOW_SECONDS), raw])
        with open(raw, "rb") as f:
            outputs["wav44100"] = digest(f.read())
    return outputs, time.monotonic() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--linux-render", required=True)
    parser.add_argument("--windows-render", help="queltravine-render.exe, run under Wine")
    parser.add_argument("--wine-prefix", help="an existing Wine prefix (default: a new one)")
    parser.add_argument("--site", help="the built web site (build-web/site)")
    parser.add_argument("--data", required=True, help="the six pictures")
    parser.add_argument("--hour-seconds", type=int, default=3600,
                        help="length of the long audio comparison (default 3600)")
    args = parser.parse_args()
    data = os.path.abspath(args.data)

    results = {}
    missing = []
    work = tempfile.mkdtemp(prefix="queltravine-identity-")
    try:
        folder = os.path.join(work, "linux")
        os.mkdir(folder)
        results["Linux"] = renderer_outputs([os.path.abspath(args.linux_render)], data, folder,
                                            hour=args.hour_seconds)

        if not args.windows_render or not shutil.which("wine"):
            missing.append("Windows (no --windows-render, or Wine is not installed)")
        else:
            folder = os.path.join(work, "windows")
            os.mkdir(folder)
            env = dict(os.environ, WINEDEBUG="-all", DISPLAY="")
            env["WINEPREFIX"] = args.wine_prefix or os.path.join(work, "wine-prefix")
            results["Windows"] = renderer_outputs(
                ["wine", os.path.abspath(args.windows_render)], data, folder, wine_path, env,
                args.hour_seconds)

        if not args.site or not shutil.which("chromium") or not shutil.which("node"):
            missing.append("the browser (no --site, or Chromium or Node is missing)")
        else:
            results["browser"] = browser_outputs(os.path.abspath(args.site), args.hour_seconds)
    except (RuntimeError, subprocess.TimeoutExpired) as failure:
        print("FAILED: %s" % failure)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)

    platforms = list(results)
    print("%-9s %s" % ("", " ".join("%-17s" % p for p in platforms)))
    differ = []
    for output in ("wav", "wav44100", "log", "crc", "reduced", "hour"):
        values = [results[p][0][output] for p in platforms]
        same = all(v == values[0] for v in values)
        if not same:
            differ.append(output)
        print("%-9s %s %s" % (output, " ".join("%-17s" % v[:16] for v in values),
                              "same" if same else "DIFFER"))
    print("time: " + ", ".join("%s %.0f s" % (p, results[p][1]) for p in platforms))
    for line in missing:
        print("SKIPPED: " + line)
    if differ:
        print("FAILED: %s differ between platforms" % ", ".join(differ))
        return 1
    return 77 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
