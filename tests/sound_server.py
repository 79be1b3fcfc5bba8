# The sound side of the end-to-end tests: a private sound server with a null
# sink, its monitor recorded, and the recording placed against the show's
# clock block by block.
import bisect
import contextlib
import itertools
import os
import pathlib
import shutil
import signal
import subprocess
import tempfile
import threading
import time

from desktop import INF, Context, check, wait_until


class SoundServer(Context):
    """A private PulseAudio, or PipeWire with pipewire-pulse and WirePlumber,
    with a null sink at the soundtrack's format."""
    # As a Debian desktop runs them, in a runtime directory and session of its
    # own; the sink's monitor gives back the very bytes played.

    RATE = 44100

    def __init__(self, pipewire=False):
        self.dir = tempfile.mkdtemp(prefix="pelmira-sound-")
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(HOME=self.dir, XDG_RUNTIME_DIR=self.dir, PULSE_RUNTIME_PATH=self.dir,
                   XDG_CONFIG_HOME=self.dir, XDG_STATE_HOME=self.dir)
        sink = f"module-null-sink sink_name=speaker rate={self.RATE} channels=1"
        self.socket = os.path.join(self.dir, "native")
        # PipeWire runs its graph in cycles of the least latency a stream asks
        # for: 5 ms would make them 128 samples, which glitch on a busy machine;
        # at 25 ms they stay at the 1,024 the show asks for.
        self.record_latency = 25 if pipewire else 5
        if pipewire:
            # The graph at the soundtrack's rate, as the null sink: otherwise
            # PipeWire resamples to its own 48 kHz and back.
            conf = pathlib.Path(self.dir, "pipewire", "pipewire.conf.d")
            conf.mkdir(parents=True)
            (conf / "rate.conf").write_text(
                f"context.properties = {{ default.clock.rate = {self.RATE} }}\n")
            # WirePlumber wants a session bus; pipewire-pulse and it wait for
            # PipeWire's socket.
            script = (f'pipewire & while [ ! -S "$XDG_RUNTIME_DIR/pipewire-0" ]; do sleep 0.02; '
                      'done; wireplumber & pipewire-pulse & wait')
            command = ["dbus-run-session", "--", "sh", "-c", script]
        else:
            script = pathlib.Path(self.dir, "default.pa")
            script.write_text(f"load-module module-native-protocol-unix auth-anonymous=1 socket="
                              f"{self.socket}\nload-module {sink}\nset-default-sink speaker\n")
            env["DBUS_SESSION_BUS_ADDRESS"] = "disabled:"
            command = ["pulseaudio", "-n", "-F", script, "--daemonize=no", "--exit-idle-time=-1",
                       "--use-pid-file=no", "--log-target=stderr"]
        self.proc = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            wait_until(lambda: self.proc.poll() is not None or self.pactl("info").returncode == 0,
                       "the sound server")
            check(self.proc.poll() is None, "the sound server did not start")
            if pipewire:
                check(self.pactl("load-module", *sink.split()).returncode == 0, "no null sink")
                wait_until(lambda: b"speaker" in self.pactl("list", "short", "sinks").stdout,
                           "the null sink")
                self.pactl("set-default-sink", "speaker")
        except BaseException:
            self.__exit__()
            raise

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env(os.environ), capture_output=True)

    def env(self, base=None):
        """For a client of this server, through libpulse or PipeWire's own."""
        return {**(base or {}), "SDL_AUDIODRIVER": "pulseaudio",
                "PULSE_SERVER": "unix:" + self.socket, "PIPEWIRE_RUNTIME_DIR": self.dir}

    def playing(self):
        """True once a client plays into the sink."""
        return self.pactl("list", "short", "sink-inputs").stdout.strip() != b""

    def stop(self):
        """Ends the server and everything its session started."""
        with contextlib.suppress(ProcessLookupError):
            os.killpg(self.proc.pid, signal.SIGTERM)
        self.proc.wait()

    def __exit__(self, *exc):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


class Recording:
    """The sink's monitor and the time of its first sample."""
    # The n samples read so far arrived no earlier than sample n was mixed, so
    # the least (arrival - n / rate) is sample 0's time, late by parec's least
    # delay (a few ms). A sink that stalls hands over nothing meanwhile: what
    # comes after is placed by the arrivals from then on only.

    def __init__(self, pulse):
        self.rate = pulse.RATE
        self.proc = subprocess.Popen(
            ["parec", "-d", "speaker.monitor", "--format=s16le", f"--rate={self.rate}",
             "--channels=1", f"--latency-msec={pulse.record_latency}"],
            env=pulse.env(dict(os.environ)), stdout=subprocess.PIPE)
        self.chunks, self.marks = [], []
        self.start = float("inf")
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()
        # An idle null sink renders in two-second blocks; once the monitor
        # delivers, it has taken up the recording's short latency.
        wait_until(lambda: self.chunks or self.proc.poll() is not None, "the sink's monitor")
        check(self.chunks, "parec did not record")

    def _read(self):
        got = 0
        while True:
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            arrived = time.monotonic()
            if not chunk:
                return
            got += len(chunk)
            self.chunks.append(chunk)
            self.marks.append((got // 2, arrived - got // 2 / self.rate))
            self.start = min(self.start, self.marks[-1][1])

    def holds_sound(self, seconds):
        """True once the monitor has recorded sound for the given time."""
        recorded = b"".join(self.chunks)
        first = next((i for i in range(0, len(recorded), 64) if any(recorded[i:i + 64])), None)
        return first is not None and len(recorded) - first >= seconds * 2 * self.rate

    def start_for(self, sample):
        """Sample 0's time as the arrivals from sample on place it."""
        at = bisect.bisect_right(self.marks, (sample, INF))
        return self.latest[at] if at < len(self.latest) else self.start

    def stop(self):
        """The recorded samples as bytes."""
        self.proc.terminate()
        self.proc.wait()
        self.thread.join()
        self.latest = list(itertools.accumulate(reversed([t for _, t in self.marks]), min))[::-1]
        return b"".join(self.chunks)


def sound_against_clock(recording, recorded, soundtrack, start_tick, block=1024,
                        rate=SoundServer.RATE):
    """The gaps in a recording (blocks of the soundtrack missing or moved, once
    per break, a missing end included) and each block's (time in the
    soundtrack, offset against the show's clock), seconds, positive when late."""
    # Silent blocks cannot be placed; each block is looked for near where the
    # one before was, so the pattern's repeats further away cannot match.
    size, gaps, offsets, lag, broken = block * 2, 0, [], None, False
    for start in range(0, len(soundtrack) - size + 1, size):
        piece = soundtrack[start:start + size]
        if not any(piece):
            continue
        lo, hi = 0, len(recorded)
        if lag is not None:
            lo, hi = max(0, start + lag - 4 * rate), start + lag + 4 * rate + size
        at = recorded.find(piece, lo, hi)
        while at >= 0 and at % 2:
            at = recorded.find(piece, at + 1, hi)
        if at < 0:
            broken = True
            continue
        gaps += lag is not None and (broken or at - start != lag)
        lag, broken = at - start, False
        offsets.append((start / 2 / rate, recording.start_for(at // 2) - start_tick +
                        (at - start) / 2 / rate))
    return gaps + broken, offsets
