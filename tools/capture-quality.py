#!/usr/bin/env python3
"""How close a video capture comes to the lossless master, scene by scene.

For a stretch of every scene it renders the video with the settings given
and the lossless master of the same frames (--from makes both start at the
same frame index), decodes the video to RGB at its own size twice (chroma
taken by nearest neighbour, as an exact decoder does, and interpolated
bilinearly, as browsers and most players do), compares each with the master
enlarged to that size, and prints ffmpeg's PSNR for both and SSIM per scene
with the video's rate and the render's time.

    tools/capture-quality.py                       # the default --video
    tools/capture-quality.py -- --crf 18 --scale 4
    tools/capture-quality.py -- --chroma 444
    tools/capture-quality.py --frames 120 --scenes 3,4 -- --preset fast

Needs ffmpeg. The renderer is build-test/queltravine-render unless --render
names another; the pictures are data/ unless --pictures names a folder.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# A time inside each scene, away from its edges: the warning, the credits,
# the XOR pattern, the noise and wave, the flicker and strip.
SCENE_STARTS = {0: 1.0, 1: 8.0, 2: 20.0, 3: 40.0, 4: 60.0}
SCENE_NAMES = {0: "warning", 1: "credits", 2: "XOR pattern", 3: "noise and wave",
               4: "flicker and strip"}
FPS = 60


def fail(message):
    print(f"capture-quality: {message}", file=sys.stderr)
    sys.exit(1)


def render(args, render_exe, pictures):
    command = [render_exe, "--pictures", pictures, "--force"] + args
    started = time.monotonic()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        fail("the renderer failed: " + " ".join(command) + "\n" + done.stderr)
    return time.monotonic() - started


def video_size(video):
    done = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                           "stream=width,height", "-of", "csv=p=0", video],
                          capture_output=True, text=True)
    if done.returncode != 0:
        fail("ffprobe could not read " + video + "\n" + done.stderr)
    width, height = done.stdout.strip().split(",")
    return int(width), int(height)


def compare(video, master, chroma_filter):
    """PSNR (average over the frames, RGB) and SSIM (all) of the video, its
    chroma decoded with chroma_filter ("point" or "bilinear"), against the
    master enlarged to the video's size. Both are timed by frame index: the
    containers' timebases differ."""
    width, height = video_size(video)
    decode = ("zscale=matrixin=709:rangein=limited:chromal=center:filter=%s,format=gbrp"
              % chroma_filter)
    graph = (f"[0:v]setpts=N/TB/60,{decode},split[v1][v2];"
             f"[1:v]setpts=N/TB/60,scale={width}:{height}:flags=neighbor,format=gbrp,"
             "split[m1][m2];[v1][m1]psnr;[v2][m2]ssim")
    done = subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-i", video, "-i", master,
                           "-lavfi", graph, "-f", "null", "-"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    psnr = re.search(r"PSNR .*average:(\S+)", done.stderr)
    ssim = re.search(r"SSIM .*All:(\S+)", done.stderr)
    if done.returncode != 0 or psnr is None or ssim is None:
        fail("ffmpeg could not compare " + video + " with " + master + "\n" + done.stderr)
    return float(psnr.group(1)), float(ssim.group(1))


def main():
    parser = argparse.ArgumentParser(
        description="PSNR and SSIM of a video capture against the lossless master, per scene.")
    parser.add_argument("--render", default=os.path.join(ROOT, "build-test", "queltravine-render"))
    parser.add_argument("--pictures", default=os.path.join(ROOT, "data"))
    parser.add_argument("--frames", type=int, default=60, help="frames per scene (default 60)")
    parser.add_argument("--scenes", default="0,1,2,3,4", help="which scenes (default all)")
    parser.add_argument("--extension", default="mp4", help="of the video (default mp4)")
    parser.add_argument("settings", nargs="*", help="the renderer's options for the video")
    options = parser.parse_args()
    if shutil.which("ffmpeg") is None:
        fail("needs ffmpeg (Debian package 'ffmpeg')")
    if not os.access(options.render, os.X_OK):
        fail(f"no renderer at {options.render}: build it or give --render")
    try:
        scenes = [int(s) for s in options.scenes.split(",")]
    except ValueError:
        fail(f"'{options.scenes}' is not a list of scenes")
    if options.frames < 1 or any(s not in SCENE_STARTS for s in scenes):
        fail("scenes are 0 to 4 and --frames is at least 1")

    print(f"Settings: {' '.join(options.settings) or '(the defaults)'}; "
          f"{options.frames} frames per scene, PSNR in RGB at the video's size")
    print("| Scene | PSNR, nearest chroma | PSNR, bilinear chroma | SSIM (bilinear) "
          "| Rate | Size a minute | Render |")
    print("|---|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory(prefix="capture-quality-") as work:
        for scene in scenes:
            start = SCENE_STARTS[scene]
            stretch = ["--from", f"{start:g}", "--fps", str(FPS),
                       # Half a frame past the last one, so that rounding
                       # cannot add or drop a frame.
                       "--seconds", f"{start + (options.frames + 0.5) / FPS:.6f}"]
            video = os.path.join(work, f"scene{scene}.{options.extension}")
            master = os.path.join(work, f"scene{scene}.mkv")
            seconds = render(stretch + ["--video", video] + options.settings,
                             options.render, options.pictures)
            render(stretch + ["--video", master, "--lossless"], options.render, options.pictures)
            nearest, _ = compare(video, master, "point")
            bilinear, ssim = compare(video, master, "bilinear")
            rate = os.path.getsize(video) / 1000 / (options.frames / FPS)
            print(f"| {scene} {SCENE_NAMES[scene]} | {nearest:.1f} dB | {bilinear:.1f} dB | "
                  f"{ssim:.4f} | {rate:,.0f} kB/s | {rate * 60 / 1000:,.1f} MB | "
                  f"{seconds:.1f} s |", flush=True)


if __name__ == "__main__":
    main()
