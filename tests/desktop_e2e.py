#!/usr/bin/env python3
# The real show on real desktop pieces, each started by the case itself:
# sound servers (PulseAudio, PipeWire), window managers, a Wayland compositor.
#
# usage: desktop_e2e.py CASE PELMIRA PELMIRA_CAPTURE; exits 0 when the case
# holds, 77 when it does not apply to this build.

import contextlib
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

from desktop import (SKIP, TIMED, HeldKey, Weston, Xvfb, busy, check, check_picture, expect_run,
                     finish, run_case, soundtrack, wait_until)
from sound_server import Recording, SoundServer, sound_against_clock

PELMIRA, CAPTURE = sys.argv[2:4]
XK_ESCAPE = 0xFF1B


def stays_running(show, seconds):
    """True if the show is still running after the given time."""
    with contextlib.suppress(subprocess.TimeoutExpired):
        return show.wait(seconds) is None
    return True


def covers(show, env, screen):
    """True once the show's X window covers the whole screen (WxH)."""
    check(show.poll() is None, "the show ended by itself")
    found = subprocess.run(["xdotool", "search", "--name", "^pelmira$", "getwindowgeometry"],
                           env=env, capture_output=True).stdout.decode()
    return "Position: 0,0" in found and "Geometry: " + screen in found


def start_on_weston(x, weston):
    """Starts the show on weston inside x and waits until its picture has
    replaced weston's desktop."""
    shots = [x.grab()]

    def drawn():
        shots.append(x.grab())
        return any(shots[-1]) and shots[-1] == shots[-2]

    wait_until(drawn, "weston's desktop")
    desktop = shots[-1]
    show = subprocess.Popen([PELMIRA], env=weston.env(x.env()), stderr=subprocess.PIPE, text=True)

    def replaced():
        check(show.poll() is None, "the show ended by itself")
        screen = x.grab()
        return sum(abs(a - b) for a, b in zip(screen[::101], desktop[::101])) > 10 * len(
            screen[::101])

    wait_until(replaced, "the show's picture over weston's desktop")
    return show


# The sound against the picture's clock on each server under load, with a
# fault forced: "late wake" (every sleep of the show's main thread ends
# 100 ms late, the wait for the first sample included), the server or the
# show stopped mid-show for the time given and continued. A fault's run is
# ended by Escape, after which no more than a request's worth may be heard.
SYNC = [("PulseAudio", None, 0), ("PipeWire", None, 0),
        ("PulseAudio", "late wake", 0), ("PipeWire", "late wake", 0),
        ("PulseAudio", "server stopped", 0.2), ("PipeWire", "server stopped", 0.2),
        ("PulseAudio", "show stopped", 1.0)]
REQUEST = {"PulseAudio": 0.02, "PipeWire": 0.04}


def stop_for(group, seconds):
    """Stops a process group for the given time, the fault itself, and continues it."""
    os.killpg(group, signal.SIGSTOP)
    time.sleep(seconds)
    os.killpg(group, signal.SIGCONT)


