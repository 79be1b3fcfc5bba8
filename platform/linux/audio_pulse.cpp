// The soundtrack on a sound server through libpulse: PulseAudio, or PipeWire
// through pipewire-pulse, on libpulse's own thread.
//
// The whole soundtrack is known before the first frame, so the server is
// handed LEAD_SECONDS of it ahead while the sink plays only a short request
// ahead of the speaker: a process starved for less than the lead loses
// nothing, and the first sample is still heard at once. The stream never
// pre-buffers, so its read position runs on with the server's clock whatever
// the process does: a sample that would come too late is dropped by the
// server and the rest plays on time, which keeps the sound with the picture
// without any rule of ours. When the first sample is heard comes from the
// server's own timing figures.
#include "platform/linux/internal.h"
#include "platform/platform.h"

#include <SDL.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <pulse/pulseaudio.h>
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
// How often the timing figures are asked for while the first sample is awaited.
static const double POLL_SECONDS = 0.005;
// A server that takes longer than this to answer at start is given up on.
static const double ANSWER_SECONDS = 2.0;

static pa_threaded_mainloop *loop;
static pa_context *context;
static pa_stream *stream;
static SoundTrack soundTrack;
static uint32_t leadIn;  // bytes of silence before the track
static uint32_t written; // bytes of the track handed over; libpulse's thread's, under the lock
static std::atomic<bool> lost{false};
static bool onPipeWire;    // the server is pipewire-pulse
static int64_t lastRead;   // the read index last seen while starting
static int64_t cycleBytes; // the least step of the read index seen: a graph cycle

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
    size_t skip = written == 0 ? leadIn : 0;
    size_t n = soundTrack.bytes - written;
    wanted = wanted > skip ? wanted - skip : 0;
    n = wanted < n ? wanted : n;
    n -= n % soundFrameBytes(soundTrack);
    if (n > 0 && pa_stream_write(s, soundTrack.data + written, n, nullptr, (int64_t)skip,
                                 PA_SEEK_RELATIVE) == 0)
        written += (uint32_t)n;
}

// Called and returns with the lock held; gives libpulse's thread the time
// between polls. False if done() is still false after the given time.
template <class Done> static bool waitFor(Done done, double seconds) {
    double until = soundSeconds() + seconds;
    while (!done()) {
        if (soundSeconds() > until)
            return false;
        pa_threaded_mainloop_unlock(loop);
        usleep(1000);
        pa_threaded_mainloop_lock(loop);
    }
    return true;
}

static bool finished(pa_operation *operation, double seconds) {
    if (!operation)
        return false;
    bool done =
        waitFor([&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, seconds);
    pa_operation_unref(operation);
    return done;
}

// Where the first sample is heard, in seconds of soundSeconds: the timing
// figures give the server's time when they were taken, how far it had read
// the stream and how much of that the sink still held. Once it has begun
// reading, false before; under the lock.
static bool firstSampleHeardAt(double *heard) {
    if (!finished(pa_stream_update_timing_info(stream, nullptr, nullptr), ANSWER_SECONDS))
        return false;
    const pa_timing_info *timing = pa_stream_get_timing_info(stream);
    if (!timing || !timing->playing || timing->read_index <= 0)
        return false;
    // The figures' time is the wall clock's; the show's is monotonic.
    timespec wall;
    clock_gettime(CLOCK_REALTIME, &wall);
    double now = soundSeconds();
    double taken = (double)timing->timestamp.tv_sec + timing->timestamp.tv_usec * 1e-6;
    double bytesPerSecond = soundFrameBytes(soundTrack) * soundTrack.rate;
    double read = (double)(timing->read_index - leadIn) / bytesPerSecond;
    double sink = (double)timing->sink_usec * 1e-6;
    // pipewire-pulse says the sink has no latency and counts the cycle being
    // played as read; its figures' time is when it answers, so the earliest
    // answer comes just after a cycle began, which is still to be heard.
    if (onPipeWire) {
        if (timing->read_index > lastRead) {
            int64_t step = timing->read_index - lastRead;
            cycleBytes = cycleBytes ? std::min(cycleBytes, step) : step;
            lastRead = timing->read_index;
        }
        sink = (double)cycleBytes / bytesPerSecond;
    }
    *heard = now - ((double)wall.tv_sec + wall.tv_nsec * 1e-9 - taken) + sink - read;
    return true;
}

// A stream corked and filled with the lead, then uncorked; returns, with the
// lock held, when its first sample is heard.
static bool startStream(char *why, size_t size) {
    pa_sample_spec spec;
    spec.format = soundTrack.bits == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec.rate = (uint32_t)soundTrack.rate;
    spec.channels = (uint8_t)soundTrack.channels;
    stream = pa_stream_new(context, "soundtrack", &spec, nullptr);
    if (!stream) {
        std::snprintf(why, size, "PulseAudio: %s", pa_strerror(pa_context_errno(context)));
        return false;
    }
    written = 0;
    lastRead = cycleBytes = 0;
    leadIn = (uint32_t)pa_usec_to_bytes(LEAD_IN_SECONDS * 1e6, &spec);
    pa_stream_set_state_callback(stream, onStreamState, nullptr);
    pa_stream_set_write_callback(stream, feed, nullptr);
    pa_buffer_attr attr;
    attr.tlength = (uint32_t)pa_usec_to_bytes(LEAD_SECONDS * 1e6, &spec);
    attr.maxlength = (uint32_t)-1;
    // Never waiting for a fill: the stream's clock is the server's.
    attr.prebuf = 0;
    // With early requests the sink's latency is a request's length.
    attr.minreq = (uint32_t)pa_usec_to_bytes(
        (onPipeWire ? PIPEWIRE_REQUEST_SECONDS : REQUEST_SECONDS) * 1e6, &spec);
    attr.fragsize = (uint32_t)-1;
    pa_stream_flags_t flags =
        (pa_stream_flags_t)(PA_STREAM_START_CORKED | PA_STREAM_EARLY_REQUESTS);
    bool ready =
        pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr) == 0 &&
        waitFor([] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; }, ANSWER_SECONDS) &&
        pa_stream_get_state(stream) == PA_STREAM_READY &&
        waitFor([] { return written > 0; }, ANSWER_SECONDS) &&
        finished(pa_stream_cork(stream, 0, nullptr, nullptr), ANSWER_SECONDS);
    double heard = 0.0;
    if (ready)
        waitFor([&] { return firstSampleHeardAt(&heard); }, ANSWER_SECONDS);
    if (!ready) {
        std::snprintf(why, size, "PulseAudio: the server did not take the stream: %s",
                      pa_strerror(pa_context_errno(context)));
        return false;
    }
    // A server that never says it plays is not waited for: the show starts.
    // A sink that has fallen behind its clock tells so only once it catches
    // up: the figures are asked for again while waiting, the earliest holds.
    for (double now, again; (now = soundSeconds()) < heard;) {
        pa_threaded_mainloop_unlock(loop);
        usleep((useconds_t)(std::min(heard - now, POLL_SECONDS) * 1e6));
        pa_threaded_mainloop_lock(loop);
        if (firstSampleHeardAt(&again) && again < heard)
            heard = again;
    }
    return true;
}

