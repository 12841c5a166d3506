#!/usr/bin/env python3
"""Captures from the test pattern and tone through both capture engines in the real zefedit
under a virtual X display, driven as a user would (xdotool): the main bar's Capture button, the
capture page's "Capture preview", "Record Now!" with the file name typed into "Capture
audio/video clip to disk", "Record Now!" again after SECONDS, then the other engine's radio
button and the same again. Each file is read back with ffmpeg: every picture's frame number
(the blocks at the top of the pattern) gives the dropped frames, every beep's start against the
picture numbers the sound-to-picture offset. The project is saved with Ctrl+S and must name
both captured files (the clips in the gallery).

Usage: capture_e2e.py ZEFEDIT ZEFDEMO WORKDIR [SECONDS]   (default 60 s a capture)
Exit status 0 on success, 77 when no virtual display can be started, 1 on failure. Screenshots
are kept in WORKDIR (preview-*.png during each capture, after-*.png when it ended).
"""
import array
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "shell"))
from editor_e2e import editor_env, grab, start_display, wait_for, windows, xdo  # noqa: E402

CAPTURE_BUTTON = (350, 40)  # the main bar's camera
PREVIEW = (640, 0, 560, 420)  # the default layout's Preview Deck
PARAMS = (640, 530)  # and Parameters Deck
RECORD_NOW = (PARAMS[0] + 502, PARAMS[1] + 37)
ENGINE = {"plug-in": (PARAMS[0] + 280, PARAMS[1] + 37),  # the radio buttons' names
          "grabber": (PARAMS[0] + 160, PARAMS[1] + 37)}
CAPTURE_PREVIEW = (PARAMS[0] + 157, PARAMS[1] + 392)
ASK_TITLE = "Capture audio/video clip to disk"


def click(display, at):
    xdo(display, "mousemove", str(at[0]), str(at[1]))
    time.sleep(0.2)
    xdo(display, "click", "1")


def probe(path, entries, stream):
    return subprocess.run(["ffprobe", "-v", "error", "-select_streams", stream, "-show_entries",
                           entries, "-of", "csv=p=0", path],
                          capture_output=True, text=True).stdout.split()


