#!/usr/bin/env python3
"""The show's command line, run as users run it: on a private X server (or
two monitors on Xorg's dummy driver), driven through xdotool.

usage: show_options_e2e.py CASE PELMIRA PELMIRA_CAPTURE; exits 0 when the case
holds, 77 when it cannot run here.
"""
import ctypes
import ctypes.util
import os
import re
import subprocess
import sys
import tempfile
import time
import wave

from desktop import TIMED, Failure, Xvfb, check, finish, wait_until

PELMIRA, CAPTURE = sys.argv[2:4]
SKIP = 77


def run_on(x, *args):
    """The show on x's display as a user runs it, without the timing line."""
    env = {k: v for k, v in x.env().items() if k != "PELMIRA_TIMING"}
    return subprocess.run([PELMIRA, *args], env=env, capture_output=True, text=True, timeout=60)


def one_line_status_2(result, what):
    check(result.returncode == 2 and result.stdout == "" and
          re.fullmatch(r"pelmira: [^\n]+\n", result.stderr),
          f"{what}: status {result.returncode}, said {result.stdout!r} {result.stderr!r}")


def case_command_line():
    # Without a display anywhere: an attempt to open one would fail with 1.
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}

    def run(*args):
        return subprocess.run([PELMIRA, *args], env=env, capture_output=True, text=True,
                              timeout=30)

    for args in (["--help"], ["--mute", "--help"], ["--version"]):
        result = run(*args)
        check(result.returncode == 0 and result.stderr == "" and
              re.match(r"Usage: pelmira |pelmira \d+\.\d+\.\d+\n$", result.stdout),
              f"{args}: status {result.returncode}, said {result.stdout!r} {result.stderr!r}")
    for args in (["--bogus"], ["-x"], ["extra"], ["--loop=1"], ["--display"], ["--display", "-1"],
                 ["--display", "1x"], ["--window=640"], ["--window=0x480"], ["--window=640x480x"],
                 ["--window="], ["--window", "640x480"]):
        one_line_status_2(run(*args), args)
    with Xvfb() as x:
        one_line_status_2(run_on(x, "--display", "7"), "--display 7 on one monitor")


def running(show, what):
    if show.poll() is not None:
        status, err, _ = finish(show, 30)
        check(False, f"{what}: the show ended with status {status}, saying {err!r}")


