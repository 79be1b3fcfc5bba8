#!/usr/bin/env python3
"""Frames per second and start-click to first frame of the web page in
headless Chromium (SwiftShader), fresh browser per run:
  bench/web_page.py BUILD_DIR [RUNS]
BUILD_DIR/web holds the page (scripts/build-web.sh BUILD_DIR/web). Each run
clicks start, then counts the frames presented over 10 s of each scene,
jumping the page's clock to it as the tests do."""

import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
sys.argv[1:] = ["bench", sys.argv[1], "", "", *sys.argv[2:]]
import web_e2e  # noqa: E402

SCENES = [("scroller", 1.0), ("fly-in", 8.0), ("fly-in with orbit", 17.3), ("tunnel", 24.0)]
SPAN_MS = 10000


def main():
    runs = int(sys.argv[5]) if len(sys.argv) > 5 else 3
    starts, rates = [], {name: [] for name, _ in SCENES}
    with web_e2e.Site() as site:
        for _ in range(runs):
            steps = [{"do": "click"}, {"do": "waitFrames", "n": 1}, {"do": "status"}]
            for _, t in SCENES:
                steps += [{"do": "freeze", "t": t}, {"do": "status"}, {"do": "wait", "ms": SPAN_MS},
                          {"do": "status"}]
            results = web_e2e.drive(site.url, steps)
            first = results[2]
            starts.append(first["firstFrameAt"] - first["clickAt"])
            for k, (name, _) in enumerate(SCENES):
                before, after = results[4 + 4 * k], results[6 + 4 * k]
                # The frozen page clock does not move: real time is the span.
                rates[name].append((after["frames"] - before["frames"]) * 1000 / SPAN_MS)
    print(f"start click to first frame: median {statistics.median(starts):.0f} ms "
          f"({', '.join(f'{s:.0f}' for s in starts)})")
    for name, values in rates.items():
        print(f"{name}: median {statistics.median(values):.1f} fps "
              f"({', '.join(f'{v:.1f}' for v in values)})")


main()
