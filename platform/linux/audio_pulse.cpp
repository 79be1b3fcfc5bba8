// The soundtrack on a sound server through libpulse: PulseAudio, or PipeWire
// through pipewire-pulse, on libpulse's own thread.
//
// The whole soundtrack is known before the first frame, so the server is
// handed LEAD_SECONDS of it ahead while the sink plays only a short request
// ahead of the speaker: a process starved for less than the lead loses
// nothing, and the first sample is still heard at once. The stream never
// pre-buffers, so its read position runs on with the server's clock whatever
// the process does; a server that itself stalls is caught up with by
// audio_pulse_clock.cpp, which also says when the first sample is heard.
//
// A server that does not answer is given ANSWER_SECONDS for the whole start,
// and the wait ends at once when the user asks the show to end.
#include "platform/linux/pulse_stream.h"
#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <unistd.h>

// Seconds of soundtrack the server holds ahead of the speaker.
static const double LEAD_SECONDS = 4.0;
// The sink's own latency: how far ahead of the speaker it takes from the
// stream, so how long the first sample takes to be heard and what still
// plays after the end.
static const double REQUEST_SECONDS = 0.02;
// PipeWire runs its graph in cycles of the least latency its clients ask
// for; at 20 ms, 512 samples, a busy machine now and then misses one, and the
// sink plays a cycle of silence. At this, the cycles are 1,024 samples.
static const double PIPEWIRE_REQUEST_SECONDS = 0.04;
// Uncorking the stream makes the sink rewind what it has already mixed so as
// to take the new stream in at once; a monitor of the sink then hears part of
// the stream's first moments twice or not at all. The stream begins with this
// much silence, which takes that instead of the soundtrack's start.
static const double LEAD_IN_SECONDS = 0.03;
// How often the main thread looks while the first sample is awaited.
static const double POLL_SECONDS = 0.005;
// Once the server's figures have said when the first sample is heard, the
// clock starts then and the show goes on meanwhile, its first picture held.
// Figures that do not pin that moment closely are gathered for at most this
// long, the earliest holding. A sink that nobody records (a null sink, "Dummy
// Output" where there is no card) mixes up to two seconds ahead while idle and
// cannot take that back for a new stream, so the moment may be well ahead.
static const double AHEAD_SECONDS = 0.04;
// A server that takes longer than this to start the sound is given up on.
static const double ANSWER_SECONDS = 2.0;

static std::atomic<bool> lost{false};
static bool unanswered;
static double deadline; // of the start under way, in soundSeconds

static void onContextState(pa_context *c, void *) {
    pa_context_state_t state = pa_context_get_state(c);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
        lost.store(true);
}

static void onStreamState(pa_stream *s, void *) {
    if (pa_stream_get_state(s) == PA_STREAM_FAILED)
        lost.store(true);
}

// The server asks for more: as much of the soundtrack as it has room for.
static void feed(pa_stream *s, size_t wanted, void *) {
    // The lead-in is a hole at the stream's start, which the server plays as
    // silence; it takes room as the samples do.
    size_t skip = pulse.written == 0 ? (size_t)pulse.leadIn : 0;
    size_t n = pulse.track.bytes - pulse.written;
    wanted = wanted > skip ? wanted - skip : 0;
    n = wanted < n ? wanted : n;
    n -= n % soundFrameBytes(pulse.track);
    if (n > 0 && pa_stream_write(s, pulse.track.data + pulse.written, n, nullptr, (int64_t)skip,
                                 PA_SEEK_RELATIVE) == 0)
        pulse.written += (uint32_t)n;
}

// Called and returns with the lock held; gives libpulse's thread the time
// between polls. False if done() is still false at the start's deadline, or
// the show is to end.
template <class Done> static bool waitFor(Done done) {
    while (!done()) {
        if (soundSeconds() > deadline)
            unanswered = true;
        if (unanswered || soundStartAbandoned())
            return false;
        pa_threaded_mainloop_unlock(pulse.loop);
        usleep(1000);
        pa_threaded_mainloop_lock(pulse.loop);
    }
    return true;
}

