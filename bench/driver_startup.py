#!/usr/bin/env python3
"""Start-up and shut-down of the real show under Xvfb, a fresh process per run.

usage: driver_startup.py PELMIRA [RUNS]

Reads the show's PELMIRA_TIMING line (seconds of the monotonic clock, which
Python's time.monotonic shares) and reports the median and spread of:
  start-up work       context ready -> start tick (textures, music, playback start)
  spawn -> context    process start -> window and GL context (SDL, GLX, llvmpipe)
  spawn -> 1st frame  process start -> first frame presented
  Escape -> gone      xdotool key Escape sent -> process reaped, split at the
                      show's call to end the process
"""
import os
import re
import select
import statistics
import subprocess
import sys
import time


def start_xvfb():
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=(write_end,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        select.select([read_end], [], [], 20)
        chunk = os.read(read_end, 16)
        if not chunk:
            sys.exit("Xvfb did not start")
        number += chunk
    os.close(read_end)
    return proc, ":" + number.decode().strip()


def one_run(pelmira, env):
    spawned = time.monotonic()
    show = subprocess.Popen([pelmira], env=env, stderr=subprocess.PIPE, text=True)
    subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(show.pid)],
                   env=env, capture_output=True, timeout=60)
    time.sleep(0.8)
    sent = time.monotonic()
    subprocess.run(["xdotool", "key", "Escape"], env=env, timeout=20)
    _, err = show.communicate(timeout=30)
    gone = time.monotonic()
    m = re.search(r"context=(\S+) start_tick=(\S+) first_frame=(\S+) frames=(\d+) exit=(\S+)", err)
    if not m or show.returncode != 0:
        sys.exit(f"run failed ({show.returncode}): {err}")
    context, start_tick, first_frame, _, exit_mark = map(float, m.groups())
    return {
        "start-up work": start_tick - context,
        "spawn -> context": context - spawned,
        "start tick -> 1st frame": first_frame - start_tick,
        "spawn -> 1st frame": first_frame - spawned,
        "Escape -> gone": gone - sent,
        "  Escape -> exit begins": exit_mark - sent,
        "  exit begins -> gone": gone - exit_mark,
    }


def main():
    pelmira = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    xvfb, display = start_xvfb()
    env = {k: v for k, v in os.environ.items() if k != "WAYLAND_DISPLAY"}
    env.update(DISPLAY=display, PELMIRA_TIMING="1", SDL_AUDIODRIVER="disk",
               SDL_DISKAUDIOFILE="/dev/null")
    try:
        results = [one_run(pelmira, env) for _ in range(runs)]
    finally:
        xvfb.terminate()
        xvfb.wait()
    print(f"{runs} runs of {pelmira}")
    for key in results[0]:
        values = sorted(r[key] * 1000 for r in results)
        print(f"  {key:24s} median {statistics.median(values):7.1f} ms"
              f"   min {values[0]:7.1f}   max {values[-1]:7.1f}")


if __name__ == "__main__":
    main()
