"""What the end-to-end tests run the show on: a private X server, keys held
through XTest, screenshots, and waiting for conditions with a deadline."""
import ctypes
import ctypes.util
import os
import re
import subprocess
import time

# Release builds may hold the show to its promptness; the sanitizer build is
# several times slower and is held only to its results.
TIMED = os.environ.get("PELMIRA_TEST_TIMED") == "1"


class Failure(Exception):
    pass


def check(ok, message):
    if not ok:
        raise Failure(message)


def wait_until(condition, what, timeout=60.0, every=0.05):
    """Polls condition until it returns something true; fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        check(time.monotonic() < deadline, f"waited {timeout:.0f} s for {what}")
        time.sleep(every)


class Xvfb:
    """A private X server; -displayfd lets it pick a free display number."""

    def __init__(self, screen="1024x768", *options):
        self.screen = screen
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

    def start(self, program, *args, **extra):
        return subprocess.Popen([program, *args], env=self.env(**extra), stderr=subprocess.PIPE,
                                text=True)

    def grab(self):
        """The screen in grey levels, a byte a pixel, rows top first."""
        pixels = self.run("ffmpeg", "-loglevel", "error", "-f", "x11grab", "-video_size",
                          self.screen, "-i", self.display, "-frames:v", "1", "-f", "rawvideo",
                          "-pix_fmt", "gray", "-").stdout
        width, height = map(int, self.screen.split("x"))
        check(len(pixels) == width * height, "could not grab the screen")
        return pixels

    def covered(self):
        """True once no 8x8 tile of the (white, -wr) root shows through."""
        width, height = map(int, self.screen.split("x"))
        pixels = self.grab()
        return all(min(min(pixels[(y + k) * width + x:(y + k) * width + x + 8]) for k in range(8))
                   < 255 for y in range(0, height, 8) for x in range(0, width, 8))

    def start_running(self, program, *args):
        """Starts the show and waits until it has covered the screen."""
        show = self.start(program, *args)
        wait_until(lambda: show.poll() is not None or self.covered(), "the show's picture")
        check(show.poll() is None, "the show ended by itself")
        return show

    def hold_key(self, keysym):
        """Presses a key through XTest and keeps it down until release()."""
        return HeldKey(self.display, keysym)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.proc.terminate()
        self.proc.wait()


class HeldKey:
    """A key pressed on its own connection: the server lets go of it when the
    connection closes, so the connection stays open until release()."""

    def __init__(self, display, keysym):
        x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        xtst = ctypes.CDLL(ctypes.util.find_library("Xtst"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                           ctypes.c_ulong]
        self.x11 = x11
        self.connection = x11.XOpenDisplay(display.encode())
        check(self.connection, "cannot connect to " + display)
        code = x11.XKeysymToKeycode(self.connection, keysym)
        xtst.XTestFakeKeyEvent(self.connection, code, 1, 0)
        x11.XSync(self.connection, 0)  # the server has it down when this returns

    def release(self):
        self.x11.XCloseDisplay(self.connection)


def finish(show, timeout):
    """Exit status, stderr and (start tick, frames presented, exit) from
    PELMIRA_TIMING."""
    try:
        err = show.communicate(timeout=timeout)[1]
    except subprocess.TimeoutExpired:
        show.kill()
        show.communicate()
        check(False, f"the show did not end within {timeout} s")
    timing = re.search(r"start_tick=(\S+) first_frame=\S+ frames=(\d+) exit=(\S+)", err)
    return show.returncode, err, timing and (float(timing[1]), int(timing[2]), float(timing[3]))