static bool finished(pa_operation *operation) {
    if (!operation)
        return false;
    bool done = waitFor([&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    pa_operation_unref(operation);
    return done;
}

// A stream corked and filled with the lead, then uncorked; returns, with the
// lock held, once its first sample is heard, and when that was.
static bool startStream(double *heard, char *why, size_t size) {
    pa_sample_spec spec;
    spec.format = pulse.track.bits == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec.rate = (uint32_t)pulse.track.rate;
    spec.channels = (uint8_t)pulse.track.channels;
    pulse.stream = pa_stream_new(pulse.context, "soundtrack", &spec, nullptr);
    if (!pulse.stream) {
        std::snprintf(why, size, "PulseAudio: %s", pa_strerror(pa_context_errno(pulse.context)));
        return false;
    }
    pulse.written = 0;
    pulse.shift = pulse.oldShift = pulse.shiftFrom = 0;
    pulse.lastRead = pulse.cycleBytes = 0;
    pulse.leadIn = (int64_t)pa_usec_to_bytes(LEAD_IN_SECONDS * 1e6, &spec);
    pa_stream_set_state_callback(pulse.stream, onStreamState, nullptr);
    pa_stream_set_write_callback(pulse.stream, feed, nullptr);
    pa_buffer_attr attr;
    attr.tlength = (uint32_t)pa_usec_to_bytes(LEAD_SECONDS * 1e6, &spec);
    attr.maxlength = (uint32_t)-1;
    // Never waiting for a fill: the stream's clock is the server's.
    attr.prebuf = 0;
    // With early requests the sink's latency is a request's length.
    attr.minreq = (uint32_t)pa_usec_to_bytes(
        (pulse.onPipeWire ? PIPEWIRE_REQUEST_SECONDS : REQUEST_SECONDS) * 1e6, &spec);
    attr.fragsize = (uint32_t)-1;
    pa_stream_flags_t flags =
        (pa_stream_flags_t)(PA_STREAM_START_CORKED | PA_STREAM_EARLY_REQUESTS);
    pa_stream *s = pulse.stream;
    bool ready = pa_stream_connect_playback(s, nullptr, &attr, flags, nullptr, nullptr) == 0 &&
                 waitFor([s] { return pa_stream_get_state(s) != PA_STREAM_CREATING; }) &&
                 pa_stream_get_state(s) == PA_STREAM_READY &&
                 waitFor([] { return pulse.written > 0; }) &&
                 finished(pa_stream_cork(s, 0, nullptr, nullptr));
    if (!ready || soundStartAbandoned()) {
        std::snprintf(why, size, "PulseAudio: %s",
                      unanswered ? "the server does not answer"
                                 : pa_strerror(pa_context_errno(pulse.context)));
        return false;
    }
    // Waits, unless told to end, until the figures say when the first sample
    // is heard; a server that never says it plays is not waited for beyond
    // the deadline.
    pulseFollow();
    for (double now, told = 0.0; !soundStartAbandoned();) {
        now = soundSeconds();
        double at = pulse.firstHeard;
        if (at != 0.0 && told == 0.0)
            told = now;
        if ((at != 0.0 && (pulse.firstSure || now >= at || now >= told + AHEAD_SECONDS)) ||
            (at == 0.0 && now > deadline))
            break;
        pa_threaded_mainloop_unlock(pulse.loop);
        usleep(at == 0.0 ? 1000 : (useconds_t)(std::min(at - now, POLL_SECONDS) * 1e6));
        pa_threaded_mainloop_lock(pulse.loop);
    }
    *heard = pulse.firstHeard != 0.0 ? pulse.firstHeard : soundSeconds();
    pulseStarted(*heard);
    return true;
}

static void onServerInfo(pa_context *, const pa_server_info *info, void *) {
    pulse.onPipeWire = info && info->server_name && std::strstr(info->server_name, "PipeWire");
}

static bool contextSettled() {
    pa_context_state_t state = pa_context_get_state(pulse.context);
    return !PA_CONTEXT_IS_GOOD(state) || state == PA_CONTEXT_READY;
}

bool pulsePlay(const SoundTrack &track, double *heard, char *why, size_t size) {
    pulse.track = track;
    lost.store(false);
    unanswered = false;
    deadline = soundSeconds() + ANSWER_SECONDS;
    pulse.loop = pa_threaded_mainloop_new();
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, programName());
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "game");
    pulse.context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(pulse.loop),
                                                 programName(), properties);
    pa_proplist_free(properties);
    pa_context_set_state_callback(pulse.context, onContextState, nullptr);
    // Never a server started for us: without one, SDL's drivers are next.
    bool connecting =
        pa_context_connect(pulse.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0 &&
        pa_threaded_mainloop_start(pulse.loop) == 0;
    pa_threaded_mainloop_lock(pulse.loop);
    bool answered = connecting && waitFor(contextSettled);
    bool ok = false;
    if (connecting && !answered) {
        std::snprintf(why, size, "PulseAudio: the server does not answer");
    } else if (pa_context_get_state(pulse.context) != PA_CONTEXT_READY) {
        std::snprintf(why, size, "PulseAudio: %s", pa_strerror(pa_context_errno(pulse.context)));
    } else {
        pulse.onPipeWire = false;
        finished(pa_context_get_server_info(pulse.context, onServerInfo, nullptr));
        ok = startStream(heard, why, size);
    }
    pa_threaded_mainloop_unlock(pulse.loop);
    if (!ok)
        pulseClose();
    return ok;
}

