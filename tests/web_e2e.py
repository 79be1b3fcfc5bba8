#!/usr/bin/env python3
"""The web page in headless Chromium, served from 127.0.0.1, against the
native build: web_e2e.py CASE BUILD_DIR CAPTURE_TOOL GOLDEN_HASHES.

BUILD_DIR is the native Release build: the page is built into BUILD_DIR/web
by the case `build` (scripts/build-web.sh), and the native gl_calls and
show_hashes programs are there. Exit 77: emscripten, Chromium, node or the
browser driver (npm ci in tests/web) is missing."""

import base64
import functools
import http.server
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import threading

from desktop import BLACK, GRID, SKIP, Failure, check, picture_error, run, soundtrack

ROOT = pathlib.Path(__file__).resolve().parent.parent
DRIVER = ROOT / "tests" / "web" / "driver.mjs"
CASE, BUILD, CAPTURE, GOLDEN = sys.argv[1], pathlib.Path(sys.argv[2]), sys.argv[3], sys.argv[4]
SITE = BUILD / "web"
# Page, script and wasm together.
SIZE_BUDGET = 300 * 1000

# Demo times whose picture is held to the capture tool's frame: the scroller,
# the fog of the fly-in, the fly-in with the orbit overlay, the tunnel with
# the caption cube. SwiftShader rasterises and filters a little differently
# from llvmpipe, and the browser draws the greeting in its own face: the
# cells (8x8 pixels' mean grey) may differ by MAX_ERROR on average (0.45 at
# most measured), and by a quarter of the capture's own difference from black.
TIMES = [1.0, 8.0, 17.5, 24.0]
MAX_ERROR = 1.5

# Window sizes at which the picture must keep 4:3 between black bars.
WINDOWS = [(1000, 500), (600, 900), (800, 600)]

# How far the browser's replaced GL calls may be from Mesa's: cells' mean
# colour levels (edges are rasterised slightly differently), values exactly
# up to float printing.
GL_CELL_MEAN, GL_CELL_MAX, GL_VALUE = 2.0, 40, 1e-5


def needs_tools():
    missing = [tool for tool in ("emcc", "node", "chromium", "ffmpeg") if not shutil.which(tool)]
    if not (ROOT / "tests" / "web" / "node_modules" / "puppeteer-core").is_dir():
        missing.append("puppeteer-core (npm ci in tests/web)")
    if missing:
        print("skipped: missing " + ", ".join(missing))
        sys.exit(SKIP)


class Site:
    """BUILD_DIR/web served on 127.0.0.1 on a port of its own, for a with block."""

    def __enter__(self):
        check((SITE / "index.html").is_file(), f"no page in {SITE}: the case build makes it")
        handler = functools.partial(Quiet, directory=str(SITE))
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/"
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()


