#!/usr/bin/env python3
"""Checks that includes point down the layers, never up.

core/ includes nothing of the project; the platform-free subsystems include
core/ and each other, never a backend or an entry; a backend never includes
another backend; the renderer never includes the player's entries or a
backend; the entries (app/, the page's render mode too) may use the
renderer's frame loop; and a platform's own header is included only by a
backend or an entry.
Prints each offending include and exits 1 when there is one.
"""
import re
import sys
from pathlib import Path

SUBSYSTEMS = {"core", "scenes", "synth", "pictures", "platform"}
BACKENDS = {"platform/sdl", "platform/win32", "platform/web"}
# Which folders each folder may include from (besides itself).
ALLOWED = {
    "core": set(),
    "scenes": SUBSYSTEMS - {"platform"},
    "synth": SUBSYSTEMS - {"platform"},
    "pictures": SUBSYSTEMS - {"platform"},
    "platform": SUBSYSTEMS,
    "render": SUBSYSTEMS | {"render"},
    "app": SUBSYSTEMS | BACKENDS | {"app", "render"},
}
for backend in BACKENDS:
    ALLOWED[backend] = SUBSYSTEMS | {backend}
PLATFORM_HEADERS = {"SDL.h", "SDL2/SDL.h", "windows.h", "ddraw.h", "mmsystem.h", "emscripten.h"}

include = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.MULTILINE)


def folder_of(path: str) -> str:
    parts = path.split("/")
    if parts[0] == "platform" and len(parts) > 2:
        return "/".join(parts[:2])
    return parts[0]


def main() -> int:
    root = Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    faults = []
    for file in sorted(root.rglob("*")):
        if file.suffix not in {".h", ".cpp"}:
            continue
        relative = file.relative_to(root).as_posix()
        folder = folder_of(relative)
        if folder not in ALLOWED:
            continue  # tests, benchmarks and tools may include anything
        for kind, target in include.findall(file.read_text(encoding="utf-8")):
            if kind == "<":
                if folder not in BACKENDS | {"app"} and target in PLATFORM_HEADERS:
                    faults.append(f"{relative}: <{target}> belongs in a backend or an entry")
                continue
            target_folder = folder_of(target)
            if target_folder == folder or target_folder in ALLOWED[folder]:
                continue
            faults.append(f'{relative}: "{target}" points up or sideways ({folder} -> {target_folder})')
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
