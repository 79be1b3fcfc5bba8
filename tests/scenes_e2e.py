#!/usr/bin/env python3
"""The real show on a 1920x1080 Xvfb screen: mid-show, the 800x600 picture must
be scaled to 1440x1080 and centred, with black bars left and right.

usage: scenes_e2e.py PELMIRA
The fly-in's additive passes saturate the whole picture to white for a few
seconds around t = 11, which shows the picture's extent to the pixel.
"""
import os
import select
import subprocess
import sys
import time

WIDTH, HEIGHT = 1920, 1080
LEFT, RIGHT = 240, 1680  # 4:3 at full height: 1440 wide, centred


def start_xvfb():
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{WIDTH}x{HEIGHT}x24",
         "-nolisten", "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        ready, _, _ = select.select([read_end], [], [], 20)
        chunk = os.read(read_end, 16) if ready else b""
        if not chunk:
            server.kill()
            sys.exit("Xvfb did not start")
        number += chunk
    os.close(read_end)
    return server, ":" + number.decode().strip()


def grab(env, display):
    result = subprocess.run(
        ["ffmpeg", "-loglevel", "error", "-f", "x11grab", "-video_size", f"{WIDTH}x{HEIGHT}",
         "-i", display, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "gray", "-"],
        env=env, capture_output=True, timeout=30)
    if result.returncode != 0 or len(result.stdout) != WIDTH * HEIGHT:
        sys.exit("ffmpeg could not grab the screen: " + result.stderr.decode())
    return result.stdout


def check(condition, message):
    if not condition:
        sys.exit("FAIL: " + message)


def rows(pixels):
    return [pixels[y * WIDTH:(y + 1) * WIDTH] for y in range(0, HEIGHT, 4)]


def main():
    pelmira = sys.argv[1]
    server, display = start_xvfb()
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(DISPLAY=display, SDL_AUDIODRIVER="dummy")
    show = subprocess.Popen([pelmira], env=env, stderr=subprocess.PIPE, text=True)
    try:
        found = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid",
                                str(show.pid)], env=env, capture_output=True, timeout=60)
        check(found.returncode == 0, "the show's window never appeared")
        # Start-up (music included) comes first; then wait for the white frames.
        picture = None
        deadline = time.monotonic() + 60
        while picture is None and show.poll() is None and time.monotonic() < deadline:
            shot = grab(env, display)
            inside = rows(shot)
            if all(min(r[LEFT + 2:RIGHT - 2]) == 255 for r in inside):
                picture = inside
        check(picture is not None, "no frame filled the centred 1440x1080 area with white")
        for y, r in zip(range(0, HEIGHT, 4), picture):
            check(max(r[:LEFT - 2]) == 0, f"left bar not black in row {y}")
            check(max(r[RIGHT + 2:]) == 0, f"right bar not black in row {y}")
        check(show.poll() is None, "the show ended early")
        subprocess.run(["xdotool", "key", "Escape"], env=env, timeout=20)
        status = show.wait(30)
        check(status == 0, f"exit status {status}: {show.stderr.read()}")
    finally:
        if show.poll() is None:
            show.kill()
            show.wait()
        server.terminate()
        server.wait()
    print("picture centred at 4:3 with black bars")


if __name__ == "__main__":
    main()
