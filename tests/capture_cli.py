#!/usr/bin/env python3
"""pelmira-capture run as users run it: what it writes, what it refuses, how
it fails, and what an interrupt leaves."""

import json
import os
import pty
import re
import resource
import signal
import stat
import subprocess
import sys
import tempfile
import unittest
import wave

from desktop import wait_until

TOOL = os.environ["CAPTURE_TOOL"]
GOLDEN = os.environ["GOLDEN_DIR"]
FAKES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fake_encoder")


def capture(*args, env=None, **kw):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, env=env, timeout=300,
                          **kw)


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json",
                          path], capture_output=True, text=True, check=True).stdout
    info = json.loads(out)
    return info["format"], {s["codec_type"]: s for s in info["streams"]}


def decode(path, width, height):
    """Every frame of a video or of numbered PNGs as RGB, converted by its own
    range and matrix tags; fails if the frames are not width x height."""
    _, streams = probe(path)
    assert (streams["video"]["width"], streams["video"]["height"]) == (width, height), path
    out = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-fps_mode", "passthrough", "-f",
                          "rawvideo", "-pix_fmt", "rgb24", "-"], capture_output=True,
                         check=True).stdout
    size = width * height * 3
    return [out[i:i + size] for i in range(0, len(out), size)]


def as_nobody(umask, threads=None):
    """A preexec_fn that runs the tool as an ordinary user."""
    def switch():
        if threads:
            resource.setrlimit(resource.RLIMIT_NPROC, (threads, threads))
        os.umask(umask)
        os.setgid(65534)
        os.setuid(65534)
    return switch


