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

from desktop import (BLACK, TIMED, Failure, Xvfb, capture_frames, check, finish,
                     picture_error, screen_cells, wait_until)

PELMIRA, CAPTURE = sys.argv[2:4]
SKIP = 77


def run_on(env, *args):
    env = {k: v for k, v in env.items() if k != "PELMIRA_TIMING"}
    return subprocess.run([PELMIRA, *args], env=env, capture_output=True, text=True, timeout=60)


def one_line_status_2(result, what):
    check(result.returncode == 2 and result.stdout == "" and
          re.fullmatch(r"pelmira: [^\n]+\n", result.stderr),
          f"{what}: status {result.returncode}, said {result.stdout!r} {result.stderr!r}")


def case_command_line():
    # Without a display anywhere: an attempt to open one would fail with 1.
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    for args in (["--help"], ["--mute", "--help"], ["--version"]):
        result = run_on(env, *args)
        check(result.returncode == 0 and result.stderr == "" and
              re.match(r"Usage: pelmira |pelmira \d+\.\d+\.\d+\n$", result.stdout),
              f"{args}: status {result.returncode}, said {result.stdout!r} {result.stderr!r}")
    for args in (["--bogus"], ["-x"], ["extra"], ["--loop=1"], ["--display"], ["--display", "-1"],
                 ["--display", "1x"], ["--window=640"], ["--window=0x480"], ["--window=640x480x"],
                 ["--window="], ["--window", "640x480"]):
        one_line_status_2(run_on(env, *args), args)
    with Xvfb() as x:
        one_line_status_2(run_on(x.env(), "--display", "7"), "--display 7 on one monitor")


def running(show, what):
    if show.poll() is not None:
        status, err, _ = finish(show, 30)
        check(False, f"{what}: the show ended with status {status}, saying {err!r}")


def window_geometry(x):
    info = x.run("xwininfo", "-root", "-children").stdout.decode()
    found = re.search(r'(0x[0-9a-f]+) "pelmira": \(.*\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)', info)
    return found and (int(found[1], 16), *map(int, found.group(2, 3, 4, 5)))


def send_close(display, window):
    """What a window manager sends when the user closes a window."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = x11.XInternAtom.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    connection = x11.XOpenDisplay(display.encode())
    # An XClientMessageEvent: type 33, serial, send_event, display, window,
    # message_type, format 32, data; an XEvent is 24 longs.
    event = (ctypes.c_long * 24)(33, 0, 0, 0, window, x11.XInternAtom(connection, b"WM_PROTOCOLS",
                                                                     0), 32)
    event[7] = x11.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(connection, window, 0, 0, event)
    x11.XCloseDisplay(connection)  # flushes


def case_window():
    # The window shows one of the scroller's frames, fitted and centred
    # between black bars, whatever its size and shape. A fresh show for each
    # shape keeps most of the scroller's five seconds for the grabs.
    frames = [f for _, f in capture_frames(CAPTURE, 0, 5)]
    with Xvfb("1280x1024", "-wr") as x:
        for w, h, (bx, by) in ((640, 480, (0, 0)), (900, 480, (130, 0)), (640, 600, (0, 60))):
            show = x.start(PELMIRA, "--window=640x480")
            geometry = wait_until(lambda: show.poll() is not None or window_geometry(x),
                                  "the show's window")
            running(show, "--window=640x480")
            window, width, height, left, top = geometry
            check((width, height) == (640, 480), f"a {width}x{height} window")
            if (w, h) != (640, 480):
                x.run("xdotool", "windowsize", str(window), str(w), str(h))

            def shows_a_frame():
                running(show, f"{w}x{h}")
                pixels = x.grab((w, h, left, top))
                rows = [pixels[y * w:(y + 1) * w] for y in range(h)]
                if any(any(r[:bx] + r[bx + 640:]) for r in rows) or \
                        any(any(r) for r in rows[:by] + rows[by + 480:]):
                    return None  # not yet resized, or the bars are not black
                # The text is a few grey levels on average: the match has to be
                # far closer than black is.
                cells = screen_cells(pixels, w, h)
                best = min(picture_error(cells, f) for f in frames)
                return best < 6 and picture_error(cells, BLACK) > 3 * best

            wait_until(shows_a_frame, f"a frame letterboxed in {w}x{h}", timeout=30, every=0.01)
            send_close(x.display, window)
            closed = time.monotonic()
            status, err, _ = finish(show, 30)
            check(status == 0, f"closing the window: status {status}, said {err}")
            check(not TIMED or time.monotonic() - closed < 1.0, "closing took over a second")


class TwoMonitors(Xvfb):
    """Xorg on its dummy driver with two monitors side by side, 1024x768 at
    (0, 0) and 800x600 at (1024, 0), as RandR shows a real desktop's."""

    CONFIG = ('Section "Device"\n Identifier "dummy"\n Driver "dummy"\n VideoRam 65536\n'
              'EndSection\nSection "Screen"\n Identifier "screen"\n Device "dummy"\n'
              ' DefaultDepth 24\n SubSection "Display"\n  Depth 24\n  Virtual 1824 768\n'
              ' EndSubSection\nEndSection\n')

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
        one_line_status_2(run_on(x.env(), "--display", "2"), "--display 2 on two monitors")


def case_mute():
    with tempfile.TemporaryDirectory() as folder, Xvfb("800x600", "-wr") as x:
        device = os.path.join(folder, "device.raw")
        show = x.start(PELMIRA, "--mute", SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=device)
        wait_until(lambda: show.poll() is not None or x.covered(), "the show's picture")
        x.run("xdotool", "key", "Escape")
        status, err, timing = finish(show, 30)
        check(status == 0 and timing and timing[1] > 0, f"status {status}, said {err}")
        check(not os.path.exists(device), "--mute opened the sound device")


def case_loop():
    with tempfile.TemporaryDirectory() as folder, Xvfb("800x600", "-wr") as x:
        subprocess.run([CAPTURE, os.path.join(folder, "sound.wav")], check=True, timeout=120)
        with wave.open(os.path.join(folder, "sound.wav")) as w:
            samples = w.readframes(w.getnframes())
            rate = w.getframerate() * w.getsampwidth()
        quiet = len(samples) - len(samples.lstrip(b"\0"))
        key = samples[quiet:quiet + 4096]  # the soundtrack's first sound
        device = os.path.join(folder, "device.raw")
        show = x.start(PELMIRA, "--loop", SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=device)

        def heard_twice():
            running(show, "--loop")
            with open(device, "rb") if os.path.exists(device) else open(os.devnull, "rb") as f:
                got = f.read()
            start = got.find(key)
            again = got.find(key, start + 1) if start >= 0 else -1
            return again > 0 and len(got) - again > rate + quiet and (got, start, again)

        got, start, again = wait_until(heard_twice, "the soundtrack again", timeout=150,
                                       every=0.5)
        x.run("xdotool", "key", "Escape")
        status, err, _ = finish(show, 30)
        check(status == 0, f"status {status}, said {err}")
    # Begun again from its start once the show has ended, not merely played
    # on: the device's bytes keep the clock's time even where the sound
    # skipped ahead to keep up with it on a busy machine.
    check(again - start > 30 * rate, f"the soundtrack began again after {(again - start) / rate:.1f} s")
    check(got[again - quiet:again - quiet + rate] == samples[:rate],
          "the second soundtrack differs from the first")


if __name__ == "__main__":
    try:
        globals()["case_" + sys.argv[1]]()
    except Failure as failure:
        sys.exit(f"FAIL {sys.argv[1]}: {failure}")
