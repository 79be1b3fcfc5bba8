#!/usr/bin/env python3
"""The real show under its own Xvfb, driven with xdotool.

usage: driver_e2e.py CASE PELMIRA PELMIRA_CAPTURE
Exit 0 when the case holds, 1 when it fails, 77 when it cannot be checked yet.
"""
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import wave

SKIP = 77


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Xvfb:
    """A private X server; -displayfd lets it pick a free display number."""

    def __init__(self, screen="1024x768x24", *options):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen, "-nolisten", "tcp",
             *options],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], max(0, deadline - time.monotonic()))
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                self.close()
                raise Failure("Xvfb did not start")
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()

    def env(self, **extra):
        env = {k: v for k, v in os.environ.items() if k not in ("WAYLAND_DISPLAY", "DISPLAY")}
        env["DISPLAY"] = self.display
        env.setdefault("SDL_AUDIODRIVER", "dummy")  # never play on the developer's speakers
        env.update(extra)
        return env

    def xdotool(self, *args, timeout=20):
        return subprocess.run(["xdotool", *args], env=self.env(), capture_output=True, text=True,
                              timeout=timeout)

    def close(self):
        self.proc.terminate()
        self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Show:
    def __init__(self, binary, env):
        self.started = time.monotonic()
        self.proc = subprocess.Popen([binary], env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)

    def wait(self, timeout):
        try:
            out, err = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.communicate()
            raise Failure(f"the show did not end within {timeout} s")
        self.stderr = err
        return self.proc.returncode

    def timing(self):
        match = re.search(r"pelmira timing: context=(\S+) start_tick=(\S+) first_frame=(\S+) "
                          r"frames=(\d+) exit=(\S+)", self.stderr)
        check(match, "no timing line in: " + self.stderr)
        keys = ("context", "start_tick", "first_frame", "frames", "exit")
        return {k: float(v) for k, v in zip(keys, match.groups())}


def wait_for_window(x, show):
    """The show's window id, once it is mapped."""
    result = x.xdotool("search", "--sync", "--onlyvisible", "--pid", str(show.proc.pid), timeout=60)
    check(result.returncode == 0 and result.stdout.split(),
          f"no window appeared: {result.stderr}")
    return result.stdout.split()[0]


def wait_running(x, show):
    """Waits until the frame loop has surely started; returns the window id."""
    window = wait_for_window(x, show)
    time.sleep(1.0)
    check(show.proc.poll() is None, "the show ended by itself")
    return window


def case_escape_held(pelmira, _capture):
    with Xvfb() as x:
        # The server lets go of a key when the client that pressed it leaves,
        # so xdotool holds it for the whole run.
        holder = subprocess.Popen(["xdotool", "keydown", "Escape", "sleep", "120"], env=x.env())
        time.sleep(0.5)
        check(holder.poll() is None, "xdotool could not hold Escape")
        show = Show(pelmira, x.env(PELMIRA_TIMING="1"))
        status = show.wait(60)
        took = time.monotonic() - show.started
        holder.kill()
        holder.wait()
        check(status == 0, f"exit status {status}")
        timing = show.timing()
        check(timing["frames"] == 0, f"{timing['frames']:.0f} frames presented")
        check(timing["start_tick"] > 0, "ended before the start tick")
        check(took < 10, f"took {took:.1f} s")


def case_signals(pelmira, _capture):
    for sig in (signal.SIGTERM, signal.SIGINT):
        with Xvfb() as x:
            show = Show(pelmira, x.env(PELMIRA_TIMING="1"))
            wait_running(x, show)
            show.proc.send_signal(sig)
            sent = time.monotonic()
            status = show.wait(30)
            took = time.monotonic() - sent
            check(status == -sig, f"{sig.name}: exit status {status}, want killed by it")
            check(took < 1.0, f"{sig.name}: ended {took:.2f} s after it")
            # The timing line comes from the show's own ending, not the default action.
            check(show.timing()["frames"] > 0, f"{sig.name}: no frame presented")
            check(x.xdotool("search", "--pid", str(show.proc.pid)).stdout.strip() == "",
                  f"{sig.name}: the window outlived the process")


def case_no_display(pelmira, _capture):
    base = {k: v for k, v in os.environ.items() if k not in ("WAYLAND_DISPLAY", "DISPLAY")}
    base["SDL_AUDIODRIVER"] = "dummy"
    with tempfile.TemporaryDirectory() as runtime:
        for env in (base, dict(base, XDG_RUNTIME_DIR=runtime)):
            show = Show(pelmira, env)
            status = show.wait(30)
            check(status == 1, f"exit status {status} with no display")
            lines = show.stderr.splitlines()
            check(len(lines) == 1 and lines[0].startswith("pelmira: cannot open the display: "),
                  f"said: {show.stderr!r}")


