"""pelmira-capture's WAV export read back with Python's wave module, and its
command line and failure paths, all by running the real binary.

Usage: music_capture_test.py PELMIRA-CAPTURE MUSIC-DUMP
"""
import errno
import os
import resource
import signal
import struct
import subprocess
import sys
import tempfile
import unittest
import wave

CAPTURE = None
DUMP = None
SAMPLE_COUNT = 1310560


def run(args, cwd, stdout=subprocess.PIPE, preexec_fn=None):
    return subprocess.run([CAPTURE] + args, cwd=cwd, stdout=stdout,
                          stderr=subprocess.PIPE, text=True, timeout=120,
                          preexec_fn=preexec_fn)


class Export(unittest.TestCase):
    def test_file_reads_back_as_the_rendered_soundtrack(self):
        with tempfile.TemporaryDirectory() as tmp:
            out_dir = os.path.join(tmp, "out")
            os.mkdir(out_dir)
            path = os.path.join(out_dir, "soundtrack.wav")
            result = run([path], cwd=tmp)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stdout, "")
            self.assertEqual(result.stderr, "")
            self.assertEqual(os.listdir(out_dir), ["soundtrack.wav"])

            raw = os.path.join(tmp, "samples.raw")
            subprocess.run([DUMP, raw], check=True, timeout=120)
            with open(raw, "rb") as f:
                expected = f.read()
            self.assertEqual(len(expected), 2 * SAMPLE_COUNT)

            with wave.open(path, "rb") as w:
                self.assertEqual(w.getcomptype(), "NONE")
                self.assertEqual(w.getnchannels(), 1)
                self.assertEqual(w.getsampwidth(), 2)
                self.assertEqual(w.getframerate(), 44100)
                self.assertEqual(w.getnframes(), SAMPLE_COUNT)
                frames = w.readframes(SAMPLE_COUNT + 1)
            self.assertTrue(frames == expected, "exported samples differ from a second render")

            with open(path, "rb") as f:
                data = f.read()
            self.assertEqual(len(data), 44 + 2 * SAMPLE_COUNT)
            riff, riff_size, form = struct.unpack_from("<4sI4s", data, 0)
            self.assertEqual((riff, form), (b"RIFF", b"WAVE"))
            self.assertEqual(riff_size, len(data) - 8)
            fmt_tag = struct.unpack_from("<H", data, 20)[0]
            self.assertEqual(fmt_tag, 1)
            self.assertEqual(data[44:], expected)

    def test_file_gets_the_usual_permissions(self):
        with tempfile.TemporaryDirectory() as tmp:
            old = os.umask(0o022)
            try:
                result = run(["a.wav"], cwd=tmp)
            finally:
                os.umask(old)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(os.stat(os.path.join(tmp, "a.wav")).st_mode & 0o777, 0o644)


class CommandLine(unittest.TestCase):
    def test_help_and_version_go_to_stdout(self):
        with tempfile.TemporaryDirectory() as tmp:
            for option, first_word in (("--help", "Usage:"), ("--version", "pelmira-capture")):
                result = run([option], cwd=tmp)
                self.assertEqual(result.returncode, 0, option)
                self.assertTrue(result.stdout.startswith(first_word), result.stdout)
                self.assertEqual(result.stderr, "", option)
            self.assertIn("--version", run(["--help"], cwd=tmp).stdout)
            self.assertEqual(os.listdir(tmp), [])

    def test_help_into_a_full_device_fails(self):
        with open("/dev/full", "w") as full:
            result = run(["--help"], cwd="/", stdout=full)
        self.assertEqual(result.returncode, 1)
        self.assertIn(os.strerror(errno.ENOSPC), result.stderr)

    def test_bad_arguments_exit_2_with_a_hint(self):
        with tempfile.TemporaryDirectory() as tmp:
            for args, word in ((["--bogus"], "'--bogus'"), (["-x"], "'x'"),
                               ([], "missing"), (["a.wav", "b.wav"], "'b.wav'"),
                               ([""], "empty"), (["--help=x"], "'--help=x'")):
                result = run(args, cwd=tmp)
                self.assertEqual(result.returncode, 2, args)
                self.assertEqual(result.stdout, "", args)
                lines = result.stderr.splitlines()
                self.assertEqual(len(lines), 2, result.stderr)
                self.assertTrue(lines[0].startswith("pelmira-capture: "), lines[0])
                self.assertIn(word, lines[0])
                self.assertIn("--help", lines[1])
            self.assertEqual(os.listdir(tmp), [], "a bad command line wrote a file")

    def test_double_dash_ends_options(self):
        with tempfile.TemporaryDirectory() as tmp:
            result = run(["--", "--odd.wav"], cwd=tmp)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(os.listdir(tmp), ["--odd.wav"])


class Failures(unittest.TestCase):
    def expect_failure(self, result, path, error):
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stdout, "")
        self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
        self.assertIn(path, result.stderr)
        self.assertIn(os.strerror(error), result.stderr)

    def test_unwritable_paths_are_named_with_the_reason(self):
        with tempfile.TemporaryDirectory() as tmp:
            missing = os.path.join(tmp, "no-such-dir", "x.wav")
            self.expect_failure(run([missing], cwd=tmp), missing, errno.ENOENT)

            with open(os.path.join(tmp, "plain"), "w") as f:
                f.write("x")
            under_file = os.path.join(tmp, "plain", "x.wav")
            self.expect_failure(run([under_file], cwd=tmp), under_file, errno.ENOTDIR)

            # The image is written in full before the rename onto a directory
            # fails: the temporary file must not be left behind.
            target = os.path.join(tmp, "taken")
            os.mkdir(target)
            self.expect_failure(run([target], cwd=tmp), target, errno.EISDIR)
            self.assertEqual(sorted(os.listdir(tmp)), ["plain", "taken"])
            self.assertEqual(os.listdir(target), [])

    def test_failed_write_leaves_the_old_file_and_no_partial_one(self):
        def limit_file_size():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))

        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "soundtrack.wav")
            with open(path, "w") as f:
                f.write("previous content")
            result = run([path], cwd=tmp, preexec_fn=limit_file_size)
            self.expect_failure(result, path, errno.EFBIG)
            self.assertEqual(os.listdir(tmp), ["soundtrack.wav"])
            with open(path) as f:
                self.assertEqual(f.read(), "previous content")


if __name__ == "__main__":
    CAPTURE, DUMP = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
