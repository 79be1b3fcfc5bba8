# What the end-to-end tests run the show on: a private X server, keys held
# through XTest, screenshots, and waiting for conditions with a deadline.

import contextlib
import ctypes
import ctypes.util
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import wave

# Release builds may hold the show to its promptness; the sanitizer build is
# several times slower and is held only to its results.
TIMED = os.environ.get("PELMIRA_TEST_TIMED") == "1"
SKIP = 77  # the exit status of a case that does not apply here

# Pictures are compared cell by cell: the mean grey of each of 100x75 cells,
# 8x8 pixels of an 800x600 frame, so thin text counts as much as it shows.
GRID = (100, 75)
BLACK = bytes(GRID[0] * GRID[1])
INF = float("inf")


class Failure(Exception):
    pass


def check(ok, message):
    if not ok:
        raise Failure(message)


def run(*args, holds=lambda done: True, **kw):
    """Runs args; fails, with all they said, unless they exit 0 and holds(result)."""
    done = subprocess.run(args, capture_output=True, text=True, timeout=600, **kw)
    check(done.returncode == 0 and holds(done), f"{' '.join(args)}:\n{done.stdout}{done.stderr}")
    return done


def wait_until(condition, what, timeout=60.0, every=0.05):
    """Polls condition until it returns something true; fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        check(time.monotonic() < deadline, f"waited {timeout:.0f} s for {what}")
        time.sleep(every)


class Context:
    """Ended by its __exit__ at the end of a with block."""

    def __enter__(self):
        return self


class Xvfb(Context):
    """A private X server."""

    def __init__(self, screen="1024x768", *options):
        self.screen = screen
        # -noreset: a server resets when its last client leaves, and refuses a
        # client that connects meanwhile (the show, while a grab ends).
        self.launch("Xvfb", "-screen", "0", screen + "x24", "-nolisten", "tcp", "-noreset",
                    *options)

    def launch(self, server, *options):
        """Starts this or another X server on a display it picks (-displayfd)."""
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen([server, "-displayfd", str(write_end), *options],
                                     pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            self.display = ":" + f.readline().strip()
        check(self.display != ":", server + " did not start")
        self.helpers = []
        # Marks the environment of everything started here, and so of
        # whatever that starts in turn, on a machine that other runs share.
        self.mark = f"{os.getpid()}-{self.proc.pid}"

    def env(self, **extra):
        # As on a machine without a session bus, which libdbus would start.
        env = {k: v for k, v in os.environ.items()
               if k not in ("WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS")}
        return {**env, "DISPLAY": self.display, "SDL_AUDIODRIVER": "dummy",
                "PELMIRA_TIMING": "1", "PELMIRA_TEST_SERVER": self.mark, **extra}

    def run(self, *args):
        return subprocess.run(args, env=self.env(), capture_output=True, timeout=60)

    def start(self, program, *args, **extra):
        return subprocess.Popen([program, *args], env=self.env(**extra), stderr=subprocess.PIPE,
                                text=True)

    def grab(self, area=None, cells=False):
        """The screen or an area (width, height, left, top) in grey, a byte a pixel or cell."""
        width, height, left, top = area or (*map(int, self.screen.split("x")), 0, 0)
        scale = ["-vf", f"scale={GRID[0]}:{GRID[1]}:flags=area"] if cells else []
        pixels = self.run("ffmpeg", "-loglevel", "error", "-f", "x11grab", "-draw_mouse", "0",
                          "-video_size", f"{width}x{height}", "-i", f"{self.display}+{left},{top}",
                          *scale, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "gray",
                          "-").stdout
        check(len(pixels) == (len(BLACK) if cells else width * height), "could not grab the screen")
        return pixels

    def covered(self):
        """True once no cell of the (white, -wr) root shows through."""
        return 255 not in self.grab(cells=True)

    def start_running(self, program, *args, **extra):
        """Starts the show and waits until it has covered the screen."""
        show = self.start(program, *args, **extra)
        wait_until(lambda: check(show.poll() is None, "the show ended by itself") or
                   self.covered(), "the show's picture")
        return show

    def grab_picture(self, brightness=40):
        """The cells of the show's picture, fitted and centred, and when they were grabbed."""
        # Once bright (not a dark frame) and with contrast (not a flat fill: a
        # compositing manager paints the root grey).
        def bright():
            before = time.monotonic()
            cells = self.grab(picture_area(*map(int, self.screen.split("x"))), cells=True)
            return sum(cells) / len(cells) >= brightness and max(cells) - min(cells) > 64 and (
                cells, (before, time.monotonic()))
        return wait_until(bright, "a bright picture", timeout=90)

    def escape(self, show):
        """Taps Escape, then finish(show)."""
        self.run("xdotool", "key", "Escape")
        return finish(show, 30)

    def start_helper(self, *command, **extra):
        """A desktop program on this server, ended before the server."""
        helper = subprocess.Popen(command, env=self.env(**extra), stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        self.helpers.append(helper)
        return helper

    def start_window_manager(self, *command):
        wm = self.start_helper(*command)
        wait_until(lambda: wm.poll() is not None or b"window id" in self.run(
            "xprop", "-root", "_NET_SUPPORTING_WM_CHECK").stdout, command[0])
        check(wm.poll() is None, command[0] + " did not start")
        return wm

    def leftovers(self):
        """Processes this server's programs started still running, helpers aside."""
        mark, ours = f"\0PELMIRA_TEST_SERVER={self.mark}\0".encode(), {h.pid for h in self.helpers}
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            proc = pathlib.Path("/proc", pid)
            with contextlib.suppress(OSError):  # each entry ends with a NUL
                if mark in b"\0" + (proc / "environ").read_bytes() and int(pid) not in ours:
                    found.append((proc / "cmdline").read_bytes().replace(b"\0", b" "))
        return found

    def __exit__(self, *exc):
        for helper in self.helpers:
            helper.terminate()
            helper.wait()
        self.proc.terminate()
        self.proc.wait()


@contextlib.contextmanager
def busy(workers):
    """Keeps this many busy-loop processes running through a with block."""
    load = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(workers)]
    try:
        yield
    finally:
        for worker in load:
            worker.kill()
            worker.wait()


