// Where the soundtrack is on a sound server, by the server's own timing
// figures: when its first sample is heard, which starts the picture's clock,
// and, while it plays, whether a stall of the server has left it behind that
// clock, in which case it skips ahead to where the clock is.
//
// A stalled server (a PipeWire graph cycle missed, the server stopped for a
// moment) plays on from where it was when it comes back, so everything after
// would be late by the time lost; the data already handed over is rewritten
// from a little way ahead of what the sink has mixed, moved on by that time.
#include "platform/linux/pulse_stream.h"

#include <algorithm>
#include <ctime>
#include <pulse/rtclock.h>
#include <vector>

// How often the figures are asked for while the first sample is awaited, and
// then while the stream plays.
static const pa_usec_t START_USEC = 5000;
static const pa_usec_t FOLLOW_USEC = 10000;
// How far beyond what the sink has taken a skip begins: the rewrite has to
// reach the server before the sink mixes that far.
static const double SKIP_MARGIN_SECONDS = 0.1;
// pipewire-pulse's figures are timed when it answers, anywhere in a graph
// cycle; two taken this close, across the read of a new cycle, place the
// cycle's start, and so the first sample, to within this.
static const double PINNED_SECONDS = 0.007;

PulseStream pulse;

static double bytesPerSecond() {
    return (double)soundFrameBytes(pulse.track) * pulse.track.rate;
}

// The sink's latency, seconds: pipewire-pulse says it has none and counts the
// cycle being played as read; its figures' time is when it answers, so the
// earliest answer comes just after a cycle began, which is still to be heard.
static double sinkSeconds(const pa_timing_info *timing) {
    if (!pulse.onPipeWire)
        return (double)timing->sink_usec * 1e-6;
    if (timing->read_index > pulse.lastRead) {
        int64_t step = timing->read_index - pulse.lastRead;
        pulse.cycleBytes = pulse.cycleBytes ? std::min(pulse.cycleBytes, step) : step;
        pulse.lastRead = timing->read_index;
    }
    return (double)pulse.cycleBytes / bytesPerSecond();
}

// When the stream's first sample is heard, in seconds of soundSeconds, by the
// figures just fetched. PulseAudio's say it before the sink has read anything
// and so before the stream counts as playing (an idle sink may have mixed two
// seconds ahead: what it reads next is heard after them); pipewire-pulse's
// cycle is known only once it has read.
static bool firstHeardBy(double *heard) {
    const pa_timing_info *timing = pa_stream_get_timing_info(pulse.stream);
    bool unread = timing && timing->read_index <= 0;
    if (!timing || (pulse.onPipeWire ? unread || !timing->playing : !unread && !timing->playing))
        return false;
    // The figures' time is the wall clock's; the show's is monotonic.
    timespec wall;
    clock_gettime(CLOCK_REALTIME, &wall);
    double now = soundSeconds();
    double taken = (double)timing->timestamp.tv_sec + timing->timestamp.tv_usec * 1e-6;
    int64_t index = timing->read_index;
    int64_t moved = index >= pulse.shiftFrom ? pulse.shift : pulse.oldShift;
    double read = (double)(index - pulse.leadIn + moved) / bytesPerSecond();
    double sink = sinkSeconds(timing);
    *heard = now - ((double)wall.tv_sec + wall.tv_nsec * 1e-9 - taken) + sink - read;
    return true;
}

// Rewrites what the server holds from a little beyond the sink on, `lag`
// seconds further into the track, and silence past its end.
static void skipAhead(double lag) {
    const pa_timing_info *timing = pa_stream_get_timing_info(pulse.stream);
    uint32_t frame = soundFrameBytes(pulse.track);
    int64_t held = pulse.leadIn + pulse.written - pulse.shift; // the write index
    double ahead = (double)timing->sink_usec * 1e-6 + SKIP_MARGIN_SECONDS;
    int64_t from = timing->read_index + (int64_t)(ahead * pulse.track.rate) * frame;
    from -= (from - pulse.leadIn) % frame;
    if (from >= held)
        return;
    int64_t shift = pulse.shift + (int64_t)(lag * pulse.track.rate + 0.5) * frame;
    int64_t at = std::min<int64_t>(from - pulse.leadIn + shift, pulse.track.bytes);
    size_t length = (size_t)(held - from);
    size_t n = std::min<size_t>(length, pulse.track.bytes - (uint32_t)at);
    std::vector<unsigned char> data(pulse.track.data + at, pulse.track.data + at + n);
    data.resize(length, pulse.track.bits == 8 ? 0x80 : 0);
    if (pa_stream_write(pulse.stream, data.data(), length, nullptr, from, PA_SEEK_ABSOLUTE) != 0)
        return;
    pulse.oldShift = pulse.shift;
    pulse.shift = shift;
    pulse.shiftFrom = from;
    pulse.written = (uint32_t)std::min<int64_t>(held - pulse.leadIn + shift, pulse.track.bytes);
}

// Whether these figures pin the first sample's moment: PulseAudio's carry
// the sink's latency and always do; pipewire-pulse's only when they are the
// first to show a new cycle read and the figures before them were taken
// shortly before, as the cycle began between the two.
static bool pinned(const pa_timing_info *timing) {
    double taken = (double)timing->timestamp.tv_sec + timing->timestamp.tv_usec * 1e-6;
    bool cycleBegun =
        timing->read_index != pulse.figureRead && taken - pulse.figureTaken <= PINNED_SECONDS;
    pulse.figureRead = timing->read_index;
    pulse.figureTaken = taken;
    return !pulse.onPipeWire || cycleBegun;
}

// A sink that has fallen behind its clock at the start tells so only once it
// catches up, and a figure may come late: the earliest holds.
static void onFigures(pa_stream *, int success, void *) {
    double heard;
    const pa_timing_info *timing = success ? pa_stream_get_timing_info(pulse.stream) : nullptr;
    bool sure = pulse.following && !pulse.started && timing && pinned(timing);
    if (!pulse.following || !success || !firstHeardBy(&heard))
        return;
    if (!pulse.started) {
        if (pulse.firstHeard == 0.0 || heard < pulse.firstHeard)
            pulse.firstHeard = heard;
        pulse.firstSure = pulse.firstSure || sure;
        return;
    }
    double lag = soundLagNote(pulse.watch, soundSeconds(), heard);
    if (lag > 0.0)
        skipAhead(lag);
}

static void askFigures(pa_mainloop_api *, pa_time_event *event, const struct timeval *, void *) {
    if (pulse.following && pa_stream_get_state(pulse.stream) == PA_STREAM_READY) {
        if (pa_operation *o = pa_stream_update_timing_info(pulse.stream, onFigures, nullptr))
            pa_operation_unref(o);
    }
    pa_context_rttime_restart(pulse.context, event,
                              pa_rtclock_now() + (pulse.started ? FOLLOW_USEC : START_USEC));
}

void pulseFollow() {
    pulse.following = true;
    pulse.started = false;
    pulse.firstHeard = 0.0;
    pulse.firstSure = false;
    pulse.figureRead = 0;
    pulse.figureTaken = 0.0;
    if (!pulse.follower)
        pulse.follower = pa_context_rttime_new(pulse.context, pa_rtclock_now() + START_USEC,
                                               askFigures, nullptr);
}

void pulseStarted(double heard) {
    pulse.watch = soundLagStart(heard);
    pulse.started = true;
}

void pulseUnfollow() {
    pulse.following = false;
    if (pulse.follower) {
        pa_threaded_mainloop_get_api(pulse.loop)->time_free(pulse.follower);
        pulse.follower = nullptr;
    }
}
