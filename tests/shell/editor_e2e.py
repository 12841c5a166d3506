#!/usr/bin/env python3
"""Starts the real zefedit on the demo project under a virtual X display, takes a screenshot of
the whole screen and checks that the main window and the six decks are drawn where the default
layout puts them (the Info Deck with the project's lines on black).

Usage: editor_e2e.py ZEFEDIT ZEFDEMO WORKDIR
Exit status 0 on success, 77 when no virtual display can be started, 1 on failure. The
screenshot is kept as WORKDIR/editor.png.
"""
import os
import re
import shutil
import subprocess
import sys
import time

WIDTH, HEIGHT = 1600, 1200

# Window title, then x, y, width, height of the default layout.
EXPECTED = {
    "demo - ZEF Rondavo": (0, 0, 640, 82),
    "Clip Deck": (0, 82, 640, 180),
    "Timeline Deck": (0, 262, 640, 360),
    "Info Deck": (0, 622, 640, 360),
    "Preview Deck": (640, 0, 560, 420),
    "VCR Deck": (640, 420, 560, 110),
    "Parameters Deck": (640, 530, 560, 440),
}


def start_display():
    if not shutil.which("Xvfb"):
        return None, None
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{WIDTH}x{HEIGHT}x24",
         "-nolisten", "tcp"],
        pass_fds=(write_end,), stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    if not number.strip():
        xvfb.kill()
        return None, None
    return xvfb, ":" + number.decode().strip()


def windows(display):
    out = subprocess.run(["xwininfo", "-root", "-tree", "-display", display],
                         capture_output=True, text=True).stdout
    found = {}
    for m in re.finditer(r'"([^"]+)": \(.*?\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)', out):
        found[m.group(1)] = (int(m.group(4)), int(m.group(5)), int(m.group(2)), int(m.group(3)))
    return found


def grab(display, png, crop=None):
    """A screenshot (cropped to x, y, w, h when given) and a pixel reader for it."""
    args = ["ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-video_size",
            f"{WIDTH}x{HEIGHT}", "-i", display, "-frames:v", "1"]
    w, h = WIDTH, HEIGHT
    if crop:
        x, y, w, h = crop
        args += ["-vf", f"crop={w}:{h}:{x}:{y}"]
    subprocess.run(args + [png], check=True)
    raw = subprocess.run(["ffmpeg", "-loglevel", "error", "-i", png, "-f", "rawvideo",
                          "-pix_fmt", "rgb24", "-"], capture_output=True, check=True).stdout
    return lambda px, py: tuple(raw[(py * w + px) * 3:(py * w + px) * 3 + 3])


def xdo(display, *args):
    subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=display), check=True)


def wait_for(predicate, seconds=20.0):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if predicate():
            return True
        time.sleep(0.1)
    return False


def editor_env(display, work, **extra):
    """The environment of an editor under test: the display (X11, not Wayland) and the settings,
    data, state and runtime folders inside work, the settings starting empty."""
    env = dict(os.environ, DISPLAY=display, XDG_CONFIG_HOME=os.path.join(work, "config"),
               XDG_DATA_HOME=os.path.join(work, "data"),
               XDG_STATE_HOME=os.path.join(work, "state"),
               XDG_RUNTIME_DIR=os.path.join(work, "runtime"), QT_QPA_PLATFORM="xcb", **extra)
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
    env.pop("WAYLAND_DISPLAY", None)
    shutil.rmtree(env["XDG_CONFIG_HOME"], ignore_errors=True)
    return env


def luma(rgb):
    r, g, b = rgb
    return (299 * r + 587 * g + 114 * b) // 1000


def main():
    zefedit, zefdemo, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    project = os.path.join(work, "demo.zef")
    subprocess.run([zefdemo, "--size", "640x480", project], check=True,
                   stdout=subprocess.DEVNULL)

    xvfb, display = start_display()
    if not xvfb:
        print("no virtual display (Xvfb) here")
        return 77
    env = editor_env(display, work)
    editor = subprocess.Popen([zefedit, project], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)
    failures = []
    try:
        found = {}
        deadline = time.time() + 60
        while time.time() < deadline and editor.poll() is None:
            found = windows(display)
            if all(name in found for name in EXPECTED):
                break
            time.sleep(0.2)
        time.sleep(1.0)  # let every window paint
        if editor.poll() is not None:
            failures.append("zefedit ended early: " + editor.stdout.read())
        pixel = grab(display, os.path.join(work, "editor.png"))

        for name, want in EXPECTED.items():
            got = found.get(name)
            if got != want:
                failures.append(f"{name}: at {got}, expected {want}")
                continue
            x, y, w, h = want
            main = name.startswith("demo")
            middle = pixel(x + (w // 2 if main else w // 4), y + 11 if main else y + 4 + 9)
            if luma(middle) > 100:
                failures.append(f"{name}: caption strip not drawn (pixel {middle})")
            # The main bar's ground between the Settings and Render buttons; a deck's client
            # (the Clip Deck's between its buttons and its clip strip, the VCR Deck's beside
            # its buttons). The Preview Deck shows the composition's first picture instead.
            if name == "Info Deck":
                # The project's lines on black: the amber heading of the first one.
                if luma(pixel(x + w // 2, y + h - 12)) > 20:
                    failures.append("Info Deck: no black ground for the lines")
                amber = any(pixel(px, py)[0] > 200 and 150 < pixel(px, py)[1] < 230 and
                            pixel(px, py)[2] < 80
                            for px in range(x + 5, x + 120) for py in range(y + 24, y + 40))
                if not amber:
                    failures.append("Info Deck: no project information drawn")
                continue
            if name == "Preview Deck":
                if max(luma(pixel(x + 20 + i * (w - 40) // 10, y + h // 2)) for i in range(11)) < 60:
                    failures.append("Preview Deck: no picture")
                continue
            if main:
                body = pixel(x + 290, y + 42)
            elif name == "Clip Deck":
                body = pixel(x + 71, y + h - 12)
            elif name == "VCR Deck":
                body = pixel(x + w - 12, y + h - 12)
            else:
                body = pixel(x + w // 2, y + h - 12)
            if not 100 <= luma(body) <= 180:
                failures.append(f"{name}: deck background not drawn (pixel {body})")
        # The main bar's message area is a black line; the VCR Deck shows cyan time digits.
        if luma(pixel(320, 22 + 48)) > 20:
            failures.append("main bar: message area not drawn")
        vx, vy, vw, vh = EXPECTED["VCR Deck"]
        cyan = any(pixel(px, py)[0] < 80 and pixel(px, py)[1] > 160 and pixel(px, py)[2] > 160
                   for px in range(vx, vx + vw // 2) for py in range(vy + 22, vy + vh - 4))
        if not cyan:
            failures.append("VCR Deck: no time digits")
    finally:
        editor.kill()
        editor.wait()
        xvfb.kill()
        xvfb.wait()
    for f in failures:
        print("FAIL:", f)
    print("screenshot:", os.path.join(work, "editor.png"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
