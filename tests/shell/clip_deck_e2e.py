#!/usr/bin/env python3
"""Edits a project through the Clip Deck of the real zefedit under a virtual X display, as a user
would: xdotool clicks the deck's "Load Clip into List" button and types the file's path into the
file dialog (twice), moves the VCR Deck's time with the keys, razors with Ctrl+R, saves with
Ctrl+S (the save dialog of an untitled project), undoes with Ctrl+Z and saves again. The saved
projects must hold the clips as edited: the cut clip twice after the razor, once after the undo.
The clip strip on the screen must show the same columns. Then ten more clips are added and the
strip, scrolled to the last one, is kept as WORKDIR/clip-deck.png.

Usage: clip_deck_e2e.py ZEFEDIT WORKDIR
Exit status 0 on success, 77 when no virtual display (or gsf) is there, 1 on failure.
"""
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from editor_e2e import editor_env, grab, luma, start_display, wait_for, windows, xdo  # noqa: E402

# The Clip Deck's controls, from the deck's top-left corner (its frame, caption and the
# button columns are fixed; the strip fills the rest).
LOAD_CLIP = (39 + 15, 24 + 15)
STRIP = (73, 24)           # the strip's top-left corner
SLOT_X, SLOT_STEP = 25, 88  # slot k begins at SLOT_X + k * SLOT_STEP in the strip
ROW_HEIGHT = 24
VISIBLE = 6

# Test clips: (file, movie source of the ffmpeg program, size, seconds).
CLIPS = [
    ("bars.mov", "testsrc", "160x120", 4),
    ("wide.mov", "smptebars", "320x180", 3),
    ("second.mov", "testsrc2", "160x120", 2),
    ("pal.mov", "pal75bars", "160x120", 5),
    ("rgb.mov", "rgbtestsrc", "160x120", 3),
    ("mandel.mov", "mandelbrot", "160x120", 6),
    ("portrait.mov", "life", "90x160", 2),
    ("gradient.mov", "gradients", "320x180", 4),
    ("triangle.mov", "sierpinski", "160x120", 3),
    ("spectrum.mov", "colorspectrum", "160x120", 7),
    ("yuv.mov", "yuvtestsrc", "160x120", 2),
    ("cells.mov", "cellauto", "160x120", 5),
]


def make_clips(work):
    paths = []
    for name, source, size, seconds in CLIPS:
        path = os.path.join(work, name)
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        f"{source}=size={size}:rate=25", "-t", str(seconds), "-pix_fmt",
                        "yuv420p", "-c:v", "mpeg4", "-q:v", "4", path], check=True)
        paths.append(path)
    return paths


def dialog_open(display):
    names = windows(display)
    return any(re.fullmatch(r"Open|Save.*|Save Project.*", n) for n in names)


def choose_file(display, path):
    """Types a path into the file dialog that has just opened and confirms it."""
    if not wait_for(lambda: dialog_open(display)):
        raise RuntimeError("no file dialog appeared")
    time.sleep(0.3)
    xdo(display, "type", "--delay", "2", path)
    xdo(display, "key", "Return")
    if not wait_for(lambda: not dialog_open(display)):
        raise RuntimeError("the file dialog stayed open")
    time.sleep(0.5)


def stored_count(project, needle):
    """How often a clip's path is stored in the project's "Header" stream (once per item)."""
    data = subprocess.run(["gsf", "cat", project, "Header"], capture_output=True,
                          check=True).stdout
    return data.count(needle.encode())


def strip_columns(pixel, deck):
    """Which visible slots of the strip hold a column, and which one is the Selection: a column's
    name row is filled black (the Selection) or (48, 48, 48); an empty slot shows its picture."""
    x0, y0 = deck[0] + STRIP[0], deck[1] + STRIP[1]
    kinds = []
    for k in range(VISIBLE):
        v = luma(pixel(x0 + SLOT_X + k * SLOT_STEP + 4, y0 + 4))
        kinds.append("selected" if v < 20 else "column" if v < 60 else "empty")
    return kinds


