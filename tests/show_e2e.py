#!/usr/bin/env python3
"""The real show under its own Xvfb, driven with xdotool.

usage: driver_e2e.py CASE PELMIRA PELMIRA_CAPTURE; exits 0 when the case holds.
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import wave

CASE, PELMIRA, CAPTURE = (sys.argv[1:4] + ["", "", ""])[:3]


def check(ok, message):
    if not ok:
        sys.exit(f"FAIL {CASE}: {message}")


class Xvfb:
    """A private X server; -displayfd lets it pick a free display number."""

    def __init__(self, screen="1024x768", *options):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen + "x24", "-nolisten",
             "tcp", *options], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            self.display = ":" + f.readline().strip()
        check(self.display != ":", "Xvfb did not start")

    def env(self, **extra):
        env = {k: v for k, v in os.environ.items() if k != "WAYLAND_DISPLAY"}
        return {**env, "DISPLAY": self.display, "SDL_AUDIODRIVER": "dummy",
                "PELMIRA_TIMING": "1", **extra}

    def run(self, *args):
        return subprocess.run(args, env=self.env(), capture_output=True, timeout=60)

    def start(self, **extra):
        return subprocess.Popen([PELMIRA], env=self.env(**extra), stderr=subprocess.PIPE, text=True)

    def start_running(self):
        """Starts the show and waits until its frame loop surely runs."""
        show = self.start()
        check(self.run("xdotool", "search", "--sync", "--onlyvisible", "--pid",
                       str(show.pid)).returncode == 0, "no window appeared")
        time.sleep(1.0)
        check(show.poll() is None, "the show ended by itself")
        return show

    def grab(self, screen):
        """The screen in grey levels, a byte a pixel, rows top first."""
        pixels = self.run("ffmpeg", "-loglevel", "error", "-f", "x11grab", "-video_size", screen,
                          "-i", self.display, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                          "gray", "-").stdout
        width, height = map(int, screen.split("x"))
        check(len(pixels) == width * height, "could not grab the screen")
        return pixels

    def assert_covered(self, screen):
        """No 8x8 tile of the (white) root shows through."""
        width, height = map(int, screen.split("x"))
        pixels = self.grab(screen)
        for y in range(0, height, 8):
            for x in range(0, width, 8):
                check(min(min(pixels[(y + k) * width + x:(y + k) * width + x + 8])
                          for k in range(8)) < 255, f"the root shows through at ({x}, {y})")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.proc.terminate()
        self.proc.wait()


def finish(show, timeout):
    """Exit status and (start tick, frames presented, exit) from PELMIRA_TIMING."""
    try:
        err = show.communicate(timeout=timeout)[1]
    except subprocess.TimeoutExpired:
        show.kill()
        check(False, f"the show did not end within {timeout} s")
    timing = re.search(r"start_tick=(\S+) first_frame=\S+ frames=(\d+) exit=(\S+)", err)
    return show.returncode, err, timing and (float(timing[1]), int(timing[2]), float(timing[3]))


def case_covers_screen_escape():
    with Xvfb("1024x768", "-wr") as x:
        show = x.start_running()
        info = x.run("xwininfo", "-root", "-children").stdout.decode()
        check(re.search(r'"pelmira": \(.*\)\s+1024x768\+0\+0', info), "no full-screen window:\n" + info)
        x.assert_covered("1024x768")
        # A tap: pressed and released between two polls must still count.
        x.run("xdotool", "key", "Escape")
        pressed = time.monotonic()
        status, err, timing = finish(show, 30)
        check(status == 0 and time.monotonic() - pressed < 1.0, f"status {status}, late?")
        check(timing and timing[1] > 0, "no frame was presented before Escape: " + err)


def case_escape_held():
    with Xvfb() as x:
        # The server lets go of a key when the client that pressed it leaves.
        holder = subprocess.Popen(["xdotool", "keydown", "Escape", "sleep", "120"], env=x.env())
        time.sleep(0.5)
        status, err, timing = finish(x.start(), 20)
        holder.kill()
        check(status == 0 and timing and timing[1] == 0, f"status {status}, said {err}")


def case_signals():
    for sig in (signal.SIGTERM, signal.SIGINT):
        with Xvfb() as x:
            show = x.start_running()
            show.send_signal(sig)
            sent = time.monotonic()
            status, err, timing = finish(show, 30)
            check(status == -sig and time.monotonic() - sent < 1.0, f"{sig.name}: status {status}")
            # The timing line shows the show ended itself, display given back.
            check(timing and timing[1] > 0, f"{sig.name}: said {err}")


def case_no_display():
    env = {k: v for k, v in os.environ.items() if k not in ("WAYLAND_DISPLAY", "DISPLAY")}
    with tempfile.TemporaryDirectory() as runtime:
        for extra in ({}, {"XDG_RUNTIME_DIR": runtime}):
            show = subprocess.run([PELMIRA], env={**env, **extra}, capture_output=True, text=True,
                                  timeout=30)
            check(show.returncode == 1 and re.fullmatch(r"pelmira: cannot open the display: .+\n",
                                                        show.stderr), f"said {show.stderr!r}")


def case_disk_audio():
    with tempfile.TemporaryDirectory() as directory:
        path, device = os.path.join(directory, "sound.wav"), os.path.join(directory, "device.raw")
        subprocess.run([CAPTURE, path], check=True, timeout=120)
        with wave.open(path) as w:
            samples = w.readframes(w.getnframes())
        with Xvfb() as x:
            # About 20 times real time; the whole soundtrack in a second and a half.
            show = x.start(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=device, SDL_DISKAUDIODELAY="1")
            for _ in range(1200):
                if os.path.exists(device) and os.path.getsize(device) > len(samples) + 65536:
                    break
                time.sleep(0.05)
            x.run("xdotool", "key", "Escape")
            check(finish(show, 30)[0] == 0, "nonzero exit status")
        with open(device, "rb") as f:
            got = f.read()
        # SDL feeds the device silence until playback is unpaused: a few buffers.
        lead = (len(got) - len(got.lstrip(b"\0"))) - (len(samples) - len(samples.lstrip(b"\0")))
        check(0 <= lead <= 32768 and not any(got[:lead]), f"the soundtrack starts at byte {lead}")
        check(got[lead:lead + len(samples)] == samples, "the device's bytes differ")
        check(not any(got[lead + len(samples):]), "the soundtrack did not end in silence")


def case_full_run():
    # 800x600 shows the picture pixel for pixel, through shared memory.
    with Xvfb("800x600", "-wr") as x:
        show = x.start_running()
        x.assert_covered("800x600")
        status, err, timing = finish(show, 90)
        check(status == 0 and timing, f"status {status}, said {err}")
        # 31 s of demo time from the start tick; a little slack for the last frame.
        check(30.99 <= timing[2] - timing[0] < 33.0, f"ran {timing[2] - timing[0]:.3f} s")


def case_pillarbox():
    # On 1920x1080 the picture is scaled to 1440x1080 and centred between
    # black bars; the fly-in's all-white frames show its whole extent.
    width, height, left, right = 1920, 1080, 240, 1680
    with Xvfb("1920x1080") as x:
        show = x.start_running()
        deadline = time.monotonic() + 60
        while True:
            pixels = x.grab("1920x1080")
            rows = [pixels[y * width:(y + 1) * width] for y in range(0, height, 4)]
            if all(min(r[left + 2:right - 2]) == 255 for r in rows):
                break
            check(show.poll() is None and time.monotonic() < deadline,
                  "no frame filled the 1440x1080 area with white")
        check(all(max(r[:left - 2] + r[right + 2:]) == 0 for r in rows), "the bars are not black")
        x.run("xdotool", "key", "Escape")
        check(finish(show, 30)[0] == 0, "nonzero exit status")


if __name__ == "__main__":
    globals()["case_" + CASE]()
