#!/usr/bin/env python3
"""The capture tool's frame outputs and error paths, run as users run it."""

import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from imagefile import read_png  # noqa: E402

TOOL = os.environ.get("CAPTURE_TOOL", "pelmira-capture")


def capture(*args, env=None, cwd=None):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, env=env, cwd=cwd,
                          timeout=300)


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of",
                          "json", path], capture_output=True, text=True, check=True).stdout
    return json.loads(out)


class Frames(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.folder = self.dir.name

    def tearDown(self):
        self.dir.cleanup()

    def test_single_frame_and_sequence(self):
        single = os.path.join(self.folder, "at.png")
        result = capture("--at", "0.5", single)
        self.assertEqual(result.returncode, 0, result.stderr)
        width, height, channels, rows = read_png(single)
        self.assertEqual((width, height, channels), (800, 600, 3))
        self.assertTrue(any(any(row) for row in rows), "the scroller frame is not all black")

        pattern = os.path.join(self.folder, "seq", "%03d.png")
        os.mkdir(os.path.dirname(pattern))
        result = capture("--to", "0.1", pattern)
        self.assertEqual(result.returncode, 0, result.stderr)
        # At 60 fps the frames before 100 ms are drawn at 0, 17, 33, 50, 67 and 83 ms.
        self.assertEqual(sorted(os.listdir(os.path.dirname(pattern))),
                         [f"{k:03d}.png" for k in range(6)])
        # The single frame at 0.5 s is frame 30 of the sequence timing.
        result = capture("--from", "0.5", "--to", "0.51", pattern)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(single, "rb") as a, open(pattern % 30, "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_hashes_verify_and_report_the_first_difference(self):
        hashes = os.path.join(self.folder, "part.hashes")
        result = capture("--to", "0.25", "--hashes", hashes)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(hashes) as f:
            lines = [line.split() for line in f if not line.startswith("#")]
        self.assertEqual(lines[0][0], "sound")
        self.assertEqual([int(l[0]) for l in lines[1:]], list(range(15)))
        self.assertEqual(lines[1][1], "0")
        self.assertEqual(len({l[2] for l in lines[1:]}), 15, "the zoom changes every frame")
        self.assertEqual(capture("--to", "0.25", "--verify", hashes).returncode, 0)

        lines[5][2] = "%016x" % (int(lines[5][2], 16) ^ 1)
        with open(hashes, "w") as f:
            f.write("".join(" ".join(l) + "\n" for l in lines))
        result = capture("--to", "0.25", "--verify", hashes)
        self.assertEqual(result.returncode, 1)
        self.assertIn("frame 4 differs", result.stderr)

    def test_video_with_its_soundtrack(self):
        for name, video, audio in (("show.mp4", "h264", "aac"), ("show.webm", "vp9", "opus"),
                                   ("show.mkv", "h264", "aac")):
            path = os.path.join(self.folder, name)
            result = capture("--to", "0.5", path)
            self.assertEqual(result.returncode, 0, result.stderr)
            info = probe(path)
            streams = {s["codec_type"]: s for s in info["streams"]}
            self.assertEqual(streams["video"]["codec_name"], video)
            self.assertEqual((streams["video"]["width"], streams["video"]["height"]), (800, 600))
            self.assertEqual(streams["audio"]["codec_name"], audio)
            self.assertAlmostEqual(float(info["format"]["duration"]), 0.5, delta=0.1)
        self.assertEqual(sorted(os.listdir(self.folder)), ["show.mkv", "show.mp4", "show.webm"],
                         "no temporaries left")


class Errors(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.folder = self.dir.name

    def tearDown(self):
        self.dir.cleanup()

    def test_bad_arguments_exit_2_with_a_usage_hint(self):
        out = os.path.join(self.folder, "x")
        for args in (["--fps", "abc", out + ".mp4"], ["--fps", "0", out + ".mp4"],
                     [out + ".png"], ["--at", "5", out + ".mp4"], ["--at", "40", out + ".png"],
                     ["--from", "5", "--to", "4", out + ".mp4"], [out + ".avi"],
                     [out + "-%s.png"], ["--from", "-1", out + ".mp4"], ["--bogus"]):
            result = capture(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn("--help", result.stderr, args)
            self.assertEqual(result.stdout, "", args)
        self.assertEqual(os.listdir(self.folder), [])

    def test_missing_ffmpeg_is_said_before_any_work(self):
        out = os.path.join(self.folder, "show.mp4")
        result = capture(out, env={"PATH": self.folder})
        self.assertEqual(result.returncode, 1)
        self.assertIn("ffmpeg", result.stderr)
        self.assertEqual(os.listdir(self.folder), [])

    def test_unwritable_output_names_the_path(self):
        for name in ("show.mp4", "at.png", "%03d.png", "out.hashes"):
            path = os.path.join(self.folder, "missing", name)
            args = ["--hashes", path] if name.endswith(".hashes") else [path]
            if name == "at.png":
                args = ["--at", "0", path]
            if name == "%03d.png":
                args = ["--to", "0.05", path]
            result = capture(*args)
            self.assertEqual(result.returncode, 1, name)
            self.assertIn(os.path.join(self.folder, "missing"), result.stderr)

    def test_interrupted_video_leaves_nothing_behind(self):
        out = os.path.join(self.folder, "show.mp4")
        for sig in (signal.SIGINT, signal.SIGTERM):
            proc = subprocess.Popen([TOOL, out], stderr=subprocess.PIPE, text=True)
            deadline = time.time() + 60
            while time.time() < deadline and not any(n.startswith(".show.mp4")
                                                     for n in os.listdir(self.folder)):
                time.sleep(0.05)
            time.sleep(1.0)  # well into rendering
            proc.send_signal(sig)
            proc.communicate(timeout=20)
            self.assertEqual(proc.returncode, -sig)
            self.assertEqual(os.listdir(self.folder), [], "no final file, no temporaries")


if __name__ == "__main__":
    unittest.main()
