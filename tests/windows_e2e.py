#!/usr/bin/env python3
# The Windows build under Wine on a private X server and PulseAudio: its
# window, picture, keys, endings, command line and sound.
#
# usage: windows_e2e.py prefix|remove TEMPLATE
#        windows_e2e.py CASE PELMIRA_EXE PELMIRA_CAPTURE TEMPLATE HASHES
# A fresh Wine prefix takes half a minute to make; "prefix" makes one, and
# each case runs in a copy of its own that it removes. Exits 77 where Wine is
# not installed.

import contextlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from desktop import (SKIP, TIMED, Context, Failure, Xvfb, check, check_picture, expect_run, finish,
                     picture_area, run_case, soundtrack, wait_until)
from sound_server import Recording, SoundServer, sound_against_clock

WINE = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
# No Mono or Gecko installer asked for; none of Wine's own chatter on stderr.
# As on a machine without a session bus: Wine's services would otherwise
# start one through dbus-launch, which outlives them. Wine's pulse driver asks
# the sound server to hold 30 ms, which its timer thread cannot keep full on
# a busy machine; libpulse's PULSE_LATENCY_MSEC, the usual remedy for Wine's
# dropouts, lets the server hold 150 ms. More would delay the start: the
# server waits until its buffer is full before it plays (2 s: +1.7 s).
WINE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "DBUS_SESSION_BUS_ADDRESS": "disabled:", "PULSE_LATENCY_MSEC": "150"}
# Wine's performance counter is CLOCK_MONOTONIC_RAW; the tests' clock is
# CLOCK_MONOTONIC. Within a run the two differ by a constant.
RAW_TO_MONOTONIC = time.monotonic() - time.clock_gettime(time.CLOCK_MONOTONIC_RAW)


class Prefix(Context):
    """A Wine prefix of its own, copied from the template, and its
    wineserver, both gone after the with block."""

    def __init__(self, x, template):
        self.x = x
        self.dir = tempfile.mkdtemp(prefix="pelmira-wine-")
        subprocess.run(["cp", "-a", template + "/.", self.dir], check=True)

    def env(self, **extra):
        return self.x.env(WINEPREFIX=self.dir, **{**WINE_ENV, **extra})

    def start(self, exe, *args, **extra):
        return subprocess.Popen([WINE, exe, *args], env=self.env(**extra), stderr=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True)

    def end(self):
        """Waits for the wineserver, and so Wine's own services, to go."""
        subprocess.run([WINESERVER, "-w"], env=self.env(), timeout=120)

    def __exit__(self, *exc):
        subprocess.run([WINESERVER, "-k"], env=self.env(), capture_output=True)
        self.end()
        shutil.rmtree(self.dir, ignore_errors=True)


def make_prefix(template):
    with Xvfb() as x:
        env = x.env(WINEPREFIX=template, **WINE_ENV)
        subprocess.run([WINE, "wineboot", "--init"], env=env, capture_output=True, check=True,
                       timeout=300)
        subprocess.run([WINESERVER, "-w"], env=env, timeout=120)


def window(x):
    """The show's X window, (width, height, left, top), once it has one."""
    found = subprocess.run(["xdotool", "search", "--name", "^pelmira$", "getwindowgeometry"],
                           env=x.env(), capture_output=True, text=True).stdout
    where = re.search(r"Position: (\d+),(\d+).*Geometry: (\d+)x(\d+)", found, re.S)
    return where and tuple(map(int, where.group(3, 4, 1, 2)))


def matches_a_frame(shots, start_tick, capture):
    """check_picture, one shot at a time: on a busy machine the shots lie far
    apart, and the capture of all the frames between them would take long."""
    failures = []
    for shot in shots:
        try:
            return check_picture([shot], start_tick, capture)
        except Failure as failure:
            failures.append(str(failure))
    check(False, "; ".join(failures))


def alive(show):
    if show.poll() is not None:
        check(False, "the show ended early: status {}, said {!r}".format(*finish(show, 60)))
    return True


