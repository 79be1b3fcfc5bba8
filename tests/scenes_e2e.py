#!/usr/bin/env python3
# The real show on a 1920x1080 Xvfb screen: mid-show the 800x600 picture is
# scaled to 1440x1080 and centred, with black bars left and right. The fly-in
# saturates the whole picture to white around t = 11, showing its extent.
# usage: scenes_e2e.py PELMIRA; a failed check raises driver_e2e.Failure.
import sys

from driver_e2e import Show, Xvfb, check, grab_screen, wait_for_window

W, H, LEFT, RIGHT = 1920, 1080, 240, 1680


def main():
    with Xvfb(f"{W}x{H}x24") as x:
        show = Show(sys.argv[1], x.env())
        try:
            wait_for_window(x, show)
            while True:
                red = grab_screen(x, f"{W}x{H}")[::3]
                rows = [red[y * W:(y + 1) * W] for y in range(0, H, 4)]
                if all(min(r[LEFT + 2:RIGHT - 2]) == 255 for r in rows):
                    break
                check(show.proc.poll() is None, "no frame filled the 1440x1080 area with white")
            check(all(max(r[:LEFT - 2] + r[RIGHT + 2:]) == 0 for r in rows), "bars not black")
            x.xdotool("key", "Escape")
            check(show.wait(30) == 0, f"exit status {show.proc.returncode}: {show.stderr}")
        finally:
            show.proc.kill()  # a no-op once it has ended
            show.proc.wait()


if __name__ == "__main__":
    main()