def case_sound_keeps_time():
    # A promise about time: the sanitizer build is too slow to keep it.
    if not TIMED:
        sys.exit(SKIP)
    track = soundtrack(CAPTURE)
    late = {"LD_PRELOAD": os.environ["PELMIRA_BUSY_SHIM"], "PELMIRA_LATE_WAKE_MS": "100"}
    for name, fault, stop in SYNC:
        what = f"{name}, {fault or 'no fault'}"
        with busy(2), Xvfb("800x600") as x, SoundServer(name == "PipeWire") as server:
            recording = Recording(server)
            show = subprocess.Popen([PELMIRA], env=x.env(**server.env(), **(
                late if fault == "late wake" else {})), stderr=subprocess.PIPE, text=True,
                start_new_session=True)
            if fault:
                wait_until(lambda: show.poll() is not None or recording.holds_sound(2),
                           "2 s of sound")
                if stop:
                    stop_for(show.pid if "show" in fault else server.proc.pid, stop)
                wait_until(lambda: show.poll() is not None or recording.holds_sound(5),
                           "5 s of sound")
                x.run("xdotool", "key", "Escape")
            status, err, timing = finish(show, 120)
            recorded = recording.stop()
        check(status == 0 and timing, f"{what}: status {status}, said {err}")
        heard = int((timing[2] - timing[0] - 0.1) * 44100) * 2 if fault else len(track)
        gaps, offsets = sound_against_clock(recording, recorded, track[:heard], timing[0])
        check(offsets and (gaps == 0 or fault == "server stopped"), f"{what}: {gaps} gaps")
        # Within 20 ms of the clock, or in time again within a second of a
        # stall: the forced one, or one of a server on a busy machine.
        since, worst = None, (0, 0)
        for t, o in offsets:
            since = (since if since is not None else t) if abs(o) > 0.020 else None
            worst = max(worst, (t - since, o) if since is not None else (0, 0))
        check(worst[0] <= 1.0, f"{what}: the sound is {worst[1] * 1000:+.0f} ms off the "
              f"picture's clock for {worst[0]:.1f} s")
        if fault:
            last = (len(recorded.rstrip(b"\0")) - 1) // 2
            after = recording.start_for(last) + last / recording.rate - timing[2]
            check(after <= REQUEST[name] + 0.020, f"{what}: {after * 1000:.0f} ms of sound "
                  "after the end")


def case_window_manager():
    with Xvfb("1920x1080", "-wr") as x:
        x.start_window_manager("openbox", "--sm-disable")
        x.start_helper("xcompmgr")
        # xcompmgr paints the root grey: the screen looks covered before the
        # show has a window, so the window itself is asked for. Looping, it
        # outlasts grabs of 1920x1080 on a busy machine.
        show = x.start(PELMIRA, "--loop")
        wait_until(lambda: covers(show, x.env(), x.screen), "the window to cover the screen")
        shots = [x.grab_picture() for _ in range(3)]
        # Another window takes the focus: Escape there is not the show's.
        other = x.start_helper("xmessage", "another program")
        wait_until(lambda: b"xmessage" in x.run("xdotool", "getwindowfocus",
                                                 "getwindowname").stdout.lower(),
                   "the other window's focus")
        key = HeldKey(x.display, XK_ESCAPE)
        still = stays_running(show, 1.0)
        key.release()
        check(still, "Escape held in another window ended the show")
        other.terminate()
        x.run("xdotool", "search", "--name", "^pelmira$", "windowactivate", "--sync")
        status, err, timing = x.escape(show)
        check(status == 0 and timing, f"status {status}, said {err}")
        check(not x.leftovers(), f"left running: {x.leftovers()}")
        check_picture(shots, timing[0], CAPTURE)


def case_wayland_native():
    with Xvfb("1024x768") as x, Weston(x) as weston:
        # DISPLAY is set as well, as in a Wayland session with Xwayland.
        show = start_on_weston(x, weston)
        check(b'"pelmira"' not in x.run("xwininfo", "-root", "-tree").stdout,
              "the show went through X11")
        shots = [x.grab_picture() for _ in range(3)]
        status, err, timing = x.escape(show)
        expect_run("the show on weston", (status, err), 0, "", "")
        check_picture(shots, timing[0], CAPTURE)


def case_xwayland_full_screen():
    # weston's X window manager places a new window below its panel, full
    # screen or not: the show has to ask again.
    with Xvfb("1920x1080") as x, Weston(x, xwayland=True) as weston:
        env = {k: v for k, v in x.env().items() if k != "WAYLAND_DISPLAY"}
        env.update(DISPLAY=weston.xwayland_display(), XDG_RUNTIME_DIR=weston.runtime)
        show = subprocess.Popen([PELMIRA], env=env, stderr=subprocess.PIPE, text=True)
        covering = lambda: covers(show, env, x.screen)  # noqa: E731
        wait_until(covering, "the window to cover Xwayland's screen")
        # Before the window manager has placed it, any window is where it asked:
        # once placed, it is asked again.
        check(stays_running(show, 1.0), "the show ended by itself")
        wait_until(covering, "the window to cover Xwayland's screen once placed", timeout=15)
        subprocess.run(["xdotool", "key", "Escape"], env=env)
        status, err, _ = finish(show, 30)
        check(status == 0, f"status {status}, said {err}")