def capture_frames(capture, start, end, fps=20):
    """The capture tool's frames for start <= t < end as (t, cells)."""
    with tempfile.TemporaryDirectory() as directory:
        subprocess.run([capture, "--fps", str(fps), "--from", f"{max(start, 0):.3f}", "--to",
                        f"{end:.3f}", os.path.join(directory, "%05d.png")], check=True,
                       timeout=120, capture_output=True)
        numbers = sorted(int(name[:5]) for name in os.listdir(directory))
        raw = subprocess.run(["ffmpeg", "-loglevel", "error", "-start_number", str(numbers[0]),
                              "-i", os.path.join(directory, "%05d.png"), "-vf",
                              f"scale={GRID[0]}:{GRID[1]}:flags=area", "-f", "rawvideo",
                              "-pix_fmt", "gray", "-"], capture_output=True, check=True).stdout
    size = len(BLACK)
    return [(k / fps, raw[i * size:(i + 1) * size]) for i, k in enumerate(numbers)]


def picture_area(width, height):
    """Where a width x height screen shows the picture, fitted and centred."""
    scale = min(width / 800, height / 600)
    w, h = round(800 * scale), round(600 * scale)
    return w, h, (width - w) // 2, (height - h) // 2


def picture_error(cells, frame):
    """Mean grey-level difference of two pictures' cells."""
    return sum(abs(a - b) for a, b in zip(cells, frame)) / len(frame)


def check_picture(shots, start, capture):
    """One of Xvfb.grab_picture's shots shows the capture's frame of its time."""
    # A window manager may show one mid-transition; the frame on screen may be
    # a few frames old. A --loop show starts again every 31 s (and a little).
    shots = [(c, ((a - start) % 31 + start, (b - start) % 31 + start)) for c, (a, b) in shots]
    frames = capture_frames(capture, min(t[0] for _, t in shots) - start - 0.4,
                            max(t[1] for _, t in shots) - start + 0.1)
    results = []
    for cells, (first, last) in shots:
        near = [(t, f) for t, f in frames if first - start - 0.4 <= t < last - start + 0.1]
        best = min(((picture_error(cells, f), t) for t, f in near), default=(255, None))
        results.append((best, picture_error(cells, BLACK)))
    check(any(best[0] < 6 and blank > 4 * best[0] for best, blank in results),
          f"no screen matches a frame of its time: (best, black) {results}")