class Quiet(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript"}

    def log_message(self, *args):
        pass


def drive(url, steps, window=(800, 600)):
    """Runs the driver's steps on the page; fails on any error the page or
    its console gave. Returns what each step returned."""
    done = run("node", str(DRIVER), url, f"{window[0]}x{window[1]}", json.dumps(steps),
               cwd=DRIVER.parent)
    out = json.loads(done.stdout)
    check(not out["errors"], f"errors on the page: {out['errors']}")
    return out["results"]


def grey(png, *scale):
    """A PNG in grey, a byte a pixel, or a cell with scale."""
    return subprocess.run(["ffmpeg", "-loglevel", "error", "-i", png, *scale, "-f", "rawvideo",
                           "-pix_fmt", "gray", "-"], capture_output=True, check=True).stdout


def cells(png):
    """A PNG's mean grey per cell of the tests' grid."""
    return grey(png, "-vf", f"scale={GRID[0]}:{GRID[1]}:flags=area")


def case_build():
    env = {**os.environ, "PELMIRA_WEB_TESTS": "1"}
    done = run(str(ROOT / "scripts" / "build-web.sh"), str(SITE), env=env, cwd=ROOT)
    total = int(re.search(r"(\d+)\s+total", done.stdout)[1])
    sizes = sum((SITE / name).stat().st_size for name in ("index.html", "pelmira.js",
                                                           "pelmira.wasm"))
    check(total == sizes, f"build-web.sh says {total} bytes, the files hold {sizes}")
    check(sizes < SIZE_BUDGET, f"the page is {sizes} bytes, over the {SIZE_BUDGET} budget")


def case_pictures():
    with Site() as site, tempfile.TemporaryDirectory() as directory:
        steps = [{"do": "click"}, {"do": "waitFrames", "n": 1}]
        for t in TIMES:
            steps += [{"do": "freeze", "t": t}, {"do": "shot", "path": f"{directory}/web-{t}.png"}]
        drive(site.url, steps + [{"do": "key", "key": "Escape"}, {"do": "waitEnded"}])
        # One capture run at 2 fps holds every time: frame k is drawn at k*500 ms,
        # and the few frames before each are all it draws.
        run(CAPTURE, "--fps", "2", "--to", f"{max(TIMES) + 0.25}", f"{directory}/%05d.png")
        failures = []
        for t in TIMES:
            frame = f"{directory}/{round(t * 2):05d}.png"
            page, captured = cells(f"{directory}/web-{t}.png"), cells(frame)
            error, blank = picture_error(page, captured), picture_error(captured, BLACK)
            print(f"t={t}: mean cell difference {error:.2f} (the capture's from black {blank:.2f})")
            if error > MAX_ERROR or error * 4 > blank:
                failures.append(f"t={t}: {error:.2f}")
        check(not failures, f"pictures differ from the capture's: {failures}")


def case_escape():
    with Site() as site:
        results = drive(site.url, [
            {"do": "click"}, {"do": "waitFrames", "n": 5}, {"do": "key", "key": "Escape"},
            {"do": "waitEnded"},
            # Play again: a fresh instance draws from the start.
            {"do": "click"}, {"do": "eval", "until": "window.pelmira.status.frames >= 5",
                              "expr": "window.pelmira.status.startTick !== undefined"},
            {"do": "key", "key": "Escape"}, {"do": "waitEnded"}])
    ended, again, ended_again = results[3], results[5], results[7]
    for what in (ended, ended_again):
        check(what["prompt"] == "Click to play again." and what["canvases"] == 0,
              f"Escape did not bring back the start screen: {what}")
    check(again is True, "the second play had no start tick")


def case_sound():
    with Site() as site:
        sound = drive(site.url, [{"do": "click"}, {"do": "sound"}, {"do": "key", "key": "Escape"},
                                 {"do": "waitEnded"}])[1]
    check(sound["rate"] == 44100 and sound["channels"] == 1,
          f"Web Audio was handed {sound['channels']} channels at {sound['rate']} Hz")
    pcm = base64.b64decode(sound["pcm"])
    expected = soundtrack(CAPTURE)
    first = next((i for i in range(0, min(len(pcm), len(expected)), 2)
                  if pcm[i:i + 2] != expected[i:i + 2]), None)
    check(pcm == expected, f"Web Audio holds {len(pcm)} bytes, the soundtrack {len(expected)}; "
          f"first difference at byte {first}")


def case_letterbox():
    failures = []
    with Site() as site, tempfile.TemporaryDirectory() as directory:
        steps = [{"do": "click"}, {"do": "freeze", "t": 17.3}]
        for width, height in WINDOWS:
            steps += [{"do": "viewport", "width": width, "height": height}, {"do": "geometry"},
                      {"do": "page", "path": f"{directory}/{width}.png"}]
        results = drive(site.url, steps)
        for k, (width, height) in enumerate(WINDOWS):
            geometry = results[2 + 3 * k + 1]
            scale = min(width / 800, height / 600)
            want = (800 * scale, 600 * scale, (width - 800 * scale) / 2,
                    (height - 600 * scale) / 2)
            got = (geometry["width"], geometry["height"], geometry["x"], geometry["y"])
            if any(abs(a - b) > 1 for a, b in zip(got, want)) or geometry["buffer"] != [800, 600]:
                failures.append(f"{width}x{height}: canvas {geometry}, want {want}")
            # Outside the canvas: black bars only.
            raw = grey(f"{directory}/{width}.png")
            left, top = int(want[2]), int(want[3])
            outside = [(x, y) for y in range(0, height, 7) for x in range(0, width, 7)
                       if not (left - 1 <= x <= width - left and top - 1 <= y <= height - top)]
            lit = [(x, y) for x, y in outside if raw[y * width + x] != 0]
            if lit:
                failures.append(f"{width}x{height}: bar not black at {lit[:3]}")
    check(not failures, "; ".join(failures))


def gl_rows(lines):
    rows = {}
    for line in lines:
        name, kind, *numbers = line.split()
        rows[name] = (kind, [float(n) for n in numbers])
    return rows


def case_gl_calls():
    native = subprocess.run([str(BUILD / "tests" / "gl_calls")], capture_output=True, text=True,
                            timeout=120, env={**os.environ, "SDL_AUDIODRIVER": "dummy"})
    check(native.returncode == 0 and native.stdout.endswith("end\n"),
          f"gl_calls on Mesa: {native.stdout}{native.stderr}")
    with Site() as site:
        page = drive(site.url + "tests/gl_calls.html",
                     [{"do": "eval", "until": "window.glCallsDone", "expr": "window.glCallsDone"}])[0]
    check(page["status"] == 0 and page["lines"][-1] == "end", f"gl_calls in the browser: {page}")
    mesa, web = gl_rows(native.stdout.splitlines()[:-1]), gl_rows(page["lines"][:-1])
    check(mesa.keys() == web.keys(), f"rows: Mesa {sorted(mesa)}, browser {sorted(web)}")
    failures = []
    for name, (kind, expected) in mesa.items():
        got = web[name][1]
        differences = [abs(a - b) for a, b in zip(got, expected)]
        if kind == "values":
            bad = max(differences) > GL_VALUE
            said = f"{got} against {expected}"
        else:
            mean = sum(differences) / len(differences)
            bad = mean > GL_CELL_MEAN or max(differences) > GL_CELL_MAX
            said = f"mean {mean:.2f}, max {max(differences):.0f}"
            check(max(expected) > 0, f"{name}: Mesa drew nothing, the row checks nothing")
        print(f"{name}: {said}")
        if bad or len(got) != len(expected):
            failures.append(f"{name}: {said}")
    check(not failures, "browser against Mesa: " + "; ".join(failures))


def case_show_code():
    wasm = BUILD / "web-build" / "tests" / "web" / "web_show_hashes.js"
    check(wasm.is_file(), f"no {wasm}: the case build makes it")
    web = run("node", str(wasm)).stdout
    native = run(str(BUILD / "tests" / "show_hashes")).stdout
    golden = re.search(r"^sound (\w+)$", pathlib.Path(GOLDEN).read_text(), re.M)[1]
    check(web == native, f"wasm gave {web!r}, native {native!r}")
    check(f"sound {golden}\n" in web, f"wasm gave {web!r}, the golden sound is {golden}")


if __name__ == "__main__":
    needs_tools()
    try:
        globals()["case_" + CASE]()
    except Failure as failure:
        sys.exit(f"FAIL {CASE}: {failure}")