def read_counters(path):
    """(time, number) of every picture: the pattern's blocks, read like readPatternCounter."""
    w, h = (int(v) for v in probe(path, "stream=width,height", "v:0")[0].split(","))
    num, den = (int(v) for v in probe(path, "stream=r_frame_rate", "v:0")[0].split("/"))
    times = [float(t) for t in probe(path, "packet=pts_time", "v:0") if t != "N/A"]
    bh = round(h / 18)
    # Every picture of the file once (no frames made up to keep a constant rate).
    band = subprocess.run(["ffmpeg", "-loglevel", "error", "-i", path, "-map", "0:v:0",
                           "-vsync", "passthrough", "-vf", f"crop={w}:{2 * bh}:0:0", "-f", "rawvideo", "-pix_fmt", "gray",
                           "-"], capture_output=True, check=True).stdout
    size = w * 2 * bh
    numbers = []
    for k in range(len(band) // size):
        frame = band[k * size:(k + 1) * size]

        def level(block):
            cx = round((block + 0.5) * w / 24)
            total = 0
            for y in range(bh - bh // 4, bh + bh // 4 + 1, 2):
                row = y * w
                total += sum(frame[row + cx - 2:row + cx + 3])
            return total / (5 * len(range(bh - bh // 4, bh + bh // 4 + 1, 2)))

        if level(1) < 160 or level(0) > 96:
            numbers.append(-1)
            continue
        n = 0
        for i in range(20):
            n = (n << 1) | (1 if level(i + 3) >= 128 else 0)
        numbers.append(n)
    return list(zip(times, numbers)), num / den


def read_beeps(path):
    pcm = subprocess.run(["ffmpeg", "-loglevel", "error", "-i", path, "-map", "0:a:0", "-ac",
                          "1", "-ar", "48000", "-f", "s16le", "-"],
                         capture_output=True, check=True).stdout
    samples = array.array("h", pcm)
    beeps, quiet = [], 0
    for i, v in enumerate(samples):
        if v > 2000 or v < -2000:
            if quiet > 24000:
                beeps.append(i / 48000)
            quiet = 0
        else:
            quiet += 1
    return beeps, len(samples) / 48000


def measure(path):
    """Pictures, dropped frames (gaps in the numbers), unreadable pictures, sound offset (s)."""
    pictures, rate = read_counters(path)
    beeps, sound_seconds = read_beeps(path)
    readable = [(t, n) for t, n in pictures if n >= 0]
    gaps = sum(max(0, b[1] - a[1] - 1) for a, b in zip(readable, readable[1:]))
    video = sum(t - n / rate for t, n in readable) / max(1, len(readable))
    shifts = [(b - video) - round(b - video) for b in beeps]
    offset = sum(shifts) / len(shifts) if shifts else None
    return {"pictures": len(pictures), "unreadable": len(pictures) - len(readable),
            "dropped": gaps, "offset": offset, "beeps": len(beeps), "rate": rate,
            "sound_seconds": sound_seconds}


def capture(display, work, engine, seconds, failures):
    """One capture through the capture page; returns the file it made."""
    name = os.path.join(work, f"take-{engine}")
    click(display, ENGINE[engine])
    time.sleep(2.0)
    if engine == "plug-in":
        click(display, CAPTURE_PREVIEW)
    time.sleep(2.0)
    pixel = grab(display, os.path.join(work, f"preview-{engine}.png"), PREVIEW)
    samples = [pixel(x, y) for x in range(40, 520, 40) for y in range(60, 400, 40)]
    if len(set(samples)) < 4:
        failures.append(f"{engine}: the Preview Deck shows no test pattern")
    click(display, RECORD_NOW)
    if not wait_for(lambda: ASK_TITLE in windows(display), 15):
        failures.append(f"{engine}: no '{ASK_TITLE}' question")
        return None
    x, y, w, h = windows(display)[ASK_TITLE]
    xdo(display, "mousemove", str(x + w // 2), str(y + h // 2))
    time.sleep(0.3)
    xdo(display, "key", "ctrl+a")
    xdo(display, "type", "--delay", "5", name)
    xdo(display, "key", "Return")
    started = time.time()
    time.sleep(min(5.0, seconds / 2))
    grab(display, os.path.join(work, f"capturing-{engine}.png"))
    time.sleep(max(0.0, seconds - (time.time() - started)))
    click(display, RECORD_NOW)
    file = name + (".AVI" if engine == "plug-in" else ".MOV")
    time.sleep(3.0)
    grab(display, os.path.join(work, f"after-{engine}.png"))
    if not os.path.exists(file):
        failures.append(f"{engine}: no file {file}")
        return None
    return file


def main():
    zefedit, zefdemo, work = sys.argv[1:4]
    seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 60.0
    work = os.path.abspath(work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    project = os.path.join(work, "demo.zef")
    subprocess.run([zefdemo, "--size", "320x240", project], check=True,
                   stdout=subprocess.DEVNULL)
    xvfb, display = start_display()
    if not xvfb:
        print("no virtual display (Xvfb) here")
        return 77
    env = editor_env(display, work, ZEF_AUDIO_OUTPUT="none", PULSE_SERVER="unix:/nonexistent")
    log = open(os.path.join(work, "zefedit.log"), "w")
    editor = subprocess.Popen([zefedit, project], env=env, stdout=log, stderr=subprocess.STDOUT)
    failures, results = [], {}
    try:
        if not wait_for(lambda: "Preview Deck" in windows(display), 60):
            failures.append("the editor did not open")
            raise RuntimeError
        time.sleep(2.0)
        click(display, CAPTURE_BUTTON)
        if not wait_for(lambda: any(t.startswith("Capture preview") for t in windows(display)),
                        20):
            failures.append("the Capture button did not put the Preview Deck into capture mode")
            raise RuntimeError
        for engine in ("plug-in", "grabber"):
            file = capture(display, work, engine, seconds, failures)
            if file:
                results[engine] = (file, measure(file))
        # The clips are in the gallery: the saved project names both files.
        xdo(display, "mousemove", str(PARAMS[0] + 300), str(PARAMS[1] + 200))
        xdo(display, "key", "ctrl+s")
        time.sleep(3.0)
        saved = open(project, "rb").read()
        for engine, (file, _) in results.items():
            if file.encode() not in saved and file.encode("utf-16-le") not in saved:
                failures.append(f"{engine}: the saved project does not name {file}")
    except RuntimeError:
        pass
    finally:
        editor.terminate()
        try:
            editor.wait(10)
        except subprocess.TimeoutExpired:
            editor.kill()
        xvfb.kill()
    for engine, (file, m) in results.items():
        offset = "none" if m["offset"] is None else f"{m['offset'] * 1000:+.1f} ms"
        print(f"{engine}: {os.path.basename(file)}: {m['pictures']} pictures at {m['rate']:.3f} "
              f"a second in {seconds:.0f} s, {m['dropped']} dropped, {m['unreadable']} "
              f"unreadable, {m['beeps']} beeps, sound {m['sound_seconds']:.2f} s, "
              f"sound-to-picture offset {offset}")
        expected = seconds * m["rate"]
        if m["pictures"] + m["dropped"] < 0.9 * expected:
            failures.append(f"{engine}: {m['pictures']} pictures for {seconds} s")
        if m["unreadable"]:
            failures.append(f"{engine}: {m['unreadable']} pictures without their number")
        if m["dropped"] > 0.02 * expected:
            failures.append(f"{engine}: {m['dropped']} frames dropped")
        if m["offset"] is None or m["beeps"] < seconds - 3:
            failures.append(f"{engine}: {m['beeps']} beeps in {seconds} s")
        elif abs(m["offset"]) > 0.5 / m["rate"]:
            failures.append(f"{engine}: sound off the picture by {m['offset'] * 1000:.1f} ms")
    if len(results) < 2 and not failures:
        failures.append("not every engine captured")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
