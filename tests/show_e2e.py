#!/usr/bin/env python3
# The real show under its own X server (Xvfb, or two monitors on Xorg's dummy
# driver), driven through XTest and xdotool: its keys, signals and endings, its
# sound's bytes, and its command line.
#
# usage: show_e2e.py CASE PELMIRA PELMIRA_CAPTURE; exits 0 when the case holds,
# 77 when it cannot run here.

import os
import re
import signal
import subprocess
import sys
import tempfile
import time

from desktop import (BLACK, SKIP, TIMED, HeldKey, Xvfb, busy, capture_frames, check, expect_run,
                     finish, picture_area, picture_error, run_case, send_close, soundtrack,
                     wait_until)

PELMIRA, CAPTURE = sys.argv[2:4]
XK_ESCAPE = 0xFF1B


# How the show is ended, its options, whether it runs with stdout and stderr
# closed (its messages would otherwise go to whatever took descriptor 2 next:
# the X connection), and the status it must end with. "held": Escape is down
# before the show starts, which must end it before its first frame.
ENDINGS = [("Escape", ["--mute"], False, 0), ("held", [], False, 0),
           (signal.SIGTERM, [], False, -signal.SIGTERM), (signal.SIGINT, [], False, -signal.SIGINT),
           (signal.SIGHUP, [], False, -signal.SIGHUP), ("Escape", [], True, 0),
           (signal.SIGTERM, [], True, -signal.SIGTERM)]


def case_endings():
    for end, args, closed, want in ENDINGS:
        what = f"{getattr(end, 'name', end)} {args}{' without stdout and stderr' * closed}"
        with tempfile.TemporaryDirectory() as folder, Xvfb("1024x768", "-wr") as x:
            device = os.path.join(folder, "device.raw")
            env = x.env(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=device)
            key = end == "held" and HeldKey(x.display, XK_ESCAPE)
            show = subprocess.Popen([PELMIRA, *args], env=env, stderr=subprocess.PIPE, text=True,
                                    cwd=folder, preexec_fn=(lambda: [os.close(fd) for fd in (1, 2)])
                                    if closed else None)
            if not key:
                wait_until(lambda: show.poll() is not None or x.covered(), "the show's picture")
                check(show.poll() is None, f"{what}: the show ended by itself")
            if end == "Escape":
                where = window_at(x)
                check(where and where[1:] == (1024, 768, 0, 0), f"{what}: window at {where}")
                # A tap: pressed and released between two polls must still count.
                x.run("xdotool", "key", "Escape")
            elif not key:
                show.send_signal(end)
            status, err, timing = finish(show, 30)
            if key:
                key.release()
            check(status == want, f"{what}: status {status}, said {err}")
            # The timing line shows the show ended itself, display given back.
            check(closed or timing and (timing[1] == 0) == bool(key), f"{what}: said {err}")
            check("--mute" not in args or not os.path.exists(device),
                  "--mute opened the sound device")
    with tempfile.TemporaryDirectory() as folder:
        frame = os.path.join(folder, "x.png")
        status = subprocess.run([CAPTURE, "--at", "1", frame], timeout=120,
                                preexec_fn=lambda: [os.close(fd) for fd in (0, 1, 2)]).returncode
        check(status == 0 and os.path.getsize(frame) > 0, f"the capture gave {status}")