bool pulseUnanswered() {
    return unanswered;
}

static void dropStream() {
    pulseUnfollow();
    if (!pulse.stream)
        return;
    pa_stream_set_state_callback(pulse.stream, nullptr, nullptr);
    pa_stream_set_write_callback(pulse.stream, nullptr, nullptr);
    if (pa_stream_get_state(pulse.stream) == PA_STREAM_READY)
        pa_stream_disconnect(pulse.stream);
    pa_stream_unref(pulse.stream);
    pulse.stream = nullptr;
}

// A new stream, begun as the first was: the old one's lead is dropped with it.
bool pulseRestart(double *heard) {
    if (!pulse.loop || lost.load())
        return false;
    pa_threaded_mainloop_lock(pulse.loop);
    dropStream();
    unanswered = false;
    deadline = soundSeconds() + ANSWER_SECONDS;
    char why[256];
    bool ok = startStream(heard, why, sizeof why);
    if (!ok)
        lost.store(true);
    pa_threaded_mainloop_unlock(pulse.loop);
    return ok;
}

// Corked and flushed, not drained: the server stops at once and is not
// waited for.
void pulseSilence() {
    if (!pulse.loop)
        return;
    pa_threaded_mainloop_lock(pulse.loop);
    pulseUnfollow();
    if (pulse.stream && pa_stream_get_state(pulse.stream) == PA_STREAM_READY) {
        if (pa_operation *cork = pa_stream_cork(pulse.stream, 1, nullptr, nullptr))
            pa_operation_unref(cork);
        if (pa_operation *flush = pa_stream_flush(pulse.stream, nullptr, nullptr))
            pa_operation_unref(flush);
    }
    pa_threaded_mainloop_unlock(pulse.loop);
}

bool pulseLost() {
    return pulse.loop && lost.load();
}

void pulseClose() {
    if (!pulse.loop)
        return;
    pa_threaded_mainloop_lock(pulse.loop);
    dropStream();
    pa_context_set_state_callback(pulse.context, nullptr, nullptr);
    pa_context_disconnect(pulse.context);
    pa_context_unref(pulse.context);
    pulse.context = nullptr;
    pa_threaded_mainloop_unlock(pulse.loop);
    pa_threaded_mainloop_stop(pulse.loop);
    pa_threaded_mainloop_free(pulse.loop);
    pulse.loop = nullptr;
}
