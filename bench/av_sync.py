#!/usr/bin/env python3
"""Gaps and A/V offset of the real show on PulseAudio under CPU load.

usage: av_sync.py RUNS WORKERS LABEL=PELMIRA[,VAR=VALUE...] ...
(the soundtrack comes from pelmira-capture beside the first PELMIRA, or
$PELMIRA_CAPTURE)

Each run starts a private PulseAudio server with a null sink, WORKERS busy-loop
processes, a 1920x1080 Xvfb and the show, records the sink's monitor with parec
and places every 1,024-sample block of the soundtrack in the recording. The
shows under comparison run in alternation, so load from other work falls on
all of them. Per run and as medians over the runs of each label:
  gaps        breaks in the soundtrack (blocks damaged or shifted)
  first/last  offset of the first and last block against the show's clock, ms
              (positive: the sound is late)
  worst       the largest |offset| over the run, ms
"""
import os
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from desktop import PulseAudio, Xvfb, finish, sound_against_clock, soundtrack  # noqa: E402


def one_run(pelmira, extra, track, workers):
    load = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(workers)]
    try:
        with Xvfb("1920x1080") as x, PulseAudio() as pulse:
            recording = pulse.record()
            status, err, timing = finish(x.start(pelmira, **pulse.env(), **extra), 120)
            recorded = recording.stop()
    finally:
        for worker in load:
            worker.kill()
            worker.wait()
    if status != 0 or not timing:
        sys.exit(f"{pelmira}: status {status}, said {err}")
    gaps, offsets = sound_against_clock(recorded, track, recording.start, timing[0])
    return gaps, offsets[0] * 1000, offsets[-1] * 1000, max(abs(o) for o in offsets) * 1000


def main():
    runs, workers = int(sys.argv[1]), int(sys.argv[2])
    shows = []
    for spec in sys.argv[3:]:
        label, rest = spec.split("=", 1)
        path, *settings = rest.split(",")
        shows.append((label, path, dict(s.split("=", 1) for s in settings)))
    capture = os.environ.get("PELMIRA_CAPTURE", os.path.join(os.path.dirname(shows[0][1]),
                                                             "pelmira-capture"))
    track = soundtrack(capture)
    results = {label: [] for label, _, _ in shows}
    for run in range(runs):
        for label, path, extra in shows:
            result = one_run(path, extra, track, workers)
            results[label].append(result)
            print(f"{label:>10} run {run + 1:2}: gaps {result[0]:3}  first {result[1]:7.1f}  "
                  f"last {result[2]:7.1f}  worst {result[3]:7.1f} ms", flush=True)
    for label, rows in results.items():
        gaps, first, last, worst = zip(*rows)
        median = statistics.median
        print(f"{label:>10} median of {len(rows)}: gaps {median(gaps):g} (runs with gaps "
              f"{sum(g > 0 for g in gaps)}/{len(rows)}, max {max(gaps)})  first {median(first):.1f}"
              f"  last {median(last):.1f}  worst {median(worst):.1f} ms (max {max(worst):.1f})")


if __name__ == "__main__":
    main()