def main():
    zefedit, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    os.makedirs(work, exist_ok=True)
    if not shutil.which("gsf") or not shutil.which("xdotool"):
        print("gsf or xdotool missing")
        return 77
    clips = make_clips(work)
    razored = os.path.join(work, "razored.zef")
    if os.path.exists(razored):
        os.remove(razored)

    xvfb, display = start_display()
    if not xvfb:
        print("no virtual display (Xvfb) here")
        return 77
    env = editor_env(display, work)
    failures = []
    editor = None
    try:
        editor = subprocess.Popen([zefedit], env=env, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, text=True, cwd=work)
        if not wait_for(lambda: "Clip Deck" in windows(display), 60):
            raise RuntimeError("the Clip Deck did not appear")
        time.sleep(1.0)
        deck = windows(display)["Clip Deck"][:2]
        load = (deck[0] + LOAD_CLIP[0], deck[1] + LOAD_CLIP[1])

        for path in clips[:2]:
            xdo(display, "mousemove", *map(str, load), "click", "1")
            choose_file(display, path)

        # The VCR Deck's time to 2 s (Shift+Right: half a second), then the razor on Layer A.
        xdo(display, "key", "Home")
        for _ in range(4):
            xdo(display, "key", "shift+Right")
        xdo(display, "key", "ctrl+r")
        time.sleep(0.5)
        pixel = grab(display, os.path.join(work, "razored.png"))
        shown = strip_columns(pixel, deck)
        if shown[:4] != ["column", "selected", "column", "empty"]:
            failures.append(f"after the razor the strip shows {shown}")
        xdo(display, "key", "ctrl+s")
        choose_file(display, razored)
        if not wait_for(lambda: os.path.exists(razored)):
            raise RuntimeError("the project was not saved")
        counts = (stored_count(razored, clips[0]), stored_count(razored, clips[1]))
        if counts != (2, 1):
            failures.append(f"saved after the razor: the clips stored {counts} times, not (2, 1)")

        # Undo the razor and save again, to the same file now that the project has a name.
        saved = os.path.getmtime(razored)
        xdo(display, "key", "ctrl+z")
        time.sleep(0.5)
        os.utime(razored, (saved - 10, saved - 10))
        xdo(display, "key", "ctrl+s")
        if not wait_for(lambda: os.path.getmtime(razored) > saved - 5):
            raise RuntimeError("the undone project was not saved")
        counts = (stored_count(razored, clips[0]), stored_count(razored, clips[1]))
        if counts != (1, 1):
            failures.append(f"saved after the undo: the clips stored {counts} times, not (1, 1)")
        pixel = grab(display, os.path.join(work, "undone.png"))
        shown = strip_columns(pixel, deck)
        if shown[:3] != ["column", "column", "empty"] and shown[:3] != ["column", "selected",
                                                                         "empty"]:
            failures.append(f"after the undo the strip shows {shown}")

        # A dozen clips: the strip scrolls so that the newest, selected, is the last visible.
        for path in clips[2:]:
            xdo(display, "mousemove", *map(str, load), "click", "1")
            choose_file(display, path)
        xdo(display, "mousemove", "5", "5")
        time.sleep(0.5)
        pixel = grab(display, os.path.join(work, "screen.png"))
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-i",
                        os.path.join(work, "screen.png"), "-vf",
                        f"crop=640:180:{deck[0]}:{deck[1]}", os.path.join(work, "clip-deck.png")],
                       check=True)
        shown = strip_columns(pixel, deck)
        if shown != ["column"] * 5 + ["selected"]:
            failures.append(f"with twelve clips the strip shows {shown}")
        if editor.poll() is not None:
            failures.append("zefedit ended early: " + editor.stdout.read())
    except RuntimeError as e:
        failures.append(str(e))
        grab(display, os.path.join(work, "failure.png"))
    finally:
        if editor:
            editor.kill()
            editor.wait()
        xvfb.kill()
        xvfb.wait()
    for f in failures:
        print("FAIL:", f)
    print("screenshot:", os.path.join(work, "clip-deck.png"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