def grab_grey(x, left, top, width, height):
    """The screen's rectangle in grey levels, rows top first, without the pointer."""
    pixels = x.run("ffmpeg", "-loglevel", "error", "-f", "x11grab", "-draw_mouse", "0",
                   "-video_size", f"{width}x{height}", "-i", f"{x.display}+{left},{top}",
                   "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "gray", "-").stdout
    check(len(pixels) == width * height, "could not grab the window")
    return pixels


def shrink(pixels, width, left, top, size, factor):
    """The size[0] x size[1] box averages of factor x factor blocks from (left, top)."""
    out = bytearray()
    for by in range(size[1]):
        rows = [pixels[(top + by * factor + k) * width + left:][:size[0] * factor]
                for k in range(factor)]
        for bx in range(size[0]):
            block = sum(sum(r[bx * factor:(bx + 1) * factor]) for r in rows)
            out.append((block + factor * factor // 2) // (factor * factor))
    return bytes(out)


def closest_frame(picture, frames):
    """Mean grey-level difference to the nearest of frames, and its number:
    every 8th pixel picks the likeliest few, all pixels decide among them."""
    def distance(f, step):
        return sum(abs(a - b) for a, b in zip(picture[::step], f[::step])) * step / len(picture)

    likely = sorted(range(len(frames)), key=lambda k: distance(frames[k], 8))[:4]
    return min((distance(frames[k], 1), k) for k in likely)


def send_close(display, window):
    """What a window manager sends when the user closes a window."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5),
                    ("pad", ctypes.c_long * 12)]  # an XEvent is 24 longs

    connection = x11.XOpenDisplay(display.encode())
    event = ClientMessage(type=33, window=window, format=32)  # 33: ClientMessage
    event.message_type = x11.XInternAtom(connection, b"WM_PROTOCOLS", 0)
    event.data[0] = x11.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(connection, window, 0, 0, ctypes.byref(event))
    x11.XCloseDisplay(connection)  # flushes


def window_geometry(x):
    info = x.run("xwininfo", "-root", "-children").stdout.decode()
    found = re.search(r'(0x[0-9a-f]+) "pelmira": \(.*\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)', info)
    return found and (int(found[1], 16), *map(int, found.group(2, 3, 4, 5)))


def scroller_frames(size):
    """The scroller's frames at 60 fps, size[0] x size[1] in grey levels."""
    with tempfile.TemporaryDirectory() as directory:
        subprocess.run([CAPTURE, "--to", "5", os.path.join(directory, "%03d.png")], check=True,
                       timeout=300)
        raw = subprocess.run(["ffmpeg", "-loglevel", "error", "-i",
                              os.path.join(directory, "%03d.png"), "-vf",
                              f"scale={size[0]}:{size[1]}:flags=area", "-f", "rawvideo",
                              "-pix_fmt", "gray", "-"], capture_output=True, check=True).stdout
    n = size[0] * size[1]
    return [raw[i:i + n] for i in range(0, len(raw), n)]


def case_window():
    # The window shows one of the scroller's frames, scaled, whatever its size
    # and shape. A fresh show for each shape, resized as soon as its window is
    # there, keeps most of the scroller's five seconds for the grabs, however
    # busy the machine is.
    size = (160, 120)
    frames = scroller_frames(size)
    with Xvfb("1280x1024", "-wr") as x:
        for w, h, bars in ((640, 480, (0, 0)), (900, 480, (130, 0)), (640, 600, (0, 60))):
            show = x.start(PELMIRA, "--window=640x480")
            geometry = wait_until(lambda: show.poll() is not None or window_geometry(x),
                                  "the show's window")
            running(show, "--window=640x480")
            window, width, height, left, top = geometry
            check((width, height) == (640, 480), f"a {width}x{height} window")

            seen = ["nothing"]

            def shows_a_frame():
                """The window's picture is a frame of the show, 640x480 after
                bars of the given widths (left, top), and the bars are black."""
                running(show, f"{w}x{h}")
                pixels = grab_grey(x, left, top, w, h)
                bx, by = bars
                for y in range(h):
                    row = pixels[y * w:(y + 1) * w]
                    if any(row[:bx] + row[bx + 640:]) or not by <= y < by + 480 and any(row):
                        seen[0] = f"row {y} not black where a bar should be"
                        return None
                difference, k = closest_frame(shrink(pixels, w, bx, by, size, 4), frames)
                seen[0] = f"frame {k} nearest, {difference:.2f} grey levels off"
                # The text is a few grey levels on average: the match has to be
                # far closer than black is (misplaced, it is about as far).
                return difference < 0.4 * sum(frames[k]) / len(frames[k]) and (difference, k)

            if (w, h) != (640, 480):
                x.run("xdotool", "windowsize", str(window), str(w), str(h))
            try:
                difference, k = wait_until(shows_a_frame, f"a frame letterboxed in {w}x{h}",
                                           timeout=30, every=0.01)
            except Failure as failure:
                raise Failure(f"{failure}; last seen: {seen[0]}")
            print(f"{w}x{h}: frame {k} within {difference:.2f} grey levels")
            send_close(x.display, window)
            closed = time.monotonic()
            status, err, timing = finish(show, 30)
            check(status == 0, f"closing the window: status {status}, said {err}")
            check(not TIMED or time.monotonic() - closed < 1.0, "closing took over a second")


class TwoMonitors(Xvfb):
    """Xorg on its dummy driver with two monitors side by side, 1024x768 at
    (0, 0) and 800x600 at (1024, 0), as RandR shows a real desktop's."""

    CONFIG = """Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 65536
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 1824 768
    EndSubSection
EndSection
"""

    def __init__(self, folder):
        self.screen = "1824x768"
        config = os.path.join(folder, "xorg.conf")
        with open(config, "w") as f:
            f.write(self.CONFIG)
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xorg", "-displayfd", str(write_end), "-config", config, "-logfile",
             os.path.join(folder, "xorg.log"), "-noreset", "-nolisten", "tcp", "-novtswitch",
             "-sharevts"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            self.display = ":" + f.readline().strip()
        check(self.display != ":", "Xorg did not start")
        self.started()
        self.run("xrandr", "--addmode", "DUMMY1", "800x600")
        self.run("xrandr", "--output", "DUMMY1", "--mode", "800x600", "--right-of", "DUMMY0")
        wait_until(lambda: b"Monitors: 2" in self.run("xrandr", "--listmonitors").stdout,
                   "two monitors")


def case_monitors():
    if os.geteuid() != 0 or not os.path.exists("/usr/lib/xorg/modules/drivers/dummy_drv.so"):
        print("needs root and Xorg's dummy driver to make a desktop of two monitors")
        sys.exit(SKIP)
    # The pointer where, the options, where the window must go.
    table = [((1300, 300), [], (800, 600, 1024, 0)),
             ((100, 100), [], (1024, 768, 0, 0)),
             ((100, 100), ["--display", "1"], (800, 600, 1024, 0)),
             ((1300, 300), ["--display=0"], (1024, 768, 0, 0)),
             ((1300, 300), ["--window=400x300", "--display", "0"], (400, 300, 312, 234)),
             ((1300, 300), ["--window=400x300"], (400, 300, 1224, 150))]
    with tempfile.TemporaryDirectory() as folder, TwoMonitors(folder) as x:
        for pointer, args, where in table:
            x.run("xdotool", "mousemove", *map(str, pointer))
            show = x.start(PELMIRA, *args)
            geometry = wait_until(lambda: show.poll() is not None or window_geometry(x),
                                  "the show's window")
            running(show, args)
            check(geometry[1:] == where, f"pointer at {pointer}, {args}: window at {geometry}")
            x.run("xdotool", "key", "Escape")
            check(finish(show, 30)[0] == 0, f"{args}: nonzero exit status")
        one_line_status_2(run_on(x, "--display", "2"), "--display 2 on two monitors")


def disk_audio(folder):
    device = os.path.join(folder, "device.raw")
    return device, {"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIOFILE": device}


def case_mute():
    with tempfile.TemporaryDirectory() as folder, Xvfb("800x600", "-wr") as x:
        device, env = disk_audio(folder)
        show = x.start(PELMIRA, "--mute", **env)
        wait_until(lambda: show.poll() is not None or x.covered(), "the show's picture")
        x.run("xdotool", "key", "Escape")
        status, err, timing = finish(show, 30)
        check(status == 0 and timing and timing[1] > 0, f"status {status}, said {err}")
        check(not os.path.exists(device), "--mute opened the sound device")


def common_prefix(a, b):
    n = 0
    while n < min(len(a), len(b)) and a[n:n + 4096] == b[n:n + 4096]:
        n += 4096
    while n < min(len(a), len(b)) and a[n] == b[n]:
        n += 1
    return n


def soundtrack_twice(got, samples, rate):
    """Where in got the soundtrack starts, how far it plays, and where it
    starts again, once a second of the second pass is there; else None."""
    quiet = len(samples) - len(samples.lstrip(b"\0"))
    key = samples[quiet:quiet + 4096]  # its first sound
    start = got.find(key) - quiet
    played = common_prefix(got[start:], samples) if start >= 0 else 0
    again = got.find(key, start + played) - quiet if played else -1
    return again > 0 and len(got) - again > rate and (start, played, again)


def case_loop():
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([CAPTURE, os.path.join(folder, "sound.wav")], check=True, timeout=120)
        with wave.open(os.path.join(folder, "sound.wav")) as w:
            samples = w.readframes(w.getnframes())
            rate = w.getframerate() * w.getsampwidth()
        with Xvfb("800x600", "-wr") as x:
            # The disk driver takes the sound at about the pace a sound card
            # would: slower when the machine is busy, so it cannot time the show.
            device, env = disk_audio(folder)
            show = x.start(PELMIRA, "--loop", **env)

            def heard_twice():
                running(show, "--loop")
                if os.path.exists(device):
                    with open(device, "rb") as f:
                        return soundtrack_twice(f.read(), samples, rate)

            start, played, again = wait_until(heard_twice, "the soundtrack again", timeout=150,
                                              every=0.5)
            x.run("xdotool", "key", "Escape")
            status, err, timing = finish(show, 30)
            check(status == 0, f"status {status}, said {err}")
        with open(device, "rb") as f:
            got = f.read()
    # Begun again from its start once the show has ended, not merely played
    # on. The device's bytes keep time with the clock even where the sound
    # skipped ahead to keep up with it on a busy machine.
    check(again - start > 30 * rate, f"the soundtrack began again after {(again - start) / rate:.1f} s")
    check(played > 0 and got[again:again + rate] == samples[:rate],
          "the second soundtrack differs from the first")

if __name__ == "__main__":
    try:
        globals()["case_" + sys.argv[1]]()
    except Failure as failure:
        sys.exit(f"FAIL {sys.argv[1]}: {failure}")