def press_escape(x):
    """Escape into the show's window, and when it was pressed: without a
    window manager X sends keys only to the window that has the focus."""
    subprocess.run(["xdotool", "search", "--name", "^pelmira$", "windowfocus", "--sync"],
                   env=x.env(), capture_output=True, timeout=60)
    pressed = time.monotonic()
    subprocess.run(["xdotool", "key", "Escape"], env=x.env(), capture_output=True, timeout=60)
    return pressed


def fnv1a(data):
    h = 0xCBF29CE484222325
    for byte in data:
        h = ((h ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return f"{h:016x}"


def wave_image(track):
    """The show's wave image of the samples: its constant header, then them."""
    return b"RIFF" + (len(track) + 36).to_bytes(4, "little") + b"WAVEfmt " + bytes.fromhex(
        "10000000" "0100" "0100" "44ac0000" "88580100" "0200" "1000") + b"data" + len(
        track).to_bytes(4, "little") + track


# Each row, a run of the show in a fresh prefix on an X server of the given
# size: its command line, whether a sound server plays (without one Wine
# finds no device), how it ends ("escape" once its picture shows, "itself"
# after 31 s, or at once), the window it must have (None: none), and its
# exit status and stderr.
NO_DEVICE = r"pelmira: no sound device: [^\n]*; the show goes on without sound\n"
RUNS = {
    "escape": ([], "1024x768", True, "escape", "full", 0, ""),
    "whole_show": ([], "800x600", True, "itself", "full", 0, ""),
    "window": (["--window=640x480"], "1024x768", False, "escape", "640x480", 0, NO_DEVICE),
    "bad_option": (["--frobnicate"], "1024x768", False, "at once", None, 2,
                   r"pelmira: unrecognized option '--frobnicate'; try 'pelmira --help'\n"),
}


def grab_picture(x, window, show):
    """The cells of the picture fitted and centred in the window (W, H, X, Y),
    once it shows the fly-in or the tunnel, and when they were grabbed; None
    if the show has ended first."""
    # On a busy machine Wine draws a few frames a second: the fly-in's
    # brightest may be missed.
    width, height, left, top = picture_area(*window[:2])
    area = (width, height, window[2] + left, window[3] + top)

    def bright():
        if show.poll() is not None:
            return "ended"
        before = time.monotonic()
        cells = x.grab(area, cells=True)
        return sum(cells) / len(cells) >= 20 and max(cells) - min(cells) > 64 and (
            cells, (before, time.monotonic()))
    shot = wait_until(bright, "a bright picture", timeout=90)
    return shot if shot != "ended" else None


def check_sound(recording, recorded, start_tick, capture, hashes, whole):
    """The sound's figures; holds it to the picture's clock at its start, and
    its samples to the capture's, all of them if the show played to its end."""
    track = soundtrack(capture)
    gaps, placed = sound_against_clock(recording, recorded, track, start_tick)
    offsets = [offset for _, offset in placed]
    check(offsets, "none of the soundtrack in the recording")
    # Blocks of 1,024 samples found bit for bit, each near the one before.
    sounding = sum(any(track[i:i + 2048]) for i in range(0, len(track) - 2047, 2048))
    figures = (f"sound {gaps} gaps, offset at the start {offsets[0] * 1000:+.1f} ms, "
               f"{min(offsets) * 1000:+.1f} to {max(offsets) * 1000:+.1f} ms, "
               f"{len(offsets)} of {sounding} blocks heard, the first at {placed[0][0]:.3f} s")
    # A soundtrack made otherwise than the capture's would match nowhere.
    check(len(offsets) >= 20, f"the samples differ from the capture's: {figures}")
    # Where Wine's timer thread is starved all the same, there is a gap, and
    # its clock, which the start is taken from, runs on without the sound.
    # Only a gapless run says where the show started it.
    check(not TIMED or gaps or abs(offsets[0]) <= 0.020,
          f"the sound starts {offsets[0] * 1000:+.0f} ms off the picture's clock; {figures}")
    if whole and gaps == 0:
        # Wine's pulse driver does not hand over the stream's first 1,024
        # samples bit for bit (seen on a quiet machine: every later block
        # found, gapless, at one offset); all the rest must be there.
        expected = re.search(r"^sound (\w+)$", open(hashes).read(), re.M)[1]
        check(len(offsets) >= sounding - 1 and placed[0][0] <= 1024 / 44100 + 1e-9 and
              fnv1a(wave_image(track)) == expected,
              f"the soundtrack is not the hash file's: {figures}")
    return figures


def run_row(name):
    args, screen, sound, ending, shape, status, err = RUNS[name]
    exe, capture, template, hashes = sys.argv[2:6]
    with (SoundServer() if sound else contextlib.nullcontext()) as server, \
            Xvfb(screen, "-wr") as x, Prefix(x, template) as prefix:
        recording = server and Recording(server)
        started = time.monotonic()
        # Without a sound server, Wine's sound drivers are off: no device.
        sound_env = server.env() if server else {
            "WINEDLLOVERRIDES": WINE_ENV["WINEDLLOVERRIDES"] + ";winealsa.drv,winepulse.drv=d"}
        show = prefix.start(exe, *args, **sound_env)
        if shape:
            # Wine sizes a new window's X window more than once.
            size = tuple(map(int, (screen if shape == "full" else shape).split("x")))

            def placed():
                where = alive(show) and window(x)
                return where and where[:2] == size and (shape != "full" or where[2:] == (0, 0)) \
                    and where
            where = wait_until(placed, f"a {shape} window", timeout=120)
            shots = [grab_picture(x, where, show) for _ in range(3)]
            shots = [shot for shot in shots if shot]
            check(shots, "no bright picture while the show ran")
        if ending == "escape":
            pressed = press_escape(x)
        # Wine's own services hold the show's stderr open for a while after it.
        show.wait(120)
        gone = time.monotonic()
        result = finish(show, 120)
        recorded = recording and recording.stop()
        prefix.end()
        check(not x.leftovers(), f"left running: {x.leftovers()}")
    code, said, timing = result
    expect_run(name, (code, said), status, "", err)
    if not shape:
        return
    check(timing, f"no timing line: {said!r}")
    start_tick = timing[0] + RAW_TO_MONOTONIC
    matches_a_frame(shots, start_tick, capture)
    first_frame = float(re.search(r"first_frame=(\S+)", said)[1]) + RAW_TO_MONOTONIC
    figures = [f"start to first frame {first_frame - started:.2f} s (start tick "
               f"{start_tick - started:.2f} s)"]
    if ending == "escape":
        figures.append(f"Escape to exit {(gone - pressed) * 1000:.0f} ms")
    if sound:
        figures.append(check_sound(recording, recorded, start_tick, capture, hashes,
                                   ending == "itself"))
    print(name + ": " + ", ".join(figures))


# What every 64-bit Windows has: the program must import nothing else.
SYSTEM_DLLS = {"KERNEL32.dll", "USER32.dll", "GDI32.dll", "OPENGL32.dll", "GLU32.dll",
               "WINMM.dll", "msvcrt.dll"}


def case_imports():
    exe = sys.argv[2]
    described = subprocess.run(["file", "-b", exe], capture_output=True, text=True).stdout
    check(described.startswith("PE32+ executable (GUI) x86-64"), f"the program is a {described}")
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe], capture_output=True,
                          text=True, check=True).stdout
    imported = set(re.findall(r"DLL Name: (\S+)", dump))
    check({"OPENGL32.dll", "WINMM.dll"} <= imported <= SYSTEM_DLLS, f"imports {sorted(imported)}")
    size = os.path.getsize(exe)
    check(size < 1 << 20, f"the program is {size} bytes")
    print(f"imports: {described.strip()}, {size} bytes, {' '.join(sorted(imported))}")


if __name__ == "__main__":
    if not os.path.exists(WINE) or not shutil.which("xdotool"):
        print("skipped: wine64 is not installed")
        sys.exit(SKIP)
    if sys.argv[1] == "prefix":
        make_prefix(sys.argv[2])
    elif sys.argv[1] == "remove":
        shutil.rmtree(sys.argv[2], ignore_errors=True)
    else:
        run_case({"case_imports": case_imports,
                  **{"case_" + name: (lambda name=name: run_row(name)) for name in RUNS}})