def xlib():
    """Xlib and XTest, typed for what the tests call."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    xtst = ctypes.CDLL(ctypes.util.find_library("Xtst"))
    x11.XOpenDisplay.restype = x11.XInternAtom.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                       ctypes.c_ulong]
    return x11, xtst


class HeldKey:
    """A key held down through XTest until release()."""
    # On a connection of its own: the server lets go of the key when the
    # connection closes.

    def __init__(self, display, keysym):
        self.x11, xtst = xlib()
        self.connection = self.x11.XOpenDisplay(display.encode())
        check(self.connection, "cannot connect to " + display)
        code = self.x11.XKeysymToKeycode(self.connection, keysym)
        xtst.XTestFakeKeyEvent(self.connection, code, 1, 0)
        self.x11.XSync(self.connection, 0)  # the server has it down when this returns

    def release(self):
        self.x11.XCloseDisplay(self.connection)


def send_close(display, window):
    """What a window manager sends when the user closes a window."""
    x11 = xlib()[0]
    connection = x11.XOpenDisplay(display.encode())
    # An XClientMessageEvent: type 33, serial, send_event, display, window,
    # message_type, format 32, data; an XEvent is 24 longs.
    event = (ctypes.c_long * 24)(33, 0, 0, 0, window, x11.XInternAtom(connection, b"WM_PROTOCOLS",
                                                                     0), 32)
    event[7] = x11.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(connection, window, 0, 0, event)
    x11.XCloseDisplay(connection)  # flushes


def finish(show, timeout):
    """Exit status, stderr and PELMIRA_TIMING's (start tick, frames, exit)."""
    try:
        err = show.communicate(timeout=timeout)[1]
    except subprocess.TimeoutExpired:
        show.kill()
        show.communicate()
        check(False, f"the show did not end within {timeout} s")
    timing = re.search(r"start_tick=(\S+) first_frame=\S+ frames=(\d+) exit=(\S+)", err)
    return show.returncode, err, timing and (float(timing[1]), int(timing[2]), float(timing[3]))


def soundtrack(capture):
    """The soundtrack's samples, s16 mono, as the capture tool writes them."""
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "sound.wav")
        subprocess.run([capture, path], check=True, timeout=120)
        with wave.open(path) as w:
            return w.readframes(w.getnframes())


def expect_run(what, result, status, out, err):
    """A finished text subprocess.run, or finish()'s (status, stderr), ended
    with status and said out and err (whole matches), the timing line aside."""
    code, stdout, stderr = (result[0], "", result[1]) if isinstance(result, tuple) else (
        result.returncode, result.stdout, result.stderr)
    stderr = re.sub(r"pelmira timing: .*\n", "", stderr)
    check(code == status and re.fullmatch(out, stdout, re.S) and re.fullmatch(err, stderr, re.S),
          f"{what}: status {code}, said {stdout!r} {stderr!r}")


def run_case(cases):
    """Runs the case argv[1] names among a script's case_ functions."""
    try:
        cases["case_" + sys.argv[1]]()
    except Failure as failure:
        sys.exit(f"FAIL {sys.argv[1]}: {failure}")


class Weston(Context):
    """weston in a runtime directory of its own, on its X11 back end inside an
    Xvfb (a seat: that server's keyboard) or headless (no seat at all)."""

    SOCKET = "wayland-pelmira"

    def __init__(self, x=None, xwayland=False):
        self.runtime = tempfile.mkdtemp(prefix="pelmira-wayland-")
        command = ["weston", "--socket=" + self.SOCKET, "--idle-time=0"]
        if xwayland:
            command.append("--xwayland")
        if x:
            width, height = x.screen.split("x")
            command += ["--backend=x11-backend.so", "--width=" + width, "--height=" + height]
            env = x.env(XDG_RUNTIME_DIR=self.runtime)
        else:
            command.append("--backend=headless-backend.so")
            env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
            env["XDG_RUNTIME_DIR"] = self.runtime
        self.log = os.path.join(self.runtime, "weston.log")
        self.proc = subprocess.Popen(command + ["--log=" + self.log], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        socket = os.path.join(self.runtime, self.SOCKET)
        wait_until(lambda: self.proc.poll() is not None or os.path.exists(socket), "weston")
        check(self.proc.poll() is None, "weston did not start")

    def xwayland_display(self):
        """The X display weston's Xwayland listens on."""
        return wait_until(lambda: re.findall(r"xserver listening on display (:\d+)",
                                             pathlib.Path(self.log).read_text()), "Xwayland")[0]

    def env(self, base):
        env = {**base, "XDG_RUNTIME_DIR": self.runtime, "WAYLAND_DISPLAY": self.SOCKET}
        if "LSAN_OPTIONS" in env:
            env["LSAN_OPTIONS"] = env["LSAN_OPTIONS"].replace("lsan.supp", "lsan-wayland.supp")
        return env

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait()
        shutil.rmtree(self.runtime, ignore_errors=True)
