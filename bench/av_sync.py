#!/usr/bin/env python3
"""Gaps, A/V offset and start-up of the real show on a sound server under CPU load.

usage: av_sync.py RUNS WORKERS LABEL=PELMIRA[,server=pipewire][,VAR=VALUE...] ...
(the soundtrack comes from pelmira-capture beside the first PELMIRA, or
$PELMIRA_CAPTURE)

Each run starts a private sound server with a null sink (PulseAudio, or with
server=pipewire PipeWire with pipewire-pulse and WirePlumber), WORKERS busy-loop
processes and a 1920x1080 Xvfb, then the show twice: once with its sound,
recording the sink's monitor with parec and placing every 1,024-sample block
of the soundtrack in the recording, and once with --mute, ended by Escape once
its picture shows. The shows under
comparison run in alternation, so load from other work falls on all of them.
Per run and as medians over the runs of each label:
  gaps        breaks in the soundtrack (blocks damaged or shifted)
  first/last  offset of the first and last block against the show's clock, ms
              (positive: the sound is late; the monitor hands samples over
              when the sink mixes them, up to the recording's latency, 5 ms
              on PulseAudio and 25 ms on PipeWire, before they are heard)
  worst       the largest |offset| over the run, ms
  start       context ready -> first frame presented, with sound and with
              --mute, ms: the difference is what starting the sound costs
"""
import os
import re
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from desktop import (Recording, SoundServer, Xvfb, busy, finish,  # noqa: E402
                     sound_against_clock, soundtrack)


def start_to_frame(err):
    marks = re.search(r"context=(\S+) start_tick=\S+ first_frame=(\S+)", err)
    return (float(marks[2]) - float(marks[1])) * 1000


def one_run(pelmira, extra, pipewire, track, workers):
    with busy(workers), Xvfb("1920x1080", "-wr") as x, SoundServer(pipewire) as server:
        recording = Recording(server)
        status, err, timing = finish(x.start(pelmira, **{**server.env(), **extra}), 120)
        recorded = recording.stop()
        # Only its start counts: ended once its picture covers the screen.
        mute_status, mute_err, _ = x.escape(x.start_running(pelmira, "--mute", **server.env()))
    if status != 0 or not timing or mute_status != 0:
        sys.exit(f"{pelmira}: status {status} (--mute {mute_status}), said {err}{mute_err}")
    gaps, offsets = sound_against_clock(recorded, track, recording.start, timing[0])
    if not offsets:
        return gaps, float("nan"), float("nan"), float("nan"), start_to_frame(err), \
            start_to_frame(mute_err)
    return (gaps, offsets[0] * 1000, offsets[-1] * 1000, max(abs(o) for o in offsets) * 1000,
            start_to_frame(err), start_to_frame(mute_err))


def main():
    runs, workers = int(sys.argv[1]), int(sys.argv[2])
    shows = []
    for spec in sys.argv[3:]:
        label, rest = spec.split("=", 1)
        path, *settings = rest.split(",")
        extra = dict(s.split("=", 1) for s in settings)
        shows.append((label, path, extra, extra.pop("server", "") == "pipewire"))
    capture = os.environ.get("PELMIRA_CAPTURE", os.path.join(os.path.dirname(shows[0][1]),
                                                             "pelmira-capture"))
    track = soundtrack(capture)
    results = {label: [] for label, *_ in shows}
    for run in range(runs):
        for label, path, extra, pipewire in shows:
            r = one_run(path, extra, pipewire, track, workers)
            results[label].append(r)
            print(f"{label:>10} run {run + 1:2}: gaps {r[0]:3}  first {r[1]:7.1f}  last {r[2]:7.1f}"
                  f"  worst {r[3]:7.1f}  start {r[4]:6.1f} (--mute {r[5]:6.1f}) ms", flush=True)
    median = statistics.median
    for label, rows in results.items():
        gaps, first, last, worst, start, mute = zip(*rows)
        print(f"{label:>10} median of {len(rows)}: gaps {median(gaps):g} (runs with gaps "
              f"{sum(g > 0 for g in gaps)}/{len(rows)}, max {max(gaps)})  first {median(first):.1f}"
              f"  last {median(last):.1f}  worst {median(worst):.1f} ms (max {max(worst):.1f})"
              f"  start {median(start):.1f}, --mute {median(mute):.1f}, sound costs "
              f"{median(s - m for s, m in zip(start, mute)):.1f} ms")


if __name__ == "__main__":
    main()
