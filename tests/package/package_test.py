#!/usr/bin/env python3
"""The packages of tools/package.sh, used as a user would use them.

The .deb: its contents, the desktop entry (desktop-file-validate), the manual
pages (man -l without warnings), lintian without errors; installed with apt,
the renderer run from an empty folder finds the installed pictures, the
player under Xvfb from an empty folder shows warning.jpg; removed, it leaves
no file behind. The Windows zip: unpacked, its exe runs windowed under Wine
from the unpacked folder. The web zip: its precompressed copies decompress
to their originals. Needs root (apt); exits 77 (skipped) without it.
"""
import glob
import gzip
import os
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from demo_names import PICTURES  # noqa: E402
from x11_checks import Failure, XServer, check, wait_until  # noqa: E402

SKIP = 77
WANTED = ["./usr/bin/queltravine", "./usr/bin/queltravine-render",
          "./usr/lib/queltravine/queltravine", "./usr/share/applications/queltravine.desktop",
          "./usr/share/man/man6/queltravine.6.gz", "./usr/share/man/man1/queltravine-render.1.gz",
          "./usr/share/doc/queltravine/copyright", "./usr/share/doc/queltravine/README.md",
          "./usr/share/icons/hicolor/48x48/apps/queltravine.png",
          "./usr/share/icons/hicolor/256x256/apps/queltravine.png"] + \
         ["./usr/share/queltravine/" + name for name in PICTURES]


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def check_contents(deb):
    listing = run(["dpkg-deb", "-c", deb], check=True).stdout
    names = {line.split()[-1] for line in listing.splitlines()}
    missing = [name for name in WANTED if name not in names]
    check(not missing, "the package lacks " + ", ".join(missing))
    with tempfile.TemporaryDirectory() as folder:
        run(["dpkg-deb", "-x", deb, folder], check=True)
        result = run(["desktop-file-validate",
                      os.path.join(folder, "usr/share/applications/queltravine.desktop")])
        check(result.returncode == 0 and not result.stdout.strip(),
              "desktop-file-validate: " + result.stdout + result.stderr)
        for page in ("usr/share/man/man6/queltravine.6.gz",
                     "usr/share/man/man1/queltravine-render.1.gz"):
            result = run(["man", "--warnings", "-l", os.path.join(folder, page)],
                         env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0"))
            check(result.returncode == 0 and not result.stderr.strip(),
                  "man -l %s: %s" % (page, result.stderr))
    result = run(["lintian", "--tag-display-limit", "0", deb])
    errors = [line for line in result.stdout.splitlines() if line.startswith("E:")]
    warnings = [line for line in result.stdout.splitlines() if line.startswith("W:")]
    for line in warnings:
        print("  lintian " + line)
    check(not errors, "lintian errors:\n" + "\n".join(errors))


def check_installed(deb):
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    result = run(["apt-get", "-o", "DPkg::Lock::Timeout=600", "install", "-y", "-q", "--no-install-recommends", deb], env=env)
    check(result.returncode == 0, "apt install failed: " + result.stderr[-2000:])
    files = [path for path in run(["dpkg", "-L", "queltravine"], check=True).stdout.splitlines()
             if os.path.isfile(path)]
    try:
        with tempfile.TemporaryDirectory() as empty:
            result = run(["queltravine-render", "--seconds", "1", "--wav", "out.wav"], cwd=empty)
            check(result.returncode == 0 and os.path.getsize(os.path.join(empty, "out.wav")) > 44,
                  "the installed renderer failed in an empty folder: " + result.stderr)
            check_player_shows_warning(empty)
    finally:
        result = run(["apt-get", "-o", "DPkg::Lock::Timeout=600", "purge", "-y", "-q", "queltravine"], env=env)
        check(result.returncode == 0, "apt purge failed: " + result.stderr[-2000:])
    left = [path for path in files if os.path.exists(path)]
    check(not left, "removing the package left " + ", ".join(left))
    print("  installed %d files, removed them all" % len(files))


def check_player_shows_warning(folder):
    # Returns once the server takes clients.
    xvfb = XServer("1024x768x24", env=dict(os.environ, SDL_AUDIODRIVER="dummy"))
    player = None
    try:
        env = xvfb.env
        player = subprocess.Popen(["queltravine", "-w"], cwd=folder, env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        want = subprocess.run(["djpeg", "-pnm", "/usr/share/queltravine/warning.jpg"],
                              capture_output=True, check=True).stdout[-640 * 480 * 3:]

        def shown():
            if player.poll() is not None:
                raise Failure("the installed player ended: " + player.stderr.read())
            shot = subprocess.run(["import", "-display", xvfb.display, "-window", "root", "-crop",
                                   "640x480+0+0", "-depth", "8", "rgb:-"], env=env,
                                  capture_output=True).stdout
            return shot[:len(want)] == want
        wait_until(shown, 30, "the installed player to show warning.jpg", 0.2)
    finally:
        try:
            if player is not None and player.poll() is None:
                player.terminate()
                try:
                    status = player.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    player.kill()
                    player.wait()
                    raise Failure("the installed player did not end on SIGTERM")
                check(status == 0, "SIGTERM ended the installed player with status %d" % status)
        finally:
            # Also when the player failed its check: the X server is not left running.
            xvfb.close()


def check_windows_zip(archive):
    with tempfile.TemporaryDirectory() as folder:
        with zipfile.ZipFile(archive) as bundle:
            bundle.extractall(folder)
        (unpacked,) = glob.glob(os.path.join(folder, "queltravine-*-windows-x64"))
        # The Windows suite's windowed case, under Debian's pytest.
        result = subprocess.run(
            ["pytest-3", os.path.join(ROOT, "tests/wine/test_windows_demo.py") + "::test_windowed",
             "-v", "--all-skipped-exit", str(SKIP),
             "--windows-exe", os.path.join(unpacked, "queltravine.exe"),
             "--wine-work", os.path.join(ROOT, "build-windows/wine-tests"),
             "--data", unpacked])
        if result.returncode == SKIP:
            return "SKIP"
        check(result.returncode == 0, "the zip's exe failed under Wine")
    return "PASS"


def check_web_zip(archive):
    """The site, and beside each file its precompressed copies: NAME.gz and
    NAME.br decompress to NAME exactly and are smaller; the page, the
    scripts and the two modules have both; the manifest, its icons, the
    poster and the service worker are there, and the site without the
    copies is within 1.5 MB."""
    with zipfile.ZipFile(archive) as bundle:
        files = {name: bundle.read(name) for name in bundle.namelist() if not name.endswith("/")}
    check("index.html" in files, "no index.html in the web bundle")
    copies = [name for name in files if name.endswith((".gz", ".br"))]
    for name in ("manifest.webmanifest", "icon-192.png", "icon-512.png", "poster.png", "sw.js"):
        check(name in files, "the web bundle has no " + name)
    for name in ("index.html", "page.js", "synth_worklet.js", "queltravine.js",
                 "queltravine.wasm", "synth.wasm"):
        for suffix in (".gz", ".br"):
            check(name + suffix in files, "the web bundle has no %s%s" % (name, suffix))
    for copy in copies:
        original = files.get(copy[:-3])
        check(original is not None, "the web bundle has %s but not its original" % copy)
        if copy.endswith(".gz"):
            unpacked = gzip.decompress(files[copy])
        else:
            unpacked = run_bytes(["brotli", "-d", "-c"], files[copy])
        check(unpacked == original, "%s does not decompress to %s" % (copy, copy[:-3]))
        check(len(files[copy]) < len(original), "%s is not smaller than its original" % copy)
    raw = sum(len(data) for name, data in files.items() if name not in copies)
    check(raw <= 1_500_000, "the site is %d bytes without its copies, over 1.5 MB" % raw)
    print("  web bundle: %d files, %d bytes; %d precompressed copies equal their originals"
          % (len(files) - len(copies), raw, len(copies)))


def run_bytes(command, data):
    result = subprocess.run(command, input=data, capture_output=True)
    check(result.returncode == 0, "%s failed: %s" % (" ".join(command), result.stderr[-500:]))
    return result.stdout


def main():
    if os.geteuid() != 0:
        print("skipped: the package tests install the .deb and need root")
        return SKIP
    debs = sorted(glob.glob(os.path.join(ROOT, "dist", "queltravine_*_amd64.deb")))
    zips = sorted(glob.glob(os.path.join(ROOT, "dist", "queltravine-*-windows-x64.zip")))
    webs = sorted(glob.glob(os.path.join(ROOT, "dist", "queltravine-*-web.zip")))
    failed = 0
    for name, step in (("deb contents", lambda: check_contents(debs[-1])),
                       ("deb installed and removed", lambda: check_installed(debs[-1])),
                       ("web bundle", lambda: check_web_zip(webs[-1])),
                       ("windows zip under Wine", lambda: check_windows_zip(zips[-1]))):
        try:
            check(debs and zips and webs, "run tools/package.sh first")
            print("%s %s" % (step() or "PASS", name), flush=True)
        except (Failure, subprocess.SubprocessError, OSError) as failure:
            failed += 1
            print("FAIL %s: %s" % (name, failure), flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
