#!/usr/bin/env python3
"""Start-up and shut-down of the real show under Xvfb on each sound driver, a
fresh process per run.

usage: driver_startup.py PELMIRA [RUNS] [DRIVER...]
DRIVER: pulseaudio (ours, on a private PulseAudio with a null sink),
pulseaudio-idle (the same, its sink recorded by nobody, as a machine without a
sound card offers "Dummy Output"), pipewire-pulse (ours, on a private
PipeWire), sdl-pipewire (SDL's pipewire
driver on that PipeWire), disk (to /dev/null), dummy, alsa (on a machine
without a card); all of them without any named.

Each run of a driver is followed by one with --mute on the same desktop. The
null sink's monitor is recorded throughout, as a speaker listens, but for
pulseaudio-idle: an idle null sink renders two seconds ahead.
Reads the show's PELMIRA_TIMING line (seconds of the monotonic clock, which
Python's time.monotonic shares) and reports the median and spread of:
  start-up work       context ready -> start tick (textures, music, playback start)
  context -> 1st frame  and the same with --mute: the difference is the sound's
  clock over --mute   the same for context -> start tick: when the picture
                      starts moving, with the sound
  Escape -> gone      xdotool key Escape sent -> process reaped, split at the
                      show's call to end the process
  SIGTERM -> gone     the same for SIGTERM, sent to the --mute runs
"""
import contextlib
import os
import re
import signal
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from desktop import Xvfb, finish  # noqa: E402
from sound_server import Recording, SoundServer  # noqa: E402

DRIVERS = {  # name: (server, SDL_AUDIODRIVER, more environment)
    "pulseaudio": ("pulseaudio", "pulseaudio", {}),
    "pulseaudio-idle": ("idle", "pulseaudio", {}),
    "pipewire-pulse": ("pipewire", "pulseaudio", {}),
    "sdl-pipewire": ("pipewire", "pipewire", {}),
    "disk": (None, "disk", {"SDL_DISKAUDIOFILE": "/dev/null"}),
    "dummy": (None, "dummy", {}),
    "alsa": (None, "alsa", {"ALSA_CONFIG_PATH": "/dev/null"}),
}


def one_run(x, pelmira, env, *args, end="Escape"):
    show = x.start_running(pelmira, *args, **env)
    time.sleep(0.8)  # into the show, past its first frame
    sent = time.monotonic()
    if end == "Escape":
        x.run("xdotool", "key", "Escape")
    else:
        show.send_signal(signal.SIGTERM)
    status, err, _ = finish(show, 30)
    gone = time.monotonic()
    m = re.search(r"context=(\S+) start_tick=(\S+) first_frame=(\S+) frames=(\d+) exit=(\S+)", err)
    if not m or status != (0 if end == "Escape" else -signal.SIGTERM):
        sys.exit(f"run failed ({status}): {err}")
    context, start_tick, first_frame, _, exit_mark = map(float, m.groups())
    return {"start-up work": start_tick - context, "context -> 1st frame": first_frame - context,
            f"{end} -> gone": gone - sent, f"  {end} -> exit begins": exit_mark - sent,
            "  exit begins -> gone": gone - exit_mark}


def main():
    pelmira = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    for name in sys.argv[3:] or DRIVERS:
        server_kind, driver, extra = DRIVERS[name]
        with Xvfb("1024x768", "-wr") as x, contextlib.ExitStack() as stack:
            env = {"SDL_AUDIODRIVER": driver, **extra}
            if server_kind:
                server = stack.enter_context(SoundServer(server_kind == "pipewire"))
                env.update(server.env(), SDL_AUDIODRIVER=driver)
                if server_kind != "idle":
                    stack.callback(Recording(server).stop)
            results = [(one_run(x, pelmira, env),
                        one_run(x, pelmira, env, "--mute", end="SIGTERM")) for _ in range(runs)]
        print(f"{name}: {runs} runs of {pelmira}")
        rows = [(k, 0) for k in results[0][0]] + [("SIGTERM -> gone", 1)]
        for key, which in rows:
            values = sorted(r[which][key] * 1000 for r in results)
            print(f"  {key:24s} median {statistics.median(values):7.1f} ms"
                  f"   min {values[0]:7.1f}   max {values[-1]:7.1f}")
        sound = statistics.median((r["context -> 1st frame"] - m["context -> 1st frame"]) * 1000
                                  for r, m in results)
        print(f"  {'sound over --mute':24s} median {sound:7.1f} ms (context -> 1st frame)")
        # The first picture may show before the sound is heard and hold until
        # then: the clock's zero is when the show really starts moving.
        zero = sorted((r["start-up work"] - m["start-up work"]) * 1000 for r, m in results)
        print(f"  {'clock over --mute':24s} median {statistics.median(zero):7.1f} ms"
              f"   min {zero[0]:7.1f}   max {zero[-1]:7.1f} (context -> start tick)")


if __name__ == "__main__":
    main()