SEATLESS = (r"pelmira: cannot open the display: the Wayland compositor at wayland-pelmira offers "
            r"no seat \(no keyboard to end the show with\)\n")
NO_X = r"pelmira: cannot open the display: no X server {}\n"
NO_SOUND = r"pelmira: no audio device: {}; playing without sound\n"
# Each way of naming a driver, or none, on a desktop that cannot serve it:
# where the show runs ("seatless": weston without a seat and no X server,
# "none": no display at all, "x": Xvfb, ended with Escape, "x without RandR";
# "term", "escape": Xvfb, ended so as soon as the window shows, before any
# sound), the environment over that desktop's (None: unset; "RUNTIME": an empty
# runtime directory; "MUTE": a socket that never answers), the status and all
# the show says.
DRIVERS = [
    ("seatless", {}, 1, SEATLESS),
    ("seatless", {"SDL_VIDEODRIVER": "wayland"}, 1, SEATLESS),
    ("seatless", {"SDL_VIDEODRIVER": "wayland,x11"}, 1, SEATLESS),
    ("none", {"SDL_VIDEODRIVER": "x11"}, 1, NO_X.format(r"\(DISPLAY is not set\)")),
    ("none", {"SDL_VIDEODRIVER": "x11", "DISPLAY": ":99"}, 1,
     NO_X.format("answers at DISPLAY=:99")),
    ("x", {"SDL_AUDIODRIVER": None, "PULSE_SERVER": "unix:RUNTIME/none",
           "ALSA_CONFIG_PATH": "/dev/null"}, 0, NO_SOUND.format("PulseAudio: Connection refused")),
    ("x", {"SDL_AUDIODRIVER": "pulseaudio", "PULSE_SERVER": "unix:RUNTIME/none"}, 0,
     NO_SOUND.format("PulseAudio: Connection refused")),
    ("x", {"SDL_AUDIODRIVER": "pulseaudio", "PULSE_SERVER": "unix:MUTE"}, 0,
     NO_SOUND.format("PulseAudio: the server does not answer")),
    ("term", {"SDL_AUDIODRIVER": None, "PULSE_SERVER": "unix:MUTE"}, -15, ""),
    ("escape", {"SDL_AUDIODRIVER": None, "PULSE_SERVER": "unix:MUTE"}, 0, ""),
    ("x", {"SDL_AUDIODRIVER": "pipewire", "XDG_RUNTIME_DIR": "RUNTIME",
           "PIPEWIRE_RUNTIME_DIR": None}, 0, NO_SOUND.format("Pipewire: [^\n]+")),
    ("x", {"SDL_AUDIODRIVER": "alsa", "ALSA_CONFIG_PATH": "/dev/null"}, 0,
     NO_SOUND.format("ALSA: [^\n]+")),
    ("x", {"SDL_AUDIODRIVER": "dummy"}, 0, ""),
    ("x without RandR", {}, 0, ""),
    # fontconfig's complaints about its set-up, in one line of ours.
    ("x", {"FONTCONFIG_FILE": "RUNTIME/none.conf"}, 0, r"pelmira: fontconfig: [^\n]+\n"),
    ("x", {"FONTCONFIG_FILE": "/etc/passwd"}, 0, r"pelmira: fontconfig: [^\n]+\n"),
    # Lists past 255 bytes are taken whole.
    ("x", {"SDL_VIDEODRIVER": "," * 254 + "x11"}, 0, ""),
    ("x", {"SDL_AUDIODRIVER": "," * 254 + "alsa", "ALSA_CONFIG_PATH": "/dev/null"}, 0,
     NO_SOUND.format("ALSA: [^\n]+")),
]


