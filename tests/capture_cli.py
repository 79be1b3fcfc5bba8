#!/usr/bin/env python3
# pelmira-capture run as users run it: what it writes, what it refuses, how
# it fails, and what an interrupt leaves.

import json
import os
import pathlib
import re
import resource
import select
import shlex
import signal
import subprocess
import tempfile
import time
import unittest
import wave

from desktop import wait_until

TOOL = os.path.abspath(os.environ["CAPTURE_TOOL"])
GOLDEN = os.path.abspath(os.environ["GOLDEN_DIR"])
FAKES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fake_encoder")
SANITIZED = b"__asan_init" in pathlib.Path(TOOL).read_bytes()
QUIET = r"\A\Z"
WAVE_BYTES = 44 + 1310560 * 2


def probe(path):
    info = json.loads(subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-show_format",
                                      "-of", "json", path], capture_output=True, check=True).stdout)
    return info["format"], {s["codec_type"]: s for s in info["streams"]}


class Capture(unittest.TestCase):
    def setUp(self):
        self.folder = self.enterContext(tempfile.TemporaryDirectory())

    def path(self, *names):
        return pathlib.Path(self.folder, *names)

    def run_tool(self, command, status=0, said=None, **kw):
        """Runs the tool in the test's folder on command's words, leading NAME=VALUE words set in
        its environment and each file name before a '--' made a path there, and holds it to its
        exit status, to said, a pattern its stderr holds, and, when it fails, to an empty
        stdout."""
        args = command.split()
        while args and re.fullmatch(r"[A-Z_]+=.*", args[0]):
            kw["env"] = {**kw.get("env", os.environ), **dict([args.pop(0).split("=", 1)])}
        cut = args.index("--") if "--" in args else len(args)
        args = [a if a.startswith("-") or re.fullmatch(r"[\d.x/]+", a) else self.path(a)
                for a in args[:cut]] + args[cut:]
        kw = {"stdout": subprocess.PIPE, "stderr": subprocess.PIPE, **kw}
        result = subprocess.run([TOOL, *args], text=True, timeout=300, cwd=self.folder, **kw)
        self.assertEqual(result.returncode, status, (args, result.stderr))
        if said is not None:
            self.assertRegex(result.stderr, said, args)
        self.assertTrue(status == 0 or not result.stdout, (args, result.stdout))
        return result

    def frames(self, command, width, height):
        """Each frame of command's output (video or PNGs) as RGB, held to width x height."""
        out = self.path(command.split()[-1])
        out.parent.mkdir(exist_ok=True)
        self.run_tool(command)
        video = probe(out)[1]["video"]
        self.assertEqual((video["width"], video["height"]), (width, height), out)
        raw = subprocess.run(["ffmpeg", "-v", "error", "-i", out, "-fps_mode", "passthrough",
                              "-f", "rawvideo", "-pix_fmt", "rgb24", "-"], capture_output=True,
                             check=True).stdout
        return [raw[i:i + width * height * 3] for i in range(0, len(raw), width * height * 3)]

    def test_writes_frames_hashes_video_and_sound(self):
        self.frames("--at 0.5 at.png", 800, 600)
        # Frames before 100 ms at 60 fps: 0, 17, 33, 50, 67, 83 ms.
        self.frames("--to 0.1 seq/%03d.png", 800, 600)
        self.assertEqual(sorted(os.listdir(self.path("seq"))), [f"{k:03d}.png" for k in range(6)])
        # --at 0.5 is frame 30 of the same timing, byte for byte.
        self.run_tool("--from 0.5 --to 0.51 seq/%03d.png")
        self.assertEqual(self.path("at.png").read_bytes(), self.path("seq/030.png").read_bytes())

        self.run_tool("--to 0.25 --hashes part.hashes")
        lines = [l.split() for l in self.path("part.hashes").read_text().splitlines()
                 if l[0] != "#"]
        self.assertEqual([l[0] for l in lines], ["sound", *map(str, range(15))])
        self.assertEqual(len({l[2] for l in lines[1:]}), 15, "the zoom changes every frame")
        self.run_tool("--to 0.25 --verify part.hashes")
        lines[5][2] = "%016x" % (int(lines[5][2], 16) ^ 1)
        self.path("part.hashes").write_text("".join(" ".join(l) + "\n" for l in lines))
        self.run_tool("--to 0.25 --verify part.hashes", 1, "frame 4 differs")

        # The default H.264 is High, which players take; lossless is 4:4:4 with ALAC.
        for name, codecs in (("v.mp4", ("h264", "High", "aac")), ("v.webm", ("vp9", "Profile 0",
                             "opus")), ("v.mkv", ("h264", "High", "aac")),
                             ("--lossless l.mp4", ("h264", "High 4:4:4 Predictive", "alac")),
                             # Too large a canvas for four FFV1 slices.
                             ("--fps 2 --pad 5120x4096 --lossless big.mkv", ("ffv1", None, "flac"))):
            # FFV1 takes its time over a frame that large.
            self.run_tool("PELMIRA_ENCODER_TIMEOUT=600 --to 0.5 " + name)
            form, streams = probe(self.path(name.split()[-1]))
            self.assertEqual((streams["video"]["codec_name"], streams["video"].get("profile"),
                              streams["audio"]["codec_name"]), codecs, name)
            self.assertAlmostEqual(float(form["duration"]), 0.5, delta=0.1)
        # The soundtrack is the wave image the show plays.
        self.run_tool("s.wav", said=QUIET)
        with wave.open(str(self.path("s.wav")), "rb") as w:
            self.assertEqual((w.getcomptype(), w.getnchannels(), w.getsampwidth(),
                              w.getframerate(), w.getnframes()), ("NONE", 1, 2, 44100, 1310560))
        self.assertFalse([n for n in os.listdir(self.folder) if n[0] == "."], "temporaries")

    def test_lossless_videos_decode_to_the_png_frames(self):
        # Frame for frame, 4:4:4 one level off at most: at 10 fps consecutive
        # frames differ, so a dropped or shifted frame shows. Lossy colours
        # are held by the encoder colours test.
        shape = "--fps 10 --to 0.5 --size 320x240 "
        pngs = self.frames(shape + "png/%d.png", 320, 240)
        self.assertEqual(len(set(pngs)), 5)
        for name, worst in (("ffv1.mkv", 0), ("444.mp4", 1)):
            frames = self.frames(shape + "--lossless " + name, 320, 240)
            self.assertEqual(len(frames), 5, name)
            for k, frame in enumerate(frames):
                self.assertLessEqual(max(abs(a - b) for a, b in zip(frame, pngs[k])), worst,
                                     f"{name} frame {k}")

    def test_size_padding_and_subframes(self):
        # Drawn at the size asked, frame k at 10 fps the same picture as frame
        # 4k at 40 fps.
        small = "--size 160x120 --to 0.3 --fps "
        sharp = self.frames(small + "40 sharp/%d.png", 160, 120)
        padded = self.frames(small + "10 --pad 256x144 padded/%d.png", 256, 144)
        blurred = self.frames(small + "10 --subframes 4 blurred/%d.png", 160, 120)
        self.assertEqual((len(sharp), len(padded), len(blurred)), (12, 3, 3))
        # Centred on the canvas between black bars.
        bar = bytes(12 * 256 * 3)
        for picture, canvas in zip(sharp[::4], padded):
            rows = (bytes(48 * 3) + picture[y * 160 * 3:(y + 1) * 160 * 3] + bytes(48 * 3)
                    for y in range(120))
            self.assertTrue(canvas == bar + b"".join(rows) + bar, "the picture between black bars")
        # A frame of 4 subframes is the mean, halves up, of frames 4k to 4k + 3
        # at 40 fps.
        for k, mean in enumerate(blurred):
            subframes = sharp[4 * k:4 * k + 4]
            self.assertEqual(mean, bytes((sum(c) + 2) // 4 for c in zip(*subframes)), k)
            self.assertNotEqual(mean, subframes[0])

        # The hash file records what the frames were made with and --verify
        # holds a capture to it; absent means the defaults.
        shape = "--to 0.1 --size 160x120 --pad 256x144 --subframes 2"
        self.run_tool(shape + " --hashes shape")
        self.assertLessEqual({"size 160x120", "pad 256x144", "subframes 2"},
                             set(self.path("shape").read_text().splitlines()[1:]))
        self.run_tool(shape + " --verify shape")
        os.symlink(os.path.join(GOLDEN, "show-60fps.hashes"), self.path("golden"))
        for args, said in (
                ("--to 0.1 --size 160x120 --pad 256x144 --verify shape", "subframes 2, not 1"),
                ("--to 0.1 --subframes 2 --verify shape", "size 160x120, not 800x600"),
                ("--size 160x120 --verify golden", "size 800x600, not 160x120"),
                ("--pad 1920x1080 --verify golden", "pad none, not 1920x1080"),
                ("--fps 30 --verify golden", "fps 60/1, not 30/1")):
            made = re.escape(str(self.path(args.split()[-1])))
            self.run_tool(args, 1, rf"^pelmira-capture: {made} was made with {said}: [^\n]*\n\Z")

    def test_any_frame_at_once_is_the_frame_of_a_capture_from_the_start(self):
        # A capture from a later frame draws at most five before it and gives
        # the bytes of a capture from 0: each scene's first frame as the first
        # written, the frames around each change, a few inside each scene, the
        # last frame; at 60 fps against the golden hashes, and at a fractional
        # rate with subframes against a capture from 0 made here.
        odd = "--fps 10000/1001 --subframes 3 --size 160x120"
        self.run_tool(odd + " --hashes whole")
        for options, reference, ranges in (
                ("", os.path.join(GOLDEN, "show-60fps.hashes"),
                 "0 0.02, 2.5 2.52, 4.98 5.02, 5 5.01, 10 10.02, 14.68 14.72, 14.7 14.71, "
                 "17.3 17.32, 19.98 20.02, 20 20.01, 25 25.02, 30.96 31"),
                (odd, "whole", "2 2.1, 4.9 5.1, 10 10.1, 14.6 14.8, 17.3 17.4, 19.9 20.1, "
                 "25 25.1, 30.9 31")):
            for start, stop in (r.split() for r in ranges.split(", ")):
                self.run_tool(f"{options} --from {start} --to {stop} --hashes part "
                              f"--verify {reference}", said=r"\), [1-5] drawn before (it|them): "
                              if float(start) else r"s\): ")

    def test_progress_on_a_terminal_then_a_summary(self):
        # On a terminal of script(1)'s: the line counts the frames written,
        # and the summary says how many were drawn before them.
        command = [TOOL, "--fps", "24", "--from", "10", "--to", "12",
                   "--hashes", str(self.path("h"))]
        done = subprocess.run(["script", "-qec", shlex.join(command), "/dev/null"],
                              capture_output=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stdout)
        lines = done.stdout.decode().replace("\r\n", "\n").split("\r")
        written = [int(m.group(1)) for m in (re.match(
            r"  frame (\d+)/48  [\d.]+ fps  \d+:\d\d left\x1b\[K$", line) for line in lines) if m]
        self.assertTrue(written, done.stdout)
        self.assertEqual(written, sorted(written))
        self.assertRegex(lines[-1], r"^\x1b\[Kpelmira-capture: 48 frames in [\d.]+ s "
                         r"\([\d.]+ fps\), 3 drawn before them: .*h \d+ kB\n$")

    def test_outputs_are_whole_kept_as_they_were_and_named_as_asked(self):
        # Devices and pipes are written in place, never replaced.
        self.run_tool("--to 0.02 --hashes /dev/null")
        self.assertTrue(pathlib.Path("/dev/null").is_char_device())
        self.assertRegex(self.run_tool("--to 0.02 --hashes /dev/stdout").stdout, "^# ")
        # A name for a descriptor of the caller's is written through it, where it stands: after
        # what came before, appended or not. One the tool was started without is a failure.
        for name, mode, stream in (("/dev/stdout", "a", "stdout"), ("/dev/stderr", "a", "stderr"),
                                   ("/dev/fd/{}", "a", "pass_fds"), ("/dev/stdout", "w", "stdout"),
                                   ("/proc/self/fd/{}", "w", "pass_fds")):
            with open(self.path("log"), mode) as log:
                log.write("OLD\n")
                log.flush()
                fd = log.fileno()
                self.run_tool("--to 0.02 --hashes " + name.format(fd),
                              **{stream: (fd,) if stream == "pass_fds" else log})
            self.assertRegex(self.path("log").read_text(), r"\AOLD\n# pelmira-capture [^\n]+\n"
                             r"sound \w+\n0 0 \w+\n1 ", (name, mode))
        self.path("log").unlink()
        for args, said in (("--to 0.02 --hashes /dev/stdout", "cannot write '/dev/stdout'"),
                           ("--help", "write error")):
            self.run_tool(args, 1, said + ": Bad file descriptor", preexec_fn=lambda: os.close(1))
        # A link stays a link; a replaced file keeps its mode and owner.
        self.path("old.png").write_text("old")
        os.chmod(self.path("old.png"), 0o600)
        os.chown(self.path("old.png"), 65534, 65534)
        os.symlink("old.png", self.path("link.png"))
        self.run_tool("--at 1 link.png")
        self.assertTrue(os.path.islink(self.path("link.png")))
        st = self.path("old.png").stat()
        self.assertEqual((st.st_mode & 0o7777, st.st_uid, st.st_gid), (0o600, 65534, 65534))
        self.assertEqual(self.path("old.png").read_bytes()[:4], b"\x89PNG")
        # Names that look like protocols or options, and names at the length limit.
        os.mkdir(self.path("-dir"))
        for name in ("12:30.mkv", "file:out.mkv", "-dir/x.mkv", "a" * 247 + ".mkv"):
            self.run_tool("--to 0.1 -- " + name)
            self.assertGreater(os.path.getsize(self.path(name)), 0, name)
        # A strict umask as an ordinary user: the file gets what the umask leaves.
        os.chmod(self.folder, 0o777)
        self.run_tool("--to 0.1 u.mp4", user=65534, group=65534, umask=0o277,
                      env={**os.environ, "MESA_SHADER_CACHE_DISABLE": "true"})
        self.assertEqual(self.path("u.mp4").stat().st_mode & 0o7777, 0o400)
        self.assertFalse([n for n in os.listdir(self.folder) if n[0] == "."], "temporaries")

    def test_refusals_exit_2_with_one_line_and_a_hint(self):
        # One command line between semicolons; the one left empty gives no arguments at all.
        # Links that lead to the output, which is not there yet, are the output.
        os.symlink("x.png", self.path("h.link"))
        os.symlink("v.mp4", self.path("v.link"))
        for args in ("--fps abc x.mp4; --fps 0 x.mp4; x.png; --at 5 x.mp4; --at 40 x.png; "
                     "--from -1 x.mp4; --from 5 --to 4 x.mp4; x.avi; x-%s.png; --bogus; ; "
                     "a.wav b.wav; --fps; --help=x; -x a.wav; --at 1 --hashes h x.wav; "
                     "--size 1000x700 x.png; --size 4100x3075 x.mp4; --size 16x12x x.mp4; "
                     "--size 804x603 x.mp4; --pad 640x480 x.mp4; --pad 1921x1080 x.mp4; "
                     "--pad 9000x9000 x.mp4; --subframes 0 x.mp4; --subframes 65 x.mp4; "
                     "--crf 52 x.mp4; --crf 64 x.webm; --crf 9 x.png; --lossless x.webm; "
                     "--lossless --crf 9 x.mkv; --lossless --hashes h; --subframes 2 x.wav; "
                     "v%099999999999999999999d.png; v%02147483648d.png; %n%d.png; %d-%d.png; "
                     "%ld.png; %d%; --to 0.5 --hashes v.mp4 v.mp4; "
                     "--at 1 --hashes p.png p.png; --hashes 002.png %03d.png; "
                     "--at 1 --hashes h.link x.png; --to 0.1 --hashes v.link v.mp4; "
                     "--fps 1000000/1 --to 0.001 --hashes h; --fps 2001/2 x.mp4; "
                     "--fps 0x3c x.mp4; --from 0x1p0 x.mp4; --from +1 x.mp4; --subframes +2 x.mp4; "
                     "PELMIRA_ENCODER_TIMEOUT=inf x.mp4; PELMIRA_ENCODER_TIMEOUT=1e10 x.mp4; "
                     "PELMIRA_ENCODER_TIMEOUT=0x10 x.mp4").split(";"):
            self.run_tool(args, 2, r"\Apelmira-capture: [^\n]*\n"
                          r"Try 'pelmira-capture --help' for more information\.\n\Z")
        for option in ("--help", "--version"):
            self.assertIn("pelmira-capture", self.run_tool(option, said=QUIET).stdout)
        self.assertEqual(sorted(os.listdir(self.folder)), ["h.link", "v.link"])

    def test_failures_are_said_and_leave_nothing(self):
        self.run_tool("show.mp4", 1, "ffmpeg", env={"PATH": self.folder})
        for args in ("missing/show.mp4", "--at 0 missing/at.png", "--to 0.05 missing/%03d.png",
                     "--to 0.05 --hashes missing/h", "missing/s.wav"):
            self.run_tool(args, 1, re.escape(f"'{self.path('missing')}/"))
        # No OpenGL to be had: one line, nothing written, not even a temporary.
        no_gl = {**os.environ, "__EGL_VENDOR_LIBRARY_FILENAMES": self.path("none.json")}
        for args in ("--to 1 show.mp4", "--at 1 at.png"):
            self.run_tool(args, 1, r"^pelmira-capture: cannot [^\n]+\n\Z", env=no_gl)
        # An output in the way is said before any work, and nothing else is
        # written; a file too large for the limit at the write (SIGXFSZ
        # ignored gives EFBIG, else the signal ends the tool); the bytes for
        # a descriptor with nowhere to wait; out of memory (not under the
        # sanitizers, whose shadow memory is beyond any limit); a CPU limit
        # reached in a frame of 64 large subframes, whose SIGXCPU is seen
        # before the next subframe, well within the hard limit's 4 s more.
        os.mkdir(self.path("taken.wav"))
        self.path("old.wav").write_text("old")
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        at = lambda name: re.escape(f"'{self.path(name)}'")

        def limit(kind, size, ignore_xfsz=False):
            def set_limit():
                resource.setrlimit(kind, size)
                if ignore_xfsz:
                    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            return set_limit
        memory = limit(resource.RLIMIT_AS, (800 << 20, 800 << 20))
        for args, status, said, limits in (
                ("taken.wav", 1, at("taken.wav") + ": Is a directory", None),
                ("--hashes taken.wav --to 10 x.mp4", 1, at("taken.wav") + ": Is a directory", None),
                ("old.wav", 1, at("old.wav") + ": File too large",
                 limit(resource.RLIMIT_FSIZE, (65536, 65536), True)),
                ("old.wav", -signal.SIGXFSZ, None, limit(resource.RLIMIT_FSIZE, (65536, 65536))),
                ("TMPDIR=missing --to 0.05 --hashes /dev/stdout", 1, "TMPDIR's 'missing'", None),
                ("--size 4096x3072 --to 0.02 --hashes big", 1, r"\Apelmira-capture: out of memory\n\Z",
                 memory),
                ("--size 4096x3072 --subframes 64 --to 1 --hashes big", -signal.SIGXCPU, None,
                 limit(resource.RLIMIT_CPU, (2, 6)))):
            if limits is not memory or not SANITIZED:
                self.run_tool(args, status, said, preexec_fn=limits)
        self.assertEqual(sorted(os.listdir(self.folder)), ["old.wav", "taken.wav"])
        self.assertEqual(self.path("old.wav").read_text(), "old")
        # No thread for the writer (root is not held to the limit, nobody is).
        # LeakSanitizer would need a thread of its own at exit.
        os.chmod(self.folder, 0o777)
        self.run_tool("--to 0.1 --hashes h", 1, "cannot start the frame writer thread",
                      user=65534, group=65534, umask=0o022,
                      preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NPROC, (1, 1)), env={
                          **os.environ, "LP_NUM_THREADS": "0", "MESA_SHADER_CACHE_DISABLE": "true",
                          "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0"})
        self.assertEqual(sorted(os.listdir(self.folder)), ["old.wav", "taken.wav"])

    def test_reference_files_are_read_strictly(self):
        lines = pathlib.Path(GOLDEN, "show-60fps.hashes").read_text().splitlines(True)[:8]
        for text, status, said in (
                ("".join(l for l in lines if not l.startswith("sound")), 0, "no soundtrack hash"),
                (lines[1] + lines[2] + "9" * 300 + "\n", 1, "not a frame hash line"),
                (lines[1] + lines[2] + lines[2], 1, "not a frame hash line"),
                ("# nothing\n", 1, "holds no frame hashes")):
            self.path("ref").write_text(text)
            self.run_tool("--to 0.1 --verify ref", status, said)
        self.run_tool("--to 0.1 --verify .", 1, "Is a directory")
        # A line without end is refused once it is too long to be one, not read whole.
        self.run_tool("--to 0.1 --verify /dev/zero", 1, "/dev/zero:1: not a frame hash line",
                      preexec_fn=None if SANITIZED else lambda: resource.setrlimit(
                          resource.RLIMIT_AS, (1 << 30, 1 << 30)))

    def test_faults_end_the_capture_with_a_reason_and_leave_nothing(self):
        # A full disk while the encoder writes its trailer: ffmpeg says so and
        # exits 0, the check of its video does not.
        disk = self.path("disk")
        os.mkdir(disk)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=3m", "tmpfs", disk],
                          capture_output=True).returncode == 0:
            self.addCleanup(subprocess.run, ["umount", disk])
            self.run_tool("--to 2 disk/x.mkv", 1, "x.mkv' is not whole")
            self.assertEqual(os.listdir(disk), [])
        # Encoders that stall, hang, write nothing or die, a wrapper whose own child
        # stalls (ended with it), probes that never answer or never stop; then each
        # end signal while the encoder waits, and before anything has begun, with
        # no core dump of SIGQUIT's to be mistaken for a file left behind.
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        mark = disk / "all-taken"
        scratch = self.path("scratch")
        os.mkdir(scratch)
        fake = {**os.environ, "PATH": FAKES + ":" + os.environ["PATH"], "FAKE_MARK": str(mark),
                "PELMIRA_ENCODER_TIMEOUT": "600", "TMPDIR": str(scratch)}
        for fault, said in (("FAKE_ENCODER=stall", "took nothing for 2 s"),
                            ("FAKE_ENCODER=hang", "did not finish within"),
                            ("FAKE_ENCODER=nothing", r"is not whole \(it is empty\)"),
                            ("FAKE_ENCODER=die", "stopped taking frames: it exited with status 3"),
                            ("FAKE_ENCODER=wrap", "took nothing for 2 s"),
                            # Time enough for the encoder to finish under load.
                            ("PELMIRA_ENCODER_TIMEOUT=10 FAKE_ENCODER=some FAKE_PROBE=stall",
                             "ffprobe gave no answer for 10 s"),
                            ("PELMIRA_ENCODER_TIMEOUT=10 FAKE_ENCODER=some FAKE_PROBE=endless",
                             "ffprobe said more than a report holds")):
            self.run_tool(fault + " --to 0.2 x.mp4", 1, said,
                          env={**fake, "PELMIRA_ENCODER_TIMEOUT": "2"})
            if fault.endswith("wrap"):
                left = int(mark.read_text())
                alive = lambda: os.path.exists(f"/proc/{left}") and pathlib.Path(
                    f"/proc/{left}/stat").read_text().split(")")[-1].split()[0] != "Z"
                self.addCleanup(lambda: alive() and os.kill(left, signal.SIGKILL))
                wait_until(lambda: not alive(), "the wrapper's child to end", timeout=30)
            mark.unlink(missing_ok=True)
        # Pipes that keep the capture waiting: one with no reader, one whose reader
        # never reads, a --verify one whose writer never writes.
        os.mkdir(self.path("pipes"))

        def pipe(name, other_end):
            """A stage on a new pipe, whose other end, if any, the test holds and never uses:
            reached once the capture has written, or opened its own end."""
            def stage():
                path = self.path("pipes", name)
                os.mkfifo(path)
                if other_end == os.O_RDONLY:
                    reader = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
                    self.addCleanup(os.close, reader)
                    return lambda: select.select([reader], [], [], 0)[0]
                if other_end == os.O_WRONLY:
                    return lambda: opened(path)
                return lambda: any(os.path.getsize(scratch / n) == WAVE_BYTES
                                   for n in os.listdir(scratch))
            return stage

        def opened(path):
            try:
                self.addCleanup(os.close, os.open(path, os.O_WRONLY | os.O_NONBLOCK))
                return True
            except OSError:
                return False
        # Each stage: the encoder, the command line, and what makes the stage and
        # then tells it has been reached.
        rendering = lambda: lambda: any(n.endswith(".wav") for n in os.listdir(self.folder))
        mid_render, finishing, at_once = (("stall", "--to 5 x.mp4", rendering),
                                          ("hang", "--to 1 x.mp4", lambda: mark.exists),
                                          ("", "s.wav", lambda: lambda: True))
        for sigs, stages in (
                ((signal.SIGHUP, signal.SIGINT, signal.SIGTERM, signal.SIGQUIT),
                 (mid_render, finishing, at_once)),
                ((signal.SIGIO, signal.SIGPWR, signal.SIGSTKFLT, signal.SIGRTMIN,
                  signal.SIGRTMAX, signal.SIGABRT, signal.SIGSEGV,
                  signal.SIGSYS, signal.SIGTRAP), (mid_render,)),
                ((signal.SIGTERM,), (("", "pipes/alone.wav", pipe("alone.wav", None)),
                                     ("", "pipes/full.wav", pipe("full.wav", os.O_RDONLY)),
                                     ("", "--verify pipes/empty", pipe("empty", os.O_WRONLY)))),
                # Stopped for longer than the stall time, while the encoder takes its
                # frames a piece at a time: no stall of the encoder's.
                ((signal.SIGSTOP,), (("slow", "--to 0.2 x.mp4", lambda: mark.exists),))):
            for sig, (mode, args, stage) in ((sig, stage) for sig in sigs for stage in stages):
                ready = stage()
                proc = subprocess.Popen([TOOL, *args.split()], cwd=self.folder, env={
                    **fake, "FAKE_ENCODER": mode,
                    "PELMIRA_ENCODER_TIMEOUT": "4" if sig == signal.SIGSTOP else "600"},
                    stderr=subprocess.PIPE, text=True)
                self.addCleanup(proc.kill)
                wait_until(ready, "the capture to reach the stage", timeout=120)
                proc.send_signal(sig)
                if sig == signal.SIGSTOP:
                    time.sleep(10)  # the stop itself, well past the stall time
                    proc.send_signal(signal.SIGCONT)
                said = proc.communicate(timeout=60)[1]
                if sig == signal.SIGSTOP:
                    self.assertEqual((proc.returncode, said.split(": ", 1)[-1]), (
                        1, "ffmpeg's video for 'x.mp4' is not whole (it is empty); nothing was "
                        "written\n"))
                else:
                    self.assertEqual(proc.returncode, -sig, (sig, mode, args, said))
                mark.unlink(missing_ok=True)
        self.assertEqual(sorted(os.listdir(self.folder)), ["disk", "pipes", "scratch"],
                         "no final file")
        self.assertEqual(os.listdir(scratch), [], "no temporaries")

if __name__ == "__main__":
    unittest.main(argv=[__file__], verbosity=2)
