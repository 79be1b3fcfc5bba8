#!/usr/bin/env python3
"""The capture tool's frame outputs and error paths, run as users run it."""

import json
import os
import signal
import subprocess
import tempfile
import time
import unittest

TOOL = os.environ["CAPTURE_TOOL"]


def capture(*args, env=None):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, env=env, timeout=300)


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json",
                          path], capture_output=True, text=True, check=True).stdout
    info = json.loads(out)
    return info["format"], {s["codec_type"]: s for s in info["streams"]}


class Capture(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.folder = self.dir.name
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.folder, name)

    def test_frames_hashes_and_video(self):
        self.assertEqual(capture("--at", "0.5", self.path("at.png")).returncode, 0)
        _, streams = probe(self.path("at.png"))
        self.assertEqual((streams["video"]["width"], streams["video"]["height"]), (800, 600))
        # Frames before 100 ms at 60 fps: 0, 17, 33, 50, 67, 83 ms.
        os.mkdir(self.path("seq"))
        self.assertEqual(capture("--to", "0.1", self.path("seq/%03d.png")).returncode, 0)
        self.assertEqual(sorted(os.listdir(self.path("seq"))), [f"{k:03d}.png" for k in range(6)])
        # --at 0.5 is frame 30 of the same timing, byte for byte.
        self.assertEqual(capture("--from", "0.5", "--to", "0.51", self.path("seq/%03d.png"))
                         .returncode, 0)
        with open(self.path("at.png"), "rb") as a, open(self.path("seq/030.png"), "rb") as b:
            self.assertEqual(a.read(), b.read())

        hashes = self.path("part.hashes")
        self.assertEqual(capture("--to", "0.25", "--hashes", hashes).returncode, 0)
        with open(hashes) as f:
            lines = [line.split() for line in f if not line.startswith("#")]
        self.assertEqual(lines[0][0], "sound")
        self.assertEqual([int(l[0]) for l in lines[1:]], list(range(15)))
        self.assertEqual(len({l[2] for l in lines[1:]}), 15, "the zoom changes every frame")
        self.assertEqual(capture("--to", "0.25", "--verify", hashes).returncode, 0)
        lines[5][2] = "%016x" % (int(lines[5][2], 16) ^ 1)
        with open(hashes, "w") as f:
            f.write("".join(" ".join(l) + "\n" for l in lines))
        result = capture("--to", "0.25", "--verify", hashes)
        self.assertEqual(result.returncode, 1)
        self.assertIn("frame 4 differs", result.stderr)

        for name, video, audio in (("v.mp4", "h264", "aac"), ("v.webm", "vp9", "opus"),
                                   ("v.mkv", "h264", "aac")):
            result = capture("--to", "0.5", self.path(name))
            self.assertEqual(result.returncode, 0, result.stderr)
            form, streams = probe(self.path(name))
            self.assertEqual(streams["video"]["codec_name"], video)
            self.assertEqual(streams["audio"]["codec_name"], audio)
            self.assertAlmostEqual(float(form["duration"]), 0.5, delta=0.1)
        # The video's frame 3 is the PNG's frame 3, colours and all; frame 4 is not.
        for png, low, high in (("003", 40, 99), ("004", 0, 30)):
            psnr = subprocess.run(["ffmpeg", "-i", self.path("v.mp4"), "-i", self.path(
                f"seq/{png}.png"), "-lavfi", "[0:v]select=eq(n\\,3)[a];[a][1:v]psnr", "-f",
                "null", "-"], capture_output=True, text=True).stderr
            self.assertTrue(low < float(psnr.split("average:")[1].split()[0]) < high, psnr)
        self.assertFalse([n for n in os.listdir(self.folder) if n.startswith(".")],
                         "temporaries left behind")

    def test_bad_arguments_exit_2_with_a_usage_hint(self):
        for args in (["--fps", "abc", "x.mp4"], ["--fps", "0", "x.mp4"], ["x.png"],
                     ["--at", "5", "x.mp4"], ["--at", "40", "x.png"], ["--from", "-1", "x.mp4"],
                     ["--from", "5", "--to", "4", "x.mp4"], ["x.avi"], ["x-%s.png"]):
            result = capture(*[a if a.startswith("-") or a[0].isdigit() else self.path(a)
                               for a in args])
            self.assertEqual((result.returncode, result.stdout), (2, ""), args)
            self.assertIn("--help", result.stderr, args)
        self.assertEqual(os.listdir(self.folder), [])

    def test_failures_are_said_and_leave_nothing(self):
        result = capture(self.path("show.mp4"), env={"PATH": self.folder})
        self.assertEqual(result.returncode, 1)
        self.assertIn("ffmpeg", result.stderr)
        missing = self.path("missing")
        for args in (["show.mp4"], ["--at", "0", "at.png"], ["--to", "0.05", "%03d.png"],
                     ["--to", "0.05", "--hashes", "h"]):
            args[-1] = os.path.join(missing, args[-1])
            result = capture(*args)
            self.assertEqual(result.returncode, 1, args)
            self.assertIn(missing, result.stderr)
        self.assertEqual(os.listdir(self.folder), [])

    def test_interrupted_video_leaves_nothing_behind(self):
        for sig in (signal.SIGINT, signal.SIGTERM):
            proc = subprocess.Popen([TOOL, self.path("show.mp4")], stderr=subprocess.DEVNULL)
            deadline = time.time() + 60
            while time.time() < deadline and not os.listdir(self.folder):
                time.sleep(0.05)
            time.sleep(1.0)  # well into rendering
            proc.send_signal(sig)
            self.assertEqual(proc.wait(timeout=20), -sig)
            self.assertEqual(os.listdir(self.folder), [], "no final file, no temporaries")


if __name__ == "__main__":
    unittest.main()
