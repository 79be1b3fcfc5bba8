# pelmira-capture run for real: its WAV read back with Python's wave module,
# its command line, and its failed writes.
# Usage: music_capture_test.py PELMIRA-CAPTURE MUSIC-DUMP
import errno, os, pathlib, resource, signal, subprocess, sys, tempfile, unittest, wave

(CAPTURE, DUMP), FRAMES = sys.argv[1:3], 1310560


def run(*args, **kw):
    return subprocess.run([CAPTURE, *args], capture_output=True, text=True, timeout=120, **kw)


class Capture(unittest.TestCase):
    def setUp(self):
        self.tmp = self.enterContext(tempfile.TemporaryDirectory())

    def test_export_reads_back_as_rendered(self):
        path = os.path.join(self.tmp, "soundtrack.wav")
        result = run(path, cwd=self.tmp)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        self.assertEqual(os.listdir(self.tmp), ["soundtrack.wav"])
        self.assertEqual(os.path.getsize(path), 44 + 2 * FRAMES)
        with wave.open(path, "rb") as w:
            self.assertEqual((w.getcomptype(), w.getnchannels(), w.getsampwidth(),
                              w.getframerate(), w.getnframes()), ("NONE", 1, 2, 44100, FRAMES))
            frames = w.readframes(FRAMES + 1)
        dump = subprocess.run([DUMP], capture_output=True, check=True, timeout=120).stdout
        self.assertTrue(frames == dump, "the file's samples differ from a second render")

    def test_command_line(self):
        for option in ("--help", "--version"):
            result = run(option, cwd=self.tmp)
            self.assertEqual((result.returncode, result.stderr), (0, ""), option)
            self.assertIn("pelmira-capture", result.stdout)
        for args in (["--bogus"], [], ["a.wav", "b.wav"]):
            result = run(*args, cwd=self.tmp)
            self.assertEqual((result.returncode, result.stdout), (2, ""), args)
            self.assertIn("Try 'pelmira-capture --help'", result.stderr)
        self.assertEqual(os.listdir(self.tmp), [])

    def test_failed_writes_name_the_path_and_leave_no_partial_file(self):
        pathlib.Path(self.tmp, "taken.wav").mkdir()
        pathlib.Path(self.tmp, "old.wav").write_text("old")
        # With SIGXFSZ ignored (restore_signals=False) a too-large write fails with EFBIG.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        small = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))
        # The directory is refused only at the rename, after the whole image is written.
        for name, error, limit in (("none/x.wav", errno.ENOENT, None),
                                   ("taken.wav", errno.EISDIR, None),
                                   ("old.wav", errno.EFBIG, small)):
            path = os.path.join(self.tmp, name)
            result = run(path, cwd=self.tmp, preexec_fn=limit, restore_signals=False)
            self.assertEqual(result.returncode, 1, name)
            self.assertIn(f"'{path}'", result.stderr)
            self.assertIn(os.strerror(error), result.stderr)
            self.assertEqual(sorted(os.listdir(self.tmp)), ["old.wav", "taken.wav"])
        self.assertEqual(os.listdir(os.path.join(self.tmp, "taken.wav")), [])
        self.assertEqual(pathlib.Path(self.tmp, "old.wav").read_text(), "old")


unittest.main(argv=sys.argv[:1], verbosity=2)
