# What the capture tool's cases share: the tool run as users run it, in a
# folder of its own, and its output read back.

import json
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import unittest

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
        tool = self.tool_for_others() if "user" in kw else TOOL
        result = subprocess.run([tool, *args], text=True, timeout=300, cwd=self.folder, **kw)
        self.assertEqual(result.returncode, status, (args, result.stderr))
        if said is not None:
            self.assertRegex(result.stderr, said, args)
        self.assertTrue(status == 0 or not result.stdout, (args, result.stdout))
        return result

    def tool_for_others(self):
        """A copy of the tool that another user can run: the checkout may lie in a folder only
        its owner may enter (mktemp -d makes one)."""
        folder = self.enterContext(tempfile.TemporaryDirectory())
        os.chmod(folder, 0o755)
        return shutil.copy2(TOOL, folder)

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
