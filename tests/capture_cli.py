#!/usr/bin/env python3
"""pelmira-capture run as users run it: what it writes, what it refuses, how
it fails, and what an interrupt leaves."""

import json
import os
import resource
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import wave

TOOL = os.environ["CAPTURE_TOOL"]
GOLDEN = os.environ["GOLDEN_DIR"]


def capture(*args, env=None, **kw):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, env=env, timeout=300,
                          **kw)


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json",
                          path], capture_output=True, text=True, check=True).stdout
    info = json.loads(out)
    return info["format"], {s["codec_type"]: s for s in info["streams"]}


def fnv1a(data):
    h = 0xCBF29CE484222325
    for byte in data:
        h = ((h ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return f"{h:016x}"


class Capture(unittest.TestCase):
    def setUp(self):
        self.folder = self.enterContext(tempfile.TemporaryDirectory())

    def path(self, name):
        return os.path.join(self.folder, name)

    def test_writes_frames_hashes_video_and_sound(self):
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

        # The soundtrack is the wave image the show plays, whose hash the
        # reference hash file holds.
        result = capture(self.path("s.wav"))
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        with wave.open(self.path("s.wav"), "rb") as w:
            self.assertEqual((w.getcomptype(), w.getnchannels(), w.getsampwidth(),
                              w.getframerate(), w.getnframes()), ("NONE", 1, 2, 44100, 1310560))
        with open(os.path.join(GOLDEN, "show-60fps.hashes")) as f:
            sound = next(line.split()[1] for line in f if line.startswith("sound "))
        with open(self.path("s.wav"), "rb") as f:
            self.assertEqual(fnv1a(f.read()), sound)
        self.assertFalse([n for n in os.listdir(self.folder) if n.startswith(".")],
                         "temporaries left behind")

    def test_refusals_exit_2_with_one_line_and_a_hint(self):
        for args in (["--fps", "abc", "x.mp4"], ["--fps", "0", "x.mp4"], ["x.png"],
                     ["--at", "5", "x.mp4"], ["--at", "40", "x.png"], ["--from", "-1", "x.mp4"],
                     ["--from", "5", "--to", "4", "x.mp4"], ["x.avi"], ["x-%s.png"], ["--bogus"],
                     [], ["a.wav", "b.wav"], ["--fps"], ["--help=x"], ["-x", "a.wav"],
                     ["--at", "1", "--hashes", "h", "x.wav"]):
            result = capture(*[a if a.startswith("-") or a[0].isdigit() else self.path(a)
                               for a in args])
            self.assertEqual((result.returncode, result.stdout), (2, ""), args)
            message, hint = result.stderr.splitlines()
            self.assertTrue(message.startswith("pelmira-capture: "), args)
            self.assertEqual(hint, "Try 'pelmira-capture --help' for more information.")
        for option in ("--help", "--version"):
            result = capture(option)
            self.assertEqual((result.returncode, result.stderr), (0, ""), option)
            self.assertIn("pelmira-capture", result.stdout)
        self.assertEqual(os.listdir(self.folder), [])

    def test_failures_are_said_and_leave_nothing(self):
        result = capture(self.path("show.mp4"), env={"PATH": self.folder})
        self.assertEqual(result.returncode, 1)
        self.assertIn("ffmpeg", result.stderr)
        missing = self.path("missing")
        for args in (["show.mp4"], ["--at", "0", "at.png"], ["--to", "0.05", "%03d.png"],
                     ["--to", "0.05", "--hashes", "h"], ["s.wav"]):
            args[-1] = os.path.join(missing, args[-1])
            result = capture(*args)
            self.assertEqual(result.returncode, 1, args)
            self.assertIn(f"'{missing}/", result.stderr)
        # No OpenGL to be had: one line, nothing written, not even a temporary.
        no_gl = {**os.environ, "__EGL_VENDOR_LIBRARY_FILENAMES": self.path("none.json")}
        for name in ("show.mp4", "at.png"):
            result = capture("--at" if name.endswith("png") else "--to", "1", self.path(name),
                             env=no_gl)
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertRegex(result.stderr, r"^pelmira-capture: cannot [^\n]+\n$")
        # A directory in the way is refused only at the rename; a file too
        # large for the limit at the write (SIGXFSZ ignored gives EFBIG).
        os.mkdir(self.path("taken.wav"))
        with open(self.path("old.wav"), "w") as f:
            f.write("old")
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        small = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))
        for name, error, limit in (("taken.wav", "Is a directory", None),
                                   ("old.wav", "File too large", small)):
            result = capture(self.path(name), preexec_fn=limit, restore_signals=False)
            self.assertEqual(result.returncode, 1, name)
            self.assertIn(f"'{self.path(name)}': {error}", result.stderr)
        self.assertEqual(sorted(os.listdir(self.folder)), ["old.wav", "taken.wav"])
        with open(self.path("old.wav")) as f:
            self.assertEqual(f.read(), "old")

    def test_interrupted_video_leaves_nothing_behind(self):
        for sig in (signal.SIGINT, signal.SIGTERM):
            proc = subprocess.Popen([TOOL, self.path("show.mp4")], stderr=subprocess.DEVNULL)
            # Frames have reached the encoder once its output has grown.
            deadline = time.monotonic() + 120
            while not any(n.startswith(".show.mp4.") and not n.endswith(".wav") and
                          os.path.getsize(self.path(n)) > 0 for n in os.listdir(self.folder)):
                self.assertLess(time.monotonic(), deadline, "the video never began")
                time.sleep(0.05)
            proc.send_signal(sig)
            self.assertEqual(proc.wait(timeout=60), -sig)
            self.assertEqual(os.listdir(self.folder), [], "no final file, no temporaries")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