def grab_screen(x, size):
    """The screen's pixels as rgb24, through ffmpeg's X11 grabber."""
    result = subprocess.run(
        ["ffmpeg", "-loglevel", "error", "-f", "x11grab", "-video_size", size, "-i", x.display,
         "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
        env=x.env(), capture_output=True, timeout=30)
    check(result.returncode == 0, "ffmpeg could not grab the screen: " + result.stderr.decode())
    return result.stdout


def case_covers_screen_escape(pelmira, _capture):
    # A white root (besides the cursor): anything the window leaves uncovered shows.
    with Xvfb("1024x768x24", "-wr") as x:
        bare = grab_screen(x, "1024x768")
        check(bare.count(255) > 0.99 * len(bare), "the bare screen is not white")
        show = Show(pelmira, x.env(PELMIRA_TIMING="1"))
        window = wait_running(x, show)
        info = subprocess.run(["xwininfo", "-id", window], env=x.env(), capture_output=True,
                              text=True).stdout
        fields = dict(re.findall(r"^\s*([A-Za-z -]+):\s+(\S+)", info, re.M))
        check(fields.get("Absolute upper-left X") == "0" and
              fields.get("Absolute upper-left Y") == "0", "window not at the origin:\n" + info)
        check(fields.get("Width") == "1024" and fields.get("Height") == "768",
              "window does not cover the screen:\n" + info)
        check(fields.get("Map State") == "IsViewable", "window not visible:\n" + info)
        pixels = grab_screen(x, "1024x768")
        check(len(pixels) == 1024 * 768 * 3, "short grab")
        # The show draws its scenes by now: no 16x16 tile may be the root's white.
        row = 1024 * 3
        for y in range(0, 768, 16):
            for x0 in range(0, row, 16 * 3):
                check(min(min(pixels[(y + k) * row + x0:(y + k) * row + x0 + 48])
                          for k in range(16)) < 255,
                      f"the root shows through at ({x0 // 3}, {y})")
        # A tap: pressed and released between two polls must still count.
        x.xdotool("key", "Escape")
        pressed = time.monotonic()
        status = show.wait(30)
        took = time.monotonic() - pressed
        check(status == 0, f"exit status {status}")
        check(took < 1.0, f"ended {took:.2f} s after Escape")
        check(show.timing()["frames"] > 0, "no frame was presented before Escape")


def wav_samples(capture, directory):
    path = os.path.join(directory, "soundtrack.wav")
    subprocess.run([capture, path], capture_output=True, timeout=120)
    if not os.path.exists(path):
        return None
    with wave.open(path) as w:
        check((w.getnchannels(), w.getsampwidth(), w.getframerate()) == (1, 2, 44100),
              "the soundtrack is not mono 16-bit 44.1 kHz")
        return w.readframes(w.getnframes())


def case_disk_audio(pelmira, capture):
    with tempfile.TemporaryDirectory() as directory:
        samples = wav_samples(capture, directory)
        if samples is None:
            print("pelmira-capture writes no soundtrack yet: nothing to compare with")
            return SKIP
        device = os.path.join(directory, "device.raw")
        silence = 65536
        with Xvfb() as x:
            # About 20 times real time: the whole soundtrack in a second and a half.
            show = Show(pelmira, x.env(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=device,
                                       SDL_DISKAUDIODELAY="1"))
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline and show.proc.poll() is None:
                if os.path.exists(device) and os.path.getsize(device) >= len(samples) + silence:
                    break
                time.sleep(0.05)
            x.xdotool("key", "Escape")
            status = show.wait(30)
        check(status == 0, f"exit status {status}; said: {show.stderr}")
        with open(device, "rb") as f:
            got = f.read()
        check(len(got) >= len(samples) + silence and any(samples),
              f"the device received only {len(got)} bytes of {len(samples)}")
        # SDL's audio thread feeds the device silence until playback is
        # unpaused, a moment after the device opens: a few buffers at most.
        lead = next(i for i, b in enumerate(got) if b) - next(i for i, b in enumerate(samples) if b)
        check(0 <= lead <= 16 * 2048 and not any(got[:lead]),
              f"the soundtrack starts {lead} bytes into what the device received")
        got = got[lead:]
        if got[:len(samples)] != samples:
            first = next(i for i in range(len(samples)) if got[i] != samples[i])
            raise Failure(f"the device's bytes differ from the soundtrack's from byte {first} "
                          f"of {len(samples)}: {got[first:first + 8].hex()} for "
                          f"{samples[first:first + 8].hex()}")
        check(not any(got[len(samples):]), "the soundtrack did not end in silence")


def case_full_run(pelmira, _capture):
    with Xvfb() as x:
        show = Show(pelmira, x.env(PELMIRA_TIMING="1"))
        status = show.wait(90)
        check(status == 0, f"exit status {status}")
        timing = show.timing()
        shown = timing["exit"] - timing["start_tick"]
        check(timing["frames"] > 0, "no frame presented")
        # 31 s of demo time from the start tick; a little slack for the last frame.
        check(30.99 <= shown < 33.0, f"ran {shown:.3f} s after the start tick")


def main():
    case, pelmira, capture = sys.argv[1:4]
    try:
        for tool in ("Xvfb", "xdotool", "xwininfo", "ffmpeg"):
            check(shutil.which(tool), f"{tool} is not installed")
        result = globals()["case_" + case](pelmira, capture)
    except Failure as failure:
        print(f"FAIL {case}: {failure}")
        return 1
    return result or 0


if __name__ == "__main__":
    sys.exit(main())