NO_DISPLAY = {k: v for k, v in os.environ.items()
              if k not in ("DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "PELMIRA_TIMING")}
REFUSED = r"pelmira: [^\n]+\n"  # one line, status 2
NO_SCREEN = r"pelmira: cannot open the display: [^\n]*{}[^\n]*\n"  # one line, status 1
FULL = r"pelmira: write error: No space left on device\n"
# Arguments, environment over NO_DISPLAY ("RUNTIME": an empty runtime
# directory; ">": where stdout goes), status, stdout and stderr. Without a
# display anywhere, an attempt to open one would fail with 1.
COMMAND_LINES = [
    (["--help"], {}, 0, r"Usage: pelmira .*", ""),
    (["--help"], {">": "/dev/full"}, 1, "", FULL),
    (["--version"], {">": "/dev/full"}, 1, "", FULL),
    (["--mute", "--help"], {}, 0, r"Usage: pelmira .*", ""),
    (["--version"], {}, 0, r"pelmira \d+\.\d+\.\d+\n", ""),
    *(([a] if isinstance(a, str) else a, {}, 2, "", REFUSED) for a in (
        "--bogus", "-x", "extra", "--loop=1", "--display", ["--display", "-1"],
        ["--display", "1x"], "--window=640", "--window=0x480", "--window=640x480x", "--window=",
        ["--window", "640x480"])),
    ([], {}, 1, "", NO_SCREEN.format("")),
    ([], {"XDG_RUNTIME_DIR": "RUNTIME"}, 1, "", NO_SCREEN.format("")),
    ([], {"DISPLAY": ":99"}, 1, "", NO_SCREEN.format(":99")),
    ([], {"XDG_RUNTIME_DIR": "RUNTIME", "WAYLAND_DISPLAY": "nothing"}, 1, "",
     NO_SCREEN.format("nothing")),
    # What libwayland finds wrong is in our line, not printed by itself.
    ([], {"WAYLAND_DISPLAY": "nothing"}, 1, "", NO_SCREEN.format("XDG_RUNTIME_DIR")),
    ([], {"XDG_RUNTIME_DIR": "RUNTIME", "WAYLAND_DISPLAY": "w" * 300}, 1, "", NO_SCREEN.format("")),
]


def case_command_line():
    with tempfile.TemporaryDirectory() as runtime:
        for args, extra, status, out, err in COMMAND_LINES:
            env = {**NO_DISPLAY, **{k: v.replace("RUNTIME", runtime) for k, v in extra.items()
                                    if k != ">"}}
            with open(extra.get(">", os.devnull), "w") as sink:
                result = subprocess.run([PELMIRA, *args], env=env, text=True, timeout=60,
                                        stdout=sink if ">" in extra else subprocess.PIPE,
                                        stderr=subprocess.PIPE)
            result.stdout = result.stdout or ""
            expect_run(f"{args} {extra}", result, status, out, err)
    with Xvfb() as x:
        expect_run("--display 7 on one monitor", run_on(x.env(), "--display", "7"), 2, "",
                   REFUSED)


BUSY = {"PELMIRA_WRAP_AFTER_MS": "2400", "PELMIRA_SLOW_FRAME_MS": "40"}
# SDL's disk driver writes at the pace of real time, as a device plays, or
# with SDL_DISKAUDIODELAY=1 about 20 times faster. Each row: the environment,
# busy-loop workers beside the show, seconds the show is stopped (SIGSTOP) a
# second in, which the sound must then skip to keep to the clock, which ran
# on. Otherwise the device gets every byte of the soundtrack in
# order: fed fast, or at real time on a busy machine (the busy_shim slowing
# the main thread and wrapping the tick counter mid-run), where the show runs
# to its end by itself, 31 s on its clock. 800x600 shows the picture pixel for
# pixel, through shared memory.
DISK_SOUND = [("fast", {"SDL_DISKAUDIODELAY": "1"}, 0, 0), ("busy", BUSY, 2, 0),
              ("stopped", {}, 0, 2.0)]


def case_disk_audio():
    track, rate = soundtrack(CAPTURE), 44100 * 2  # bytes a second
    shim = {"LD_PRELOAD": os.environ["PELMIRA_BUSY_SHIM"],
            "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"}
    for name, extra, workers, stop in DISK_SOUND:
        with busy(workers), tempfile.TemporaryDirectory() as directory, Xvfb("800x600") as x:
            device = os.path.join(directory, "device.raw")
            size = lambda: os.path.exists(device) and os.path.getsize(device)  # noqa: E731
            show = x.start(PELMIRA, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=device,
                           **extra, **(shim if extra is BUSY else {}))
            if stop:
                wait_until(lambda: size() > rate, "a second of sound")
                show.send_signal(signal.SIGSTOP)
                time.sleep(stop)  # the stimulus: the process stays stopped this long
                show.send_signal(signal.SIGCONT)
            wait_until(lambda: show.poll() is not None or extra is not BUSY and size() >
                       len(track) + 65536 - stop * rate, "the whole soundtrack", timeout=120)
            status, err, timing = x.escape(show)
            check(status == 0 and timing, f"{name}: status {status}, said {err}")
            with open(device, "rb") as f:
                got = f.read()
        ran = timing[2] - timing[0]  # a little slack for the last frame
        check(extra is not BUSY or 30.99 <= ran and (not TIMED or ran < 33.0),
              f"{name}: ran {ran:.3f} s")
        # Silence leads in until the sound starts and follows once it ends.
        lead = (len(got) - len(got.lstrip(b"\0"))) - (len(track) - len(track.lstrip(b"\0")))
        check(lead >= 0, f"{name}: the soundtrack's first {-lead} bytes are missing")
        got = got[lead:]
        if not stop:
            at = next((i for i, (a, b) in enumerate(zip(got, track)) if a != b), len(track))
            check(at == len(track) and not any(got[len(track):]),
                  f"{name}: the device's bytes differ from byte {at} on")
            continue
        # Where the device's last samples come from in the soundtrack: a clock
        # that ran on while the process stood still is that much further than
        # the bytes played.
        played = got[:len(got.rstrip(b"\0")) + 1 & ~1]  # whole samples
        at = track.find(played[-8192:])
        check(at >= 0 and at % 2 == 0, f"{name}: the device's last bytes are not the soundtrack's")
        ahead = (at + 8192 - len(played)) / rate
        check(abs(ahead - stop) < 0.3, f"{name}: the sound is {ahead:.2f} s ahead of its bytes")


def run_on(env, *args):
    env = {k: v for k, v in env.items() if k != "PELMIRA_TIMING"}
    return subprocess.run([PELMIRA, *args], env=env, capture_output=True, text=True, timeout=60)


def running(show, what):
    if show.poll() is not None:
        status, err, _ = finish(show, 30)
        check(False, f"{what}: the show ended with status {status}, saying {err!r}")


def window_at(x):
    """The show's window: id, width, height, left, top; None until mapped."""
    info = x.run("xwininfo", "-root", "-children").stdout.decode()
    found = re.search(r'(0x[0-9a-f]+) "pelmira": \(.*\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)', info)
    return found and (int(found[1], 16), *map(int, found.group(2, 3, 4, 5)))


def start_window(x, *args):
    """Starts the show and waits for its window_at."""
    show = x.start(PELMIRA, *args)
    return show, wait_until(lambda: running(show, args) or window_at(x), "the show's window")


def case_window():
    # The window shows one of the scroller's frames, fitted and centred
    # between black bars, whatever its size and shape. A fresh show for each
    # shape keeps most of the scroller's five seconds for the grabs, and its
    # loop brings the scroller back for a machine too busy to grab in time.
    frames = [f for _, f in capture_frames(CAPTURE, 0, 5)]
    with Xvfb("1280x1024", "-wr") as x:
        for w, h, (bx, by) in ((640, 480, (0, 0)), (900, 480, (130, 0)), (640, 600, (0, 60))):
            show, (window, width, height, left, top) = start_window(x, "--window=640x480",
                                                                    "--loop")
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
                area = picture_area(w, h)
                cells = x.grab((*area[:2], left + area[2], top + area[3]), cells=True)
                best = min(picture_error(cells, f) for f in frames)
                return best < 6 and picture_error(cells, BLACK) > 3 * best

            wait_until(shows_a_frame, f"a frame letterboxed in {w}x{h}", timeout=100, every=0.01)
            send_close(x.display, window)
            status, err, _ = finish(show, 30)
            check(status == 0, f"closing the window: status {status}, said {err}")


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
        self.launch("Xorg", "-config", config, "-logfile", os.path.join(folder, "xorg.log"),
                    "-noreset", "-nolisten", "tcp", "-novtswitch", "-sharevts")
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
            show, geometry = start_window(x, *args)
            check(geometry[1:] == where, f"pointer at {pointer}, {args}: window at {geometry}")
            check(x.escape(show)[0] == 0, f"{args}: nonzero exit status")
        expect_run("--display 2 on two monitors", run_on(x.env(), "--display", "2"), 2, "", REFUSED)


def case_loop():
    samples, rate = soundtrack(CAPTURE), 44100 * 2  # bytes a second
    with tempfile.TemporaryDirectory() as folder, Xvfb("800x600", "-wr") as x:
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
        status, err, _ = x.escape(show)
        check(status == 0, f"status {status}, said {err}")
    # Begun again from its start once the show has ended, not merely played
    # on: the device's bytes keep the clock's time even where the sound
    # skipped ahead to keep up with it on a busy machine.
    check(again - start > 30 * rate,
          f"the soundtrack began again after {(again - start) / rate:.1f} s")
    check(got[again - quiet:again - quiet + rate] == samples[:rate],
          "the second soundtrack differs from the first")



if __name__ == "__main__":
    run_case(globals())
