#!/usr/bin/env python3
"""Plays the demo project for 20 s through the real editor's Preview and VCR Decks under a
virtual X display and reports what the deck measured: pictures painted, dropped by the player
and replaced on the way to the window, and how far the picture on the screen was from the sound
heard. When the pulseaudio program is there, a private sound server with a null output (which
drains in real time) is started, so the sound goes through the desktop's sound output and is
the master clock; otherwise the editor plays on its steady clock.

What must hold even on a loaded machine is asserted: the time runs in real time, the pictures
keep coming and move, and the sound and pictures stay together on average. The rest is printed.

Usage: preview_e2e.py ZEFEDIT ZEFDEMO WORKDIR
Exit status 0 on success, 77 when no virtual display can be started, 1 on failure. Screenshots
of the decks before and while playing are kept in WORKDIR.
"""
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "shell"))
from editor_e2e import editor_env, grab, start_display, windows, xdo  # noqa: E402

PREVIEW = (640, 0, 560, 420)  # the default layout's Preview Deck
VCR = (640, 420, 560, 110)  # and VCR Deck
PLAY_SECONDS = 20.0


def start_sound(work):
    """A private sound server with a null output; (process, server address) or (None, None)."""
    if not shutil.which("pulseaudio"):
        return None, None
    folder = os.path.join(work, "pulse")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder, mode=0o700)
    socket = os.path.join(folder, "native")
    env = dict(os.environ, HOME=folder, XDG_RUNTIME_DIR=folder, PULSE_RUNTIME_PATH=folder)
    env.pop("DISPLAY", None)
    server = subprocess.Popen(
        ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
         "--load=module-null-sink sink_name=zef_null",
         f"--load=module-native-protocol-unix socket={socket} auth-anonymous=1"],
        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(50):
        if os.path.exists(socket):
            return server, "unix:" + socket
        if server.poll() is not None:
            return None, None
        time.sleep(0.1)
    server.kill()
    return None, None


def picture_pixels(pixel):
    """Samples of the Preview Deck's picture area (inside its frame and caption)."""
    x, y, w, h = PREVIEW
    return [pixel(x + 8 + i * (w - 16) // 24, y + 26 + j * (h - 34) // 16)
            for i in range(25) for j in range(17)]


def press_space(display, at):
    # Without a window manager the keys go to the window under the pointer.
    xdo(display, "mousemove", str(at[0]), str(at[1]))
    time.sleep(0.3)
    xdo(display, "key", "space")


def main():
    zefedit, zefdemo, work = sys.argv[1:4]
    work = os.path.abspath(work)  # the sound server's socket needs an absolute path
    os.makedirs(work, exist_ok=True)
    project = os.path.join(work, "demo.zef")
    subprocess.run([zefdemo, "--size", "640x480", project], check=True,
                   stdout=subprocess.DEVNULL)

    xvfb, display = start_display()
    if not xvfb:
        print("no virtual display (Xvfb) here")
        return 77
    sound, server = start_sound(work)
    env = editor_env(display, work, ZEF_PREVIEW_STATS="1")
    if server:
        env["PULSE_SERVER"] = server
        print("sound: a private sound server with a null output at", server)
    else:
        env["ZEF_AUDIO_OUTPUT"] = "none"
        print("sound: no sound server (pulseaudio is not installed or did not start)")
    log_path = os.path.join(work, "zefedit.log")
    log = open(log_path, "w")
    editor = subprocess.Popen([zefedit, project], env=env, stdout=log, stderr=subprocess.STDOUT)
    failures = []
    figures = None
    try:
        deadline = time.time() + 60
        while time.time() < deadline and editor.poll() is None:
            found = windows(display)
            if "Preview Deck" in found and "VCR Deck" in found:
                break
            time.sleep(0.2)
        time.sleep(3.0)  # the engine's first pass builds the preview movie
        if editor.poll() is not None:
            failures.append("zefedit ended early")
            raise RuntimeError
        before = picture_pixels(grab(display, os.path.join(work, "before.png")))
        if max(sum(p) for p in before) < 60:
            failures.append("the Preview Deck shows no picture before playing")

        vcr_blank = (VCR[0] + VCR[2] - 30, VCR[1] + VCR[3] - 40)  # beside the buttons
        press_space(display, vcr_blank)
        started = time.time()
        time.sleep(4.0)
        first = picture_pixels(grab(display, os.path.join(work, "playing-1.png")))
        time.sleep(1.0)
        second = picture_pixels(grab(display, os.path.join(work, "playing-2.png")))
        grab(display, os.path.join(work, "decks-playing.png"),
             (PREVIEW[0], PREVIEW[1], PREVIEW[2], PREVIEW[3] + VCR[3]))
        if first == second:
            failures.append("the picture did not move while playing")
        time.sleep(max(0.0, PLAY_SECONDS - (time.time() - started)))
        press_space(display, vcr_blank)
        wall = time.time() - started
        for _ in range(50):
            log.flush()
            text = open(log_path).read()
            m = re.search(r"preview: stopped at ([\d.]+) s; painted (\d+), dropped (\d+), "
                          r"replaced (\d+); sound-to-picture offset max ([\d.]+) ms, mean "
                          r"(-?[\d.]+) ms; sound (.*)", text)
            if m:
                figures = m
                break
            time.sleep(0.1)
        if not figures:
            failures.append("the deck reported no figures after pausing")
        else:
            played = float(figures.group(1))
            painted, dropped, replaced = (int(figures.group(i)) for i in (2, 3, 4))
            offset_max, offset_mean = float(figures.group(5)), float(figures.group(6))
            frames = played * 30
            print(f"played {played:.2f} s of the demo in {wall:.2f} s (sound: {figures.group(7)})")
            print(f"pictures: {painted} painted of {frames:.0f}, {dropped} dropped by the "
                  f"player, {replaced} replaced before painting "
                  f"({100.0 * (dropped + replaced) / max(frames, 1):.2f} % lost)")
            print(f"sound to picture on the screen: largest {offset_max:.1f} ms, mean "
                  f"{offset_mean:.1f} ms (one frame is 33.3 ms)")
            with open("/proc/loadavg") as f:
                print("load average:", " ".join(f.read().split()[:3]))
            if not 0.8 * wall <= played <= wall + 1.0:
                failures.append(f"played {played:.2f} s in {wall:.2f} s: not real time")
            if painted < frames * 0.5:
                failures.append(f"only {painted} of {frames:.0f} pictures painted")
            if abs(offset_mean) > 100:
                failures.append(f"pictures {offset_mean:.1f} ms from the sound on average")
    except RuntimeError:
        pass
    finally:
        editor.kill()
        editor.wait()
        log.close()
        if sound:
            sound.kill()
            sound.wait()
        xvfb.kill()
        xvfb.wait()
    for f in failures:
        print("FAIL:", f)
    print("screenshots:", os.path.join(work, "decks-playing.png"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
