#!/usr/bin/env python3
"""Broadcasts the demo live from the output settings deck of the real zefedit under a virtual X
display, as a user would with xdotool: the main bar's Render button brings up the deck
(caption "Parameters: Project"), "Details" shows its full form, "Component:" becomes "Live Broadcast",
"Component Setup" is confirmed, "Live Setup" gets the server, port and title of an RTMP
receiver on 127.0.0.1 (ffmpeg, listening, started by the test), "Enable" is checked and
"Record Now!" starts the broadcast. While it runs the main bar shows the progress; afterwards
ffprobe must read the received stream with the composition's size and length.

The deck is kept as WORKDIR/output-deck.png, the main bar during the broadcast as
WORKDIR/main-bar.png.

Usage: output_deck_e2e.py ZEFEDIT ZEFDEMO WORKDIR
Exit status 0 on success, 77 when no virtual display (or xdotool) is there, 1 on failure.
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "shell"))
from editor_e2e import editor_env, grab, start_display, wait_for, windows, xdo  # noqa: E402

SIZE = (320, 240)
LENGTH = 22.0  # seconds: the demo's render range

# Controls of the deck's page, from the deck's top-left corner (frame 4, caption 18).
PAGE = (4, 22)
RENDER_BUTTON = (299 + 17, 22 + 2 + 17)  # in the main window
DETAILS = (476 + 32, 128 + 13)
COMPONENT = (84 + 150, 270 + 12)
COMPONENT_SETUP = (392 + 74, 269 + 13)
LIVE_SETUP = (420 + 60, 326 + 13)
ENABLE = (12 + 8, 331 + 9)
RECORD_NOW = (420 + 60, 58 + 15)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    """Whether something listens on the port, from the kernel's table: a connection to try
    would be taken as the stream."""
    with open("/proc/net/tcp") as f:
        return any(line.split()[1].endswith(f":{port:04X}") and line.split()[3] == "0A"
                   for line in f.readlines()[1:])


def main():
    zefedit, zefdemo, work = (os.path.abspath(a) for a in sys.argv[1:4])
    os.makedirs(work, exist_ok=True)
    if not shutil.which("xdotool"):
        print("xdotool missing")
        return 77
    project = os.path.join(work, "demo.zef")
    subprocess.run([zefdemo, "--size", f"{SIZE[0]}x{SIZE[1]}", project], check=True,
                   stdout=subprocess.DEVNULL)
    received = os.path.join(work, "received.flv")
    if os.path.exists(received):
        os.remove(received)

    xvfb, display = start_display()
    if not xvfb:
        print("no virtual display (Xvfb) here")
        return 77
    env = editor_env(display, work)
    port = free_port()
    receiver = subprocess.Popen(["ffmpeg", "-v", "error", "-y", "-listen", "1", "-i",
                                 f"rtmp://127.0.0.1:{port}/live/show", "-c", "copy", received])
    editor = None
    failures = []
    try:
        if not wait_for(lambda: listening(port)):
            raise RuntimeError("the receiver does not listen")
        editor = subprocess.Popen([zefedit, project], env=env, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, text=True, cwd=work)
        if not wait_for(lambda: "Parameters Deck" in windows(display), 60):
            raise RuntimeError("the editor did not appear")
        time.sleep(1.0)
        xdo(display, "mousemove", *map(str, RENDER_BUTTON), "click", "1")
        # The deck keeps its window name; it takes the short height of the output settings.
        if not wait_for(lambda: windows(display)["Parameters Deck"][3] < 300):
            raise RuntimeError("the Render button did not bring up the output settings")
        deck = windows(display)["Parameters Deck"]

        def at(control):
            return str(deck[0] + PAGE[0] + control[0]), str(deck[1] + PAGE[1] + control[1])

        xdo(display, "mousemove", *at(DETAILS), "click", "1")
        time.sleep(0.5)
        deck = windows(display)["Parameters Deck"]
        xdo(display, "mousemove", *at(COMPONENT), "click", "1")
        time.sleep(0.5)
        xdo(display, "type", "--delay", "50", "Live")
        xdo(display, "key", "Return")
        time.sleep(0.5)
        xdo(display, "mousemove", *at(COMPONENT_SETUP), "click", "1")
        if not wait_for(lambda: "Live Broadcast Settings" in windows(display)):
            raise RuntimeError("Component Setup showed no settings dialog")
        time.sleep(0.5)
        xdo(display, "key", "Return")
        wait_for(lambda: "Live Broadcast Settings" not in windows(display))
        time.sleep(0.3)
        xdo(display, "mousemove", *at(LIVE_SETUP), "click", "1")
        if not wait_for(lambda: "Server Settings" in windows(display)):
            raise RuntimeError("Live Setup showed no server settings")
        time.sleep(0.5)
        # Port, Server, then Title.
        for text in (str(port), "127.0.0.1", "show"):
            xdo(display, "type", "--delay", "20", text)
            xdo(display, "key", "Tab")
        xdo(display, "key", "Return")
        wait_for(lambda: "Server Settings" not in windows(display))
        time.sleep(0.3)
        xdo(display, "mousemove", *at(ENABLE), "click", "1")
        xdo(display, "mousemove", "5", "5")
        time.sleep(0.5)
        grab(display, os.path.join(work, "screen.png"))
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-i",
                        os.path.join(work, "screen.png"), "-vf",
                        f"crop={deck[2]}:{deck[3]}:{deck[0]}:{deck[1]}",
                        os.path.join(work, "output-deck.png")], check=True)

        started = time.time()
        xdo(display, "mousemove", *at(RECORD_NOW), "click", "1")
        xdo(display, "mousemove", "5", "5")
        time.sleep(6.0)
        main = windows(display)["demo - ZEF Rondavo"]
        pixel = grab(display, os.path.join(work, "during.png"))
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-i",
                        os.path.join(work, "during.png"), "-vf",
                        f"crop={main[2]}:{main[3]}:{main[0]}:{main[1]}",
                        os.path.join(work, "main-bar.png")], check=True)
        # The main bar's progress area (below its buttons): the part done is lit green.
        lit = pixel(main[0] + 8, main[1] + 22 + 37 + 10)
        if not (lit[1] > 240 and lit[0] < 230):
            failures.append(f"no progress in the main bar during the broadcast (pixel {lit})")
        try:
            receiver.wait(timeout=LENGTH + 30)
        except subprocess.TimeoutExpired:
            raise RuntimeError("the broadcast did not end")
        took = time.time() - started
        if took < LENGTH - 1:
            failures.append(f"the broadcast took {took:.1f} s: not paced in real time")
        probe = json.loads(subprocess.run(
            ["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", received],
            capture_output=True, text=True).stdout or "{}")
        video = [s for s in probe.get("streams", []) if s.get("codec_type") == "video"]
        sound = [s for s in probe.get("streams", []) if s.get("codec_type") == "audio"]
        if not video:
            failures.append("ffprobe finds no pictures in the received stream")
        else:
            if (video[0]["width"], video[0]["height"]) != SIZE:
                failures.append(f"received {video[0]['width']}x{video[0]['height']}, not {SIZE}")
            duration = float(probe["format"]["duration"])
            if abs(duration - LENGTH) > 0.3:
                failures.append(f"received {duration:.2f} s, not {LENGTH}")
        if not sound:
            failures.append("ffprobe finds no sound in the received stream")
        if editor.poll() is not None:
            failures.append("zefedit ended early: " + editor.stdout.read())
    except RuntimeError as e:
        failures.append(str(e))
        grab(display, os.path.join(work, "failure.png"))
    finally:
        if editor:
            editor.kill()
            editor.wait()
        receiver.kill()
        receiver.wait()
        xvfb.kill()
        xvfb.wait()
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
