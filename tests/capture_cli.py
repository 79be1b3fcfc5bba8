#!/usr/bin/env python3
# pelmira-capture run as users run it: what it writes, and how it names and
# keeps its outputs.

import os
import pathlib
import re
import shlex
import subprocess
import unittest
import wave

from capture_harness import GOLDEN, QUIET, TOOL, Capture, probe


class Outputs(Capture):
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


if __name__ == "__main__":
    unittest.main(argv=[__file__], verbosity=2)
