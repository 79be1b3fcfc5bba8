#!/usr/bin/env python3
# pelmira-capture used carelessly or with hostile intent: what it refuses, how
# it fails, and what an interrupt or a fault leaves.

import os
import pathlib
import re
import resource
import select
import signal
import subprocess
import time
import unittest

from capture_harness import FAKES, GOLDEN, QUIET, SANITIZED, TOOL, WAVE_BYTES, Capture
from desktop import wait_until


class Faults(Capture):
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
