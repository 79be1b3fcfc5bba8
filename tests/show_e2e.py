#!/usr/bin/env python3
"""The real show under its own Xvfb, driven through XTest and xdotool.

usage: show_e2e.py CASE PELMIRA PELMIRA_CAPTURE; exits 0 when the case holds.
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import wave

from desktop import TIMED, Failure, Xvfb, check, finish, wait_until

PELMIRA, CAPTURE = sys.argv[2:4]
XK_ESCAPE = 0xFF1B


def case_covers_screen_escape():
    with Xvfb("1024x768", "-wr") as x:
        show = x.start_running(PELMIRA)
        info = x.run("xwininfo", "-root", "-children").stdout.decode()
        check(re.search(r'"pelmira": \(.*\)\s+1024x768\+0\+0', info), "no full-screen window:\n" + info)
        # A tap: pressed and released between two polls must still count.
        x.run("xdotool", "key", "Escape")
        pressed = time.monotonic()
        status, err, timing = finish(show, 30)
        check(status == 0, f"status {status}, said {err}")
        check(not TIMED or time.monotonic() - pressed < 1.0, "Escape took over a second")
        check(timing and timing[1] > 0, "no frame was presented before Escape: " + err)


def case_escape_held():
    with Xvfb() as x:
        key = x.hold_key(XK_ESCAPE)
        status, err, timing = finish(x.start(PELMIRA), 20)
        key.release()
        check(status == 0 and timing and timing[1] == 0, f"status {status}, said {err}")


def case_signals():
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        with Xvfb("800x600", "-wr") as x:
            show = x.start_running(PELMIRA)
            show.send_signal(sig)
            sent = time.monotonic()
            status, err, timing = finish(show, 30)
            check(status == -sig, f"{sig.name}: status {status}")
            check(not TIMED or time.monotonic() - sent < 1.0, f"{sig.name} took over a second")
            # The timing line shows the show ended itself, display given back.
            check(timing and timing[1] > 0, f"{sig.name}: said {err}")


def case_no_display():
    env = {k: v for k, v in os.environ.items() if k not in ("WAYLAND_DISPLAY", "DISPLAY")}
    with tempfile.TemporaryDirectory() as runtime:
        # Each with the display it names, if any, to be named in the message.
        cases = (({}, ""), ({"XDG_RUNTIME_DIR": runtime}, ""), ({"DISPLAY": ":99"}, ":99"),
                 ({"XDG_RUNTIME_DIR": runtime, "WAYLAND_DISPLAY": "nothing"}, "nothing"))
        for extra, names in cases:
            show = subprocess.run([PELMIRA], env={**env, **extra}, capture_output=True, text=True,
                                  timeout=30)
            check(show.returncode == 1 and re.fullmatch(r"pelmira: cannot open the display: .+\n",
                                                        show.stderr) and names in show.stderr,
                  f"said {show.stderr!r}")


def case_disk_audio():
    with tempfile.TemporaryDirectory() as directory:
        path, device = os.path.join(directory, "sound.wav"), os.path.join(directory, "device.raw")
        subprocess.run([CAPTURE, path], check=True, timeout=120)
        with wave.open(path) as w:
            samples = w.readframes(w.getnframes())
        with Xvfb() as x:
            # About 20 times real time; the whole soundtrack in a second and a half.
            show = x.start(PELMIRA, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=device,
                           SDL_DISKAUDIODELAY="1")
            wait_until(lambda: os.path.exists(device) and
                       os.path.getsize(device) > len(samples) + 65536, "the whole soundtrack",
                       timeout=120)
            x.run("xdotool", "key", "Escape")
            check(finish(show, 30)[0] == 0, "nonzero exit status")
        with open(device, "rb") as f:
            got = f.read()
        # SDL feeds the device silence until playback is unpaused: a few buffers.
        lead = (len(got) - len(got.lstrip(b"\0"))) - (len(samples) - len(samples.lstrip(b"\0")))
        check(0 <= lead <= 32768 and not any(got[:lead]), f"the soundtrack starts at byte {lead}")
        check(got[lead:lead + len(samples)] == samples, "the device's bytes differ")
        check(not any(got[lead + len(samples):]), "the soundtrack did not end in silence")


def case_closed_descriptors():
    # Started without stdout and stderr, whose messages would otherwise go to
    # whatever took descriptor 2 next: the X connection.
    close_all = lambda: [os.close(fd) for fd in (1, 2)]
    with Xvfb("800x600", "-wr") as x, tempfile.TemporaryDirectory() as directory:
        for end in ("Escape", signal.SIGTERM):
            show = subprocess.Popen([PELMIRA], env=x.env(SDL_AUDIODRIVER="disk"),
                                    preexec_fn=close_all, cwd=directory)
            wait_until(lambda: show.poll() is not None or x.covered(), "the show's picture")
            check(show.poll() is None, f"the show ended by itself with {show.returncode}")
            if end == "Escape":
                x.run("xdotool", "key", "Escape")
            else:
                show.send_signal(end)
            status = wait_until(lambda: show.poll() is not None and [show.returncode],
                                f"the show to end on {end}", timeout=30)[0]
            check(status == (0 if end == "Escape" else -end), f"{end}: status {status}")
    with tempfile.TemporaryDirectory() as directory:
        frame = os.path.join(directory, "x.png")
        status = subprocess.run([CAPTURE, "--at", "1", frame], timeout=120,
                                preexec_fn=lambda: [os.close(fd) for fd in (0, 1, 2)]).returncode
        check(status == 0 and os.path.getsize(frame) > 0, f"the capture gave {status}")


def case_full_run():
    # 800x600 shows the picture pixel for pixel, through shared memory.
    with Xvfb("800x600", "-wr") as x:
        show = x.start_running(PELMIRA)
        status, err, timing = finish(show, 120)
        check(status == 0 and timing, f"status {status}, said {err}")
        # 31 s of demo time from the start tick; a little slack for the last frame.
        ran = timing[2] - timing[0]
        check(30.99 <= ran and (not TIMED or ran < 33.0), f"ran {ran:.3f} s")


if __name__ == "__main__":
    try:
        globals()["case_" + sys.argv[1]]()
    except Failure as failure:
        sys.exit(f"FAIL {sys.argv[1]}: {failure}")
