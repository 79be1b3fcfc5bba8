# What the end-to-end tests run the show on: a private X server, keys held
# through XTest, screenshots, and waiting for conditions with a deadline.

import bisect
import contextlib
import ctypes
import ctypes.util
import itertools
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
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


class SoundServer(Context):
    """A private PulseAudio, or PipeWire with pipewire-pulse and WirePlumber,
    with a null sink at the soundtrack's format."""
    # As a Debian desktop runs them, in a runtime directory and session of its
    # own; the sink's monitor gives back the very bytes played.

    RATE = 44100

    def __init__(self, pipewire=False):
        self.dir = tempfile.mkdtemp(prefix="pelmira-sound-")
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(HOME=self.dir, XDG_RUNTIME_DIR=self.dir, PULSE_RUNTIME_PATH=self.dir,
                   XDG_CONFIG_HOME=self.dir, XDG_STATE_HOME=self.dir)
        sink = f"module-null-sink sink_name=speaker rate={self.RATE} channels=1"
        self.socket = os.path.join(self.dir, "native")
        # PipeWire runs its graph in cycles of the least latency a stream asks
        # for: 5 ms would make them 128 samples, which glitch on a busy machine;
        # at 25 ms they stay at the 1,024 the show asks for.
        self.record_latency = 25 if pipewire else 5
        if pipewire:
            # The graph at the soundtrack's rate, as the null sink: otherwise
            # PipeWire resamples to its own 48 kHz and back.
            conf = pathlib.Path(self.dir, "pipewire", "pipewire.conf.d")
            conf.mkdir(parents=True)
            (conf / "rate.conf").write_text(
                f"context.properties = {{ default.clock.rate = {self.RATE} }}\n")
            # WirePlumber wants a session bus; pipewire-pulse and it wait for
            # PipeWire's socket.
            script = (f'pipewire & while [ ! -S "$XDG_RUNTIME_DIR/pipewire-0" ]; do sleep 0.02; '
                      'done; wireplumber & pipewire-pulse & wait')
            command = ["dbus-run-session", "--", "sh", "-c", script]
        else:
            script = pathlib.Path(self.dir, "default.pa")
            script.write_text(f"load-module module-native-protocol-unix auth-anonymous=1 socket="
                              f"{self.socket}\nload-module {sink}\nset-default-sink speaker\n")
            env["DBUS_SESSION_BUS_ADDRESS"] = "disabled:"
            command = ["pulseaudio", "-n", "-F", script, "--daemonize=no", "--exit-idle-time=-1",
                       "--use-pid-file=no", "--log-target=stderr"]
        self.proc = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            wait_until(lambda: self.proc.poll() is not None or self.pactl("info").returncode == 0,
                       "the sound server")
            check(self.proc.poll() is None, "the sound server did not start")
            if pipewire:
                check(self.pactl("load-module", *sink.split()).returncode == 0, "no null sink")
                wait_until(lambda: b"speaker" in self.pactl("list", "short", "sinks").stdout,
                           "the null sink")
                self.pactl("set-default-sink", "speaker")
        except BaseException:
            self.__exit__()
            raise

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env(os.environ), capture_output=True)

    def env(self, base=None):
        """For a client of this server, through libpulse or PipeWire's own."""
        return {**(base or {}), "SDL_AUDIODRIVER": "pulseaudio",
                "PULSE_SERVER": "unix:" + self.socket, "PIPEWIRE_RUNTIME_DIR": self.dir}

    def playing(self):
        """True once a client plays into the sink."""
        return self.pactl("list", "short", "sink-inputs").stdout.strip() != b""

    def stop(self):
        """Ends the server and everything its session started."""
        with contextlib.suppress(ProcessLookupError):
            os.killpg(self.proc.pid, signal.SIGTERM)
        self.proc.wait()

    def __exit__(self, *exc):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


class Recording:
    """The sink's monitor and the time of its first sample."""
    # The n samples read so far arrived no earlier than sample n was mixed, so
    # the least (arrival - n / rate) is sample 0's time, late by parec's least
    # delay (a few ms). A sink that stalls hands over nothing meanwhile: what
    # comes after is placed by the arrivals from then on only.

    def __init__(self, pulse):
        self.rate = pulse.RATE
        self.proc = subprocess.Popen(
            ["parec", "-d", "speaker.monitor", "--format=s16le", f"--rate={self.rate}",
             "--channels=1", f"--latency-msec={pulse.record_latency}"],
            env=pulse.env(dict(os.environ)), stdout=subprocess.PIPE)
        self.chunks, self.marks = [], []
        self.start = float("inf")
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()
        # An idle null sink renders in two-second blocks; once the monitor
        # delivers, it has taken up the recording's short latency.
        wait_until(lambda: self.chunks or self.proc.poll() is not None, "the sink's monitor")
        check(self.chunks, "parec did not record")

    def _read(self):
        got = 0
        while True:
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            arrived = time.monotonic()
            if not chunk:
                return
            got += len(chunk)
            self.chunks.append(chunk)
            self.marks.append((got // 2, arrived - got // 2 / self.rate))
            self.start = min(self.start, self.marks[-1][1])

    def holds_sound(self, seconds):
        """True once the monitor has recorded sound for the given time."""
        recorded = b"".join(self.chunks)
        first = next((i for i in range(0, len(recorded), 64) if any(recorded[i:i + 64])), None)
        return first is not None and len(recorded) - first >= seconds * 2 * self.rate

    def start_for(self, sample):
        """Sample 0's time as the arrivals from sample on place it."""
        at = bisect.bisect_right(self.marks, (sample, INF))
        return self.latest[at] if at < len(self.latest) else self.start

    def stop(self):
        """The recorded samples as bytes."""
        self.proc.terminate()
        self.proc.wait()
        self.thread.join()
        self.latest = list(itertools.accumulate(reversed([t for _, t in self.marks]), min))[::-1]
        return b"".join(self.chunks)


def sound_against_clock(recording, recorded, soundtrack, start_tick, block=1024,
                        rate=SoundServer.RATE):
    """The gaps in a recording (blocks of the soundtrack missing or moved, once
    per break, a missing end included) and each block's (time in the
    soundtrack, offset against the show's clock), seconds, positive when late."""
    # Silent blocks cannot be placed; each block is looked for near where the
    # one before was, so the pattern's repeats further away cannot match.
    size, gaps, offsets, lag, broken = block * 2, 0, [], None, False
    for start in range(0, len(soundtrack) - size + 1, size):
        piece = soundtrack[start:start + size]
        if not any(piece):
            continue
        lo, hi = 0, len(recorded)
        if lag is not None:
            lo, hi = max(0, start + lag - 4 * rate), start + lag + 4 * rate + size
        at = recorded.find(piece, lo, hi)
        while at >= 0 and at % 2:
            at = recorded.find(piece, at + 1, hi)
        if at < 0:
            broken = True
            continue
        gaps += lag is not None and (broken or at - start != lag)
        lag, broken = at - start, False
        offsets.append((start / 2 / rate, recording.start_for(at // 2) - start_tick +
                        (at - start) / 2 / rate))
    return gaps + broken, offsets


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