static void onServerInfo(pa_context *, const pa_server_info *info, void *) {
    onPipeWire = info && info->server_name && std::strstr(info->server_name, "PipeWire");
}

static bool contextSettled() {
    pa_context_state_t state = pa_context_get_state(context);
    return !PA_CONTEXT_IS_GOOD(state) || state == PA_CONTEXT_READY;
}

bool pulsePlay(const SoundTrack &track, char *why, size_t size) {
    soundTrack = track;
    lost.store(false);
    loop = pa_threaded_mainloop_new();
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, programName());
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "game");
    context =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop), programName(), properties);
    pa_proplist_free(properties);
    pa_context_set_state_callback(context, onContextState, nullptr);
    // Never a server started for us: without one, SDL's drivers are next.
    bool connecting = pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0 &&
                      pa_threaded_mainloop_start(loop) == 0;
    pa_threaded_mainloop_lock(loop);
    bool answered = connecting && waitFor(contextSettled, ANSWER_SECONDS);
    bool ok = false;
    if (connecting && !answered) {
        std::snprintf(why, size, "PulseAudio: the server does not answer");
    } else if (pa_context_get_state(context) != PA_CONTEXT_READY) {
        std::snprintf(why, size, "PulseAudio: %s", pa_strerror(pa_context_errno(context)));
    } else {
        onPipeWire = false;
        finished(pa_context_get_server_info(context, onServerInfo, nullptr), ANSWER_SECONDS);
        ok = startStream(why, size);
    }
    pa_threaded_mainloop_unlock(loop);
    if (!ok)
        pulseClose();
    return ok;
}

static void dropStream() {
    if (!stream)
        return;
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    if (pa_stream_get_state(stream) == PA_STREAM_READY)
        pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

// A new stream, begun as the first was: the old one's lead is dropped with it.
void pulseRestart() {
    if (!loop || lost.load())
        return;
    pa_threaded_mainloop_lock(loop);
    dropStream();
    char why[256];
    if (!startStream(why, sizeof why))
        lost.store(true);
    pa_threaded_mainloop_unlock(loop);
}

// Corked and flushed, not drained: the server stops at once and is not
// waited for.
void pulseSilence() {
    if (!loop)
        return;
    pa_threaded_mainloop_lock(loop);
    if (stream && pa_stream_get_state(stream) == PA_STREAM_READY) {
        if (pa_operation *cork = pa_stream_cork(stream, 1, nullptr, nullptr))
            pa_operation_unref(cork);
        if (pa_operation *flush = pa_stream_flush(stream, nullptr, nullptr))
            pa_operation_unref(flush);
    }
    pa_threaded_mainloop_unlock(loop);
}

bool pulseLost() {
    return loop && lost.load();
}

void pulseClose() {
    if (!loop)
        return;
    pa_threaded_mainloop_lock(loop);
    dropStream();
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
    context = nullptr;
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
    loop = nullptr;
}