def case_named_drivers():
    for where, extra, status, said in DRIVERS:
        with tempfile.TemporaryDirectory() as runtime, contextlib.ExitStack() as stack:
            mute = stack.enter_context(socket.socket(socket.AF_UNIX))
            mute.bind(os.path.join(runtime, "mute"))
            mute.listen(8)
            base = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
            if where == "seatless":
                base = stack.enter_context(Weston()).env(base)
            elif where != "none":  # covered once drawn
                x = stack.enter_context(Xvfb("1024x768", "-wr", *["-extension", "RANDR"] * (
                    "RandR" in where)))
                base = x.env()
            env = {**base, **{k: v.replace("RUNTIME", runtime).replace(
                "MUTE", os.path.join(runtime, "mute")) for k, v in extra.items() if v}}
            env = {k: v for k, v in env.items() if extra.get(k, "") is not None}
            if where.startswith("x"):
                show = subprocess.Popen([PELMIRA], env=env, stderr=subprocess.PIPE, text=True)
                wait_until(lambda: show.poll() is not None or x.covered(), "the show's picture")
                result = x.escape(show)[:2]
            elif where in ("term", "escape"):
                show = subprocess.Popen([PELMIRA], env=env, stderr=subprocess.PIPE, text=True)
                x.run("xdotool", "search", "--sync", "--onlyvisible", "--pid", str(show.pid))
                show.terminate() if where == "term" else x.run("xdotool", "key", "Escape")
                result = finish(show, 30)[:2]
            else:
                result = subprocess.run([PELMIRA], env=env, capture_output=True, text=True,
                                        timeout=30)
            expect_run(f"{where} {extra}", result, status, "", said)


STARTING = (r"pelmira: (lost the X server at :\d+; ending the show|"
            r"cannot open the display: [^\n]+)\n")
# The desktop piece the show loses while it runs (or this many seconds into
# its start, or stopped with SIGSTOP, whereupon the show is sent SIGTERM), the
# status it must end with and all it says.
LOSSES = [*((f"X server {t} s in", 1, STARTING) for t in (0.25, 0.4, 0.55, 0.7)),
          ("frozen X server", -signal.SIGTERM, ""), ("frozen weston", -signal.SIGTERM, ""),
          ("window", 1, "pelmira: the show's window was destroyed by another program; ending the "
           "show\n"),
          ("PulseAudio", 0, "pelmira: the sound device is gone; the show goes on without sound\n"),
          ("PipeWire", 0, "pelmira: the sound device is gone; the show goes on without sound\n"),
          ("weston", 1, r"pelmira: lost the Wayland compositor; ending the show\n"),
          ("X server", 1, r"pelmira: lost the X server at :\d+; ending the show\n")]


def case_losses():
    for piece, status, said in LOSSES:
        with contextlib.ExitStack() as stack:
            x = stack.enter_context(Xvfb("1024x768", "-wr"))
            server = x.proc
            if "weston" in piece:
                weston = stack.enter_context(Weston(x))
                show, server = start_on_weston(x, weston), weston.proc
            elif " s in" in piece:
                show = x.start(PELMIRA)
                time.sleep(float(piece.split()[2]))  # the stimulus: lost this far into the start
            elif "X server" in piece or piece == "window":
                show = x.start_running(PELMIRA)
            if piece.startswith("frozen"):
                server.send_signal(signal.SIGSTOP)
                stack.callback(server.send_signal, signal.SIGCONT)  # before it is ended
                show.send_signal(signal.SIGTERM)
            elif piece == "window":
                x.run("xdotool", "search", "--name", "^pelmira$", "windowclose")
            elif "weston" in piece or "X server" in piece:
                server.kill()
            else:
                server = stack.enter_context(SoundServer(piece == "PipeWire"))
                show = x.start(PELMIRA, **server.env())
                # Lost while playing: the first frame comes once the sound has started.
                wait_until(lambda: show.poll() is not None or server.playing() and x.covered(),
                           "the show's sound and picture")
                server.stop()
                check(stays_running(show, 1.0), f"the show ended with {piece}")
                x.run("xdotool", "key", "Escape")
            expect_run(f"{piece} lost", finish(show, 30)[:2], status, "", said)
            if piece == "X server":
                x.proc.wait()
                check(not x.leftovers(), f"left running: {x.leftovers()}")


if __name__ == "__main__":
    run_case(globals())
