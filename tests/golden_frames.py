#!/usr/bin/env python3
"""The real capture tool's frames against the committed references: each
listed frame matches its reference, and a frame one step of the capture's
clock away must not, or a wrong camera would pass too.

usage: golden_frames.py CASE PELMIRA_CAPTURE GOLDEN_DIR; exits 0 when the case
holds.
"""
import os
import subprocess
import sys
import tempfile

from desktop import check, run_case

CAPTURE, GOLDEN = sys.argv[2:4]
# A byte per channel value: 1 where it is off by more than 48, else 0.
FAR = bytes(int(v > 48) for v in range(256))


def difference(got, reference, scale=""):
    """How far a frame is from its reference (first scaled by ffmpeg's filter
    options scale, if given): the mean difference of its colour values and
    the share of its pixels off by more than 48 in a channel. A frame
    matches when the mean is under 2 and the share under 0.5 %: room for
    rasteriser rounding, none for another scene, camera, texture or state."""
    graph = (f"[1]{scale}[ref];[0][ref]" if scale else "[0][1]") + \
        "blend=all_mode=difference,format=gbrp"
    out = subprocess.run(["ffmpeg", "-v", "error", "-i", got, "-i", reference, "-lavfi", graph,
                          "-f", "rawvideo", "-"], capture_output=True, timeout=60)
    if out.returncode or not out.stdout:  # sizes that differ cannot be blended
        return 255.0, 1.0
    plane = len(out.stdout) // 3
    far = [int.from_bytes(out.stdout[k * plane:(k + 1) * plane].translate(FAR), "big")
           for k in range(3)]  # a 1 in any plane marks the pixel
    return sum(out.stdout) / len(out.stdout), bin(far[0] | far[1] | far[2]).count("1") / plane


def check_frames(options, listing, prefix, neighbours, scaled=()):
    """Captures with options and holds each frame listing names to its
    reference, prefix NNN.png; frame n of each (n, other) of neighbours must
    not pass as other, nor of each (n, file, scale) of scaled as file scaled."""
    with open(os.path.join(GOLDEN, listing)) as f:
        numbers = [int(line.split()[0]) for line in f if line[0] != "#"]
    check(len(numbers) >= 4, f"{listing} lists {numbers}")
    name = lambda n: f"{prefix}{n:03d}.png"
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([CAPTURE, *options, os.path.join(folder, "%03d.png")], check=True,
                       timeout=600, capture_output=True)
        for n, reference, scale, same in ([(n, name(n), "", True) for n in numbers] +
                                          [(n, name(o), "", False) for n, o in neighbours] +
                                          [(*s, False) for s in scaled]):
            mean, far = difference(os.path.join(folder, f"{n:03d}.png"),
                                   os.path.join(GOLDEN, reference), scale)
            # A frame that cannot be compared passes as nothing.
            check(mean < 255 and (mean < 2.0 and far < 0.005) == same,
                  f"frame {n} against {reference}: mean {mean:.3f}, far {far * 100:.3f} %")


def case_frames_10fps():
    check_frames(["--fps", "10"], "frames.txt", "frame-10fps-",
                 ((26, 25), (76, 75), (171, 170), (251, 250)))


def case_frames_1600x1200():
    # Drawn at 1600x1200, not scaled up: the same look at four times the
    # pixels. The 800x600 picture of the moment, each pixel doubled, must not
    # pass: the scroller's text is where it shows.
    check_frames(["--size", "1600x1200", "--fps", "2", "--to", "25.1"], "frames-1600x1200.txt",
                 "frame-1600x1200-2fps-", ((6, 5), (16, 15), (35, 34), (49, 50)),
                 [(5, "frame-10fps-025.png", "scale=1600:1200:flags=neighbor")])


if __name__ == "__main__":
    run_case(globals())
