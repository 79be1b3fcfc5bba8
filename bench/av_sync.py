#!/usr/bin/env python3
"""Gaps, A/V offset and start-up of the real show on a sound server under CPU load.

usage: av_sync.py RUNS WORKERS LABEL=PELMIRA[,server=pipewire][,stop=SECONDS][,VAR=VALUE...] ...
(the soundtrack comes from pelmira-capture beside the first PELMIRA, or
$PELMIRA_CAPTURE)

Each run starts a private sound server with a null sink (PulseAudio, or with
server=pipewire PipeWire with pipewire-pulse and WirePlumber), WORKERS busy-loop
processes and a 1920x1080 Xvfb, then the show twice: once with its sound,
recording the sink's monitor with parec and placing every 1,024-sample block
of the soundtrack in the recording, and once with --mute, ended by Escape once
its picture shows. With stop=SECONDS the sound server is stopped (SIGSTOP) for
that long once 3 s of sound have been heard. Four workers load the two cores
as a machine building beside the show does. The shows under
comparison run in alternation, so load from other work falls on all of them.
Per run and as medians over the runs of each label:
  gaps        breaks in the soundtrack (blocks damaged or shifted)
  first/last  offset of the first and last block against the show's clock, ms
              (positive: the sound is late; the monitor hands samples over
              when the sink mixes them, up to the recording's latency, 5 ms
              on PulseAudio and 25 ms on PipeWire, before they are heard)
  worst       the offset farthest from 0 over the run, ms (with stop=, outside the
              stall and the second after it)
  back        with stop=: from the end of the stall to the first block of
              the ones within 20 ms to the end, ms
  start       context ready -> first frame presented, with sound and with
              --mute, ms: the difference is what starting the sound costs
"""
import os
import re
import signal
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from desktop import Xvfb, busy, finish, soundtrack, wait_until  # noqa: E402
from sound_server import Recording, SoundServer, sound_against_clock  # noqa: E402


def start_to_frame(err):
    marks = re.search(r"context=(\S+) start_tick=\S+ first_frame=(\S+)", err)
    return (float(marks[2]) - float(marks[1])) * 1000


def one_run(pelmira, extra, pipewire, track, workers, stop):
    with busy(workers), Xvfb("1920x1080", "-wr") as x, SoundServer(pipewire) as server:
        recording = Recording(server)
        show = x.start(pelmira, **{**server.env(), **extra})
        if stop:
            wait_until(lambda: show.poll() is not None or recording.holds_sound(3), "3 s of sound")
            os.killpg(server.proc.pid, signal.SIGSTOP)
            time.sleep(stop)
            os.killpg(server.proc.pid, signal.SIGCONT)
            resumed = time.monotonic()
        status, err, timing = finish(show, 120)
        recorded = recording.stop()
        # Only its start counts: ended once its picture covers the screen.
        mute_status, mute_err, _ = x.escape(x.start_running(pelmira, "--mute", **server.env()))
    if status != 0 or not timing or mute_status != 0:
        sys.exit(f"{pelmira}: status {status} (--mute {mute_status}), said {err}{mute_err}")
    gaps, placed = sound_against_clock(recording, recorded, track, timing[0])
    nan = float("nan")
    if not placed:
        return gaps, nan, nan, nan, nan, start_to_frame(err), start_to_frame(mute_err)
    back, worst = nan, max((o for _, o in placed), key=abs)
    if stop:
        resumed -= timing[0]
        late = [t + o for t, o in placed if abs(o) > 0.020 and t + o >= resumed - stop]
        back = max(late, default=resumed) - resumed
        worst = max((o for t, o in placed if not resumed - stop <= t + o <= resumed + 1),
                    default=nan, key=abs)
    return (gaps, placed[0][1] * 1000, placed[-1][1] * 1000, worst * 1000, back * 1000,
            start_to_frame(err), start_to_frame(mute_err))


def main():
    runs, workers = int(sys.argv[1]), int(sys.argv[2])
    shows = []
    for spec in sys.argv[3:]:
        label, rest = spec.split("=", 1)
        path, *settings = rest.split(",")
        extra = dict(s.split("=", 1) for s in settings)
        shows.append((label, path, extra, extra.pop("server", "") == "pipewire",
                      float(extra.pop("stop", 0))))
    capture = os.environ.get("PELMIRA_CAPTURE", os.path.join(os.path.dirname(shows[0][1]),
                                                             "pelmira-capture"))
    track = soundtrack(capture)
    results = {label: [] for label, *_ in shows}
    for run in range(runs):
        for label, path, extra, pipewire, stop in shows:
            r = one_run(path, extra, pipewire, track, workers, stop)
            results[label].append(r)
            print(f"{label:>10} run {run + 1:2}: gaps {r[0]:3}  first {r[1]:7.1f}  last {r[2]:7.1f}"
                  f"  worst {r[3]:7.1f}  back {r[4]:6.1f}  start {r[5]:6.1f} (--mute {r[6]:6.1f})"
                  " ms", flush=True)
    median = statistics.median
    for label, rows in results.items():
        gaps, first, last, worst, back, start, mute = zip(*rows)
        print(f"{label:>10} median of {len(rows)}: gaps {median(gaps):g} (runs with gaps "
              f"{sum(g > 0 for g in gaps)}/{len(rows)}, max {max(gaps)})  first {median(first):.1f}"
              f"  last {median(last):.1f}  worst {median(worst):.1f} ms"
              f" (farthest {max(worst, key=abs):.1f},"
              f" runs beyond 20 ms {sum(abs(w) > 20 for w in worst)}/{len(rows)})"
              f"  back {max(back):.0f} ms at most"
              f"  start {median(start):.1f}, --mute {median(mute):.1f}, sound costs "
              f"{median(s - m for s, m in zip(start, mute)):.1f} ms")


if __name__ == "__main__":
    main()