class Capture(unittest.TestCase):
    def setUp(self):
        self.folder = self.enterContext(tempfile.TemporaryDirectory())

    def path(self, name):
        return os.path.join(self.folder, name)

    def within(self, args):
        """args with every file name in the test's folder; options, numbers and sizes as given."""
        return [a if a.startswith("-") or re.fullmatch(r"[\d.x/]+", a) else self.path(a)
                for a in args]

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
        # The soundtrack is the wave image the show plays.
        result = capture(self.path("s.wav"))
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        with wave.open(self.path("s.wav"), "rb") as w:
            self.assertEqual((w.getcomptype(), w.getnchannels(), w.getsampwidth(),
                              w.getframerate(), w.getnframes()), ("NONE", 1, 2, 44100, 1310560))
        self.assertFalse([n for n in os.listdir(self.folder) if n.startswith(".")],
                         "temporaries left behind")

    def test_videos_decode_to_the_png_frames(self):
        # Decoded as a player would, by the range and matrix they are tagged
        # with: lossless as the PNGs (4:4:4 one level off at most), the default
        # close. At 10 fps consecutive frames differ, so a shifted frame shows.
        size, w, h = "320x240", 320, 240
        os.mkdir(self.path("png"))
        self.assertEqual(capture("--fps", "10", "--to", "0.5", "--size", size,
                                 self.path("png/%d.png")).returncode, 0)
        pngs = decode(self.path("png/%d.png"), w, h)
        self.assertEqual(len(pngs), 5)
        for name, options, profile, worst, mean in (
                ("ffv1.mkv", ["--lossless"], None, 0, 0.0),
                ("444.mp4", ["--lossless"], "High 4:4:4 Predictive", 1, 1.0),
                ("high.mp4", [], "High", 255, 1.0)):
            result = capture("--fps", "10", "--to", "0.5", "--size", size, *options,
                             self.path(name))
            self.assertEqual(result.returncode, 0, result.stderr)
            _, streams = probe(self.path(name))
            self.assertEqual(streams["video"].get("profile"), profile or streams["video"].get(
                "profile"), name)
            frames = decode(self.path(name), w, h)
            self.assertEqual(len(frames), 5, name)
            for k, frame in enumerate(frames):
                errors = [abs(a - b) for a, b in zip(frame, pngs[k])]
                self.assertLessEqual(max(errors), worst, f"{name} frame {k}")
                self.assertLessEqual(sum(errors) / len(errors), mean, f"{name} frame {k}")
                if k < 4:
                    errors = [abs(a - b) for a, b in zip(frame, pngs[k + 1])]
                    self.assertGreater(sum(errors) / len(errors), 2 * mean + 0.5, f"{name} {k}")

    def test_size_padding_and_subframes(self):
        def frames(folder, size, *options):
            os.mkdir(self.path(folder))
            result = capture("--size", "160x120", *options, self.path(folder + "/%d.png"))
            self.assertEqual(result.returncode, 0, result.stderr)
            return decode(self.path(folder + "/%d.png"), *size)

        # Drawn at the size asked, then centred on the canvas between black bars.
        plain = frames("plain", (160, 120), "--fps", "10", "--to", "0.3")
        padded = frames("padded", (256, 144), "--fps", "10", "--to", "0.3", "--pad", "256x144")
        self.assertEqual(len(padded), 3)
        w, h = 256, 144
        for picture, canvas in zip(plain, padded):
            rows = [canvas[y * w * 3:(y + 1) * w * 3] for y in range(h)]
            self.assertFalse(any(b"".join(rows[:12] + rows[132:])), "bars above and below")
            self.assertFalse(any(b"".join(r[:48 * 3] + r[208 * 3:] for r in rows)), "side bars")
            self.assertEqual(b"".join(r[48 * 3:208 * 3] for r in rows[12:132]), picture)
        # A frame of 4 subframes at 10 fps is the mean, halves up, of frames
        # 4k to 4k + 3 at 40 fps.
        blurred = frames("blurred", (160, 120), "--fps", "10", "--to", "0.3", "--subframes", "4")
        sharp = frames("sharp", (160, 120), "--fps", "40", "--to", "0.3")
        self.assertEqual((len(blurred), len(sharp)), (3, 12))
        for k, mean in enumerate(blurred):
            subframes = sharp[4 * k:4 * k + 4]
            self.assertEqual(mean, bytes((sum(c) + 2) // 4 for c in zip(*subframes)), k)
            self.assertNotEqual(mean, subframes[0])

        # The hash file records what the frames were made with and --verify
        # holds a capture to it; absent means the defaults.
        shape = ["--size", "160x120", "--pad", "256x144", "--subframes", "2", "--to", "0.1"]
        hashes = self.path("shape.hashes")
        self.assertEqual(capture(*shape, "--hashes", hashes).returncode, 0)
        with open(hashes) as f:
            text = f.read()
        for line in ("size 160x120", "pad 256x144", "subframes 2"):
            self.assertIn(f"\n{line}\n", text)
        self.assertEqual(capture(*shape, "--verify", hashes).returncode, 0)
        golden = os.path.join(GOLDEN, "show-60fps.hashes")
        for args, verify, said in ((shape[:4] + shape[6:], hashes, "subframes 2, not 1"),
                                   (shape[4:], hashes, "size 160x120, not 800x600"),
                                   (["--size", "160x120"], golden, "size 800x600, not 160x120"),
                                   (["--pad", "1920x1080"], golden, "pad none, not 1920x1080")):
            result = capture(*args, "--verify", verify)
            self.assertEqual(result.returncode, 1, args)
            self.assertRegex(result.stderr, f"^pelmira-capture: {re.escape(verify)} was made "
                             f"with {said}: [^\n]*\n$")

    def test_progress_on_a_terminal_then_a_summary(self):
        # The frames before --from are drawn first, with nothing written:
        # the line says so while they are.
        leader, follower = pty.openpty()
        proc = subprocess.Popen([TOOL, "--size", "320x240", "--fps", "24", "--from", "20",
                                 "--to", "20.05", self.path("%d.png")], stderr=follower)
        os.close(follower)
        said = b""
        while True:
            try:
                chunk = os.read(leader, 4096)
            except OSError:
                break
            if not chunk:
                break
            said += chunk
        self.assertEqual(proc.wait(timeout=120), 0)
        os.close(leader)
        lines = said.decode().replace("\r\n", "\n").split("\r")
        drawing = [int(m.group(1)) for m in (re.match(
            r"  drawing up to the first frame: (\d+)/480  [\d.]+ fps  \d+:\d\d left\x1b\[K$", line)
            for line in lines) if m]
        self.assertTrue(drawing, said)
        self.assertEqual(drawing, sorted(drawing))
        self.assertRegex(lines[-1], r"^\x1b\[Kpelmira-capture: 2 frames in [\d.]+ s "
                         r"\([\d.]+ fps\): .*%d\.png \d+ kB\n$")

    def test_outputs_are_whole_kept_as_they_were_and_named_as_asked(self):
        # Devices and pipes are written in place, never replaced.
        self.assertEqual(capture("--to", "0.02", "--hashes", "/dev/null").returncode, 0)
        self.assertTrue(stat.S_ISCHR(os.stat("/dev/null").st_mode))
        result = capture("--to", "0.02", "--hashes", "/dev/stdout")
        self.assertTrue(result.returncode == 0 and result.stdout.startswith("# "), result)
        # A link stays a link; a replaced file keeps its mode and owner.
        with open(self.path("old.png"), "w") as f:
            f.write("old")
        os.chmod(self.path("old.png"), 0o600)
        os.chown(self.path("old.png"), 65534, 65534)
        os.symlink("old.png", self.path("link.png"))
        self.assertEqual(capture("--at", "1", self.path("link.png")).returncode, 0)
        self.assertTrue(os.path.islink(self.path("link.png")))
        st = os.stat(self.path("old.png"))
        self.assertEqual((stat.S_IMODE(st.st_mode), st.st_uid, st.st_gid), (0o600, 65534, 65534))
        with open(self.path("old.png"), "rb") as f:
            self.assertEqual(f.read(4), b"\x89PNG")
        # Names that look like protocols or options, and names at the length limit.
        os.mkdir(self.path("-dir"))
        for name in ("12:30.mkv", "file:out.mkv", "-dir/x.mkv", "a" * 247 + ".mkv"):
            result = capture("--to", "0.1", "--", name, cwd=self.folder)
            self.assertEqual(result.returncode, 0, (name, result.stderr))
            self.assertTrue(os.path.getsize(os.path.join(self.folder, name)) > 0, name)
        # A strict umask as an ordinary user: the file gets what the umask leaves.
        os.chmod(self.folder, 0o777)
        result = capture("--to", "0.1", self.path("u.mp4"), preexec_fn=as_nobody(0o277),
                         env={**os.environ, "MESA_SHADER_CACHE_DISABLE": "true"})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(stat.S_IMODE(os.stat(self.path("u.mp4")).st_mode), 0o400)
        self.assertFalse([n for n in os.listdir(self.folder) if n.startswith(".")])

    def test_refusals_exit_2_with_one_line_and_a_hint(self):
        for args in (["--fps", "abc", "x.mp4"], ["--fps", "0", "x.mp4"], ["x.png"],
                     ["--at", "5", "x.mp4"], ["--at", "40", "x.png"], ["--from", "-1", "x.mp4"],
                     ["--from", "5", "--to", "4", "x.mp4"], ["x.avi"], ["x-%s.png"], ["--bogus"],
                     [], ["a.wav", "b.wav"], ["--fps"], ["--help=x"], ["-x", "a.wav"],
                     ["--at", "1", "--hashes", "h", "x.wav"], ["--size", "1000x700", "x.png"],
                     ["--size", "4100x3075", "x.mp4"], ["--size", "16x12x", "x.mp4"],
                     ["--size", "804x603", "x.mp4"], ["--pad", "640x480", "x.mp4"],
                     ["--pad", "1921x1080", "x.mp4"], ["--pad", "9000x9000", "x.mp4"],
                     ["--subframes", "0", "x.mp4"], ["--subframes", "65", "x.mp4"],
                     ["--crf", "52", "x.mp4"], ["--crf", "64", "x.webm"], ["--crf", "9", "x.png"],
                     ["--lossless", "x.webm"], ["--lossless", "--crf", "9", "x.mkv"],
                     ["--lossless", "--hashes", "h"], ["--subframes", "2", "x.wav"],
                     ["v%099999999999999999999d.png"], ["v%02147483648d.png"], ["%n%d.png"],
                     ["%d-%d.png"], ["%ld.png"], ["%d%"],
                     ["--to", "0.5", "--hashes", "v.mp4", "v.mp4"],
                     ["--at", "1", "--hashes", "p.png", "p.png"],
                     ["--hashes", "002.png", "%03d.png"]):
            result = capture(*self.within(args))
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
        # An output in the way is said before any work, and nothing else is
        # written; a file too large for the limit at the write (SIGXFSZ
        # ignored gives EFBIG).
        os.mkdir(self.path("taken.wav"))
        with open(self.path("old.wav"), "w") as f:
            f.write("old")
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        small = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))
        for args, name, error, limit in (
                (["taken.wav"], "taken.wav", "Is a directory", None),
                (["--hashes", "taken.wav", "--to", "10", "x.mp4"], "taken.wav", "Is a directory",
                 None),
                (["old.wav"], "old.wav", "File too large", small)):
            result = capture(*self.within(args), preexec_fn=limit, restore_signals=False)
            self.assertEqual(result.returncode, 1, args)
            self.assertIn(f"'{self.path(name)}': {error}", result.stderr)
        self.assertEqual(sorted(os.listdir(self.folder)), ["old.wav", "taken.wav"])
        with open(self.path("old.wav")) as f:
            self.assertEqual(f.read(), "old")
        # No thread for the writer (root is not held to the limit, nobody is).
        # LeakSanitizer would need a thread of its own at exit.
        os.chmod(self.folder, 0o777)
        result = capture("--to", "0.1", "--hashes", self.path("h"), env={
            **os.environ, "LP_NUM_THREADS": "0", "MESA_SHADER_CACHE_DISABLE": "true",
            "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0"},
            preexec_fn=as_nobody(0o022, threads=1))
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("cannot start the frame writer thread", result.stderr)
        self.assertEqual(sorted(os.listdir(self.folder)), ["old.wav", "taken.wav"])

    def test_reference_files_are_read_strictly(self):
        hashes = self.path("ref")
        self.assertEqual(capture("--to", "0.1", "--hashes", hashes).returncode, 0)
        with open(hashes) as f:
            lines = f.readlines()
        for text, expected, said in (
                ("".join(l for l in lines if not l.startswith("sound")), 0, "no soundtrack hash"),
                (lines[1] + lines[2] + "9" * 300 + "\n", 1, "not a frame hash line"),
                (lines[1] + lines[2] + lines[2], 1, "not a frame hash line"),
                ("# nothing\n", 1, "holds no frame hashes")):
            with open(hashes, "w") as f:
                f.write(text)
            result = capture("--to", "0.1", "--verify", hashes)
            self.assertEqual(result.returncode, expected, result.stderr)
            self.assertIn(said, result.stderr)
        result = capture("--to", "0.1", "--verify", self.folder)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Is a directory", result.stderr)

    def test_faults_end_the_capture_with_a_reason_and_leave_nothing(self):
        # A full disk while the encoder writes its trailer: ffmpeg says so and
        # exits 0, the check of its video does not.
        disk = self.path("disk")
        os.mkdir(disk)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=3m", "tmpfs", disk],
                                 capture_output=True).returncode == 0
        if mounted:
            self.addCleanup(subprocess.run, ["umount", disk])
            result = capture("--to", "2", os.path.join(disk, "x.mkv"))
            self.assertEqual(result.returncode, 1)
            self.assertIn("x.mkv' is not whole", result.stderr)
            self.assertEqual(os.listdir(disk), [])
        # Encoders that stall, hang, write nothing or die; then each end signal
        # while the encoder waits, and before anything has begun.
        mark = os.path.join(disk, "all-taken")
        fake = {**os.environ, "PATH": FAKES + ":" + os.environ["PATH"],
                "PELMIRA_ENCODER_TIMEOUT": "2", "FAKE_MARK": mark}
        for mode, said in (("stall", "took nothing for 2 s"), ("hang", "did not finish within"),
                           ("nothing", "is not whole (it is empty)"),
                           ("die", "stopped taking frames: it exited with status 3")):
            result = capture("--to", "1", self.path("x.mp4"), env={**fake, "FAKE_ENCODER": mode})
            self.assertEqual(result.returncode, 1, mode)
            self.assertIn(said, result.stderr)
        for sig in (signal.SIGHUP, signal.SIGINT, signal.SIGTERM, signal.SIGQUIT):
            # Mid-render with the encoder stuck, while the encoder finishes,
            # and at once.
            for mode, args, ready in (
                    ("stall", ["--to", "5", "x.mp4"],
                     lambda: any(n.endswith(".wav") for n in os.listdir(self.folder))),
                    ("hang", ["--to", "1", "x.mp4"], lambda: os.path.exists(mark)),
                    ("", ["s.wav"], lambda: True)):
                proc = subprocess.Popen([TOOL, *args], cwd=self.folder, stderr=subprocess.DEVNULL,
                                        env={**fake, "FAKE_ENCODER": mode,
                                             "PELMIRA_ENCODER_TIMEOUT": "600"},
                                        preexec_fn=lambda: resource.setrlimit(
                                            resource.RLIMIT_CORE, (0, 0)))
                wait_until(ready, "the capture to reach the stage", timeout=120)
                proc.send_signal(sig)
                self.assertEqual(proc.wait(timeout=60), -sig, (sig, mode))
                if os.path.exists(mark):
                    os.unlink(mark)
        self.assertEqual(os.listdir(self.folder), ["disk"], "no final file, no temporaries")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
