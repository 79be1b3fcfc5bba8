#!/usr/bin/env python3
"""Rewrites the golden frames and the full-show hash file from the current build.

    tests/regenerate_golden.py build/release/pelmira-capture

Run it only after checking that a change of the picture is intended: the
references are what the golden tests hold the show to.
"""

import os
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from imagefile import read_png  # noqa: E402

GOLDEN = os.path.join(HERE, "golden")
FPS = 10


def write_small_png(path, image):
    """Writes a frame as compactly as zlib allows, rows unfiltered."""
    width, height, channels, rows = image
    raw = b"".join(b"\0" + row for row in rows)
    colour = {1: 0, 3: 2, 4: 6}[channels]

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body)))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    tool = sys.argv[1]
    with open(os.path.join(GOLDEN, "frames.txt")) as f:
        frames = [int(line.split()[0]) for line in f if line.strip() and line[0] != "#"]
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([tool, "--fps", str(FPS), os.path.join(folder, "%03d.png")], check=True)
        for frame in frames:
            image = read_png(os.path.join(folder, f"{frame:03d}.png"))
            write_small_png(os.path.join(GOLDEN, f"frame-{FPS}fps-{frame:03d}.png"), image)
    subprocess.run([tool, "--hashes", os.path.join(GOLDEN, "show-60fps.hashes")], check=True)
    print(f"wrote {len(frames)} reference frames and show-60fps.hashes to {GOLDEN}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
