// What the two files of the libpulse player share (audio_pulse.cpp starts and
// ends the stream, audio_pulse_clock.cpp reads the server's timing figures and
// keeps the sound with the clock): the stream and where the soundtrack stands
// in it. Touched only under the threaded main loop's lock.
#pragma once

#include "platform/common/sound_clock.h"
#include "platform/linux/internal.h"

#include <cstdint>
#include <pulse/pulseaudio.h>

struct PulseStream {
    pa_threaded_mainloop *loop;
    pa_context *context;
    pa_stream *stream;
    SoundTrack track;
    bool onPipeWire;  // the server is pipewire-pulse
    int64_t leadIn;   // bytes of silence before the track
    uint32_t written; // bytes of the track handed over
    // The track's byte at stream offset x is x - leadIn + shift from shiftFrom
    // on, + oldShift before: what skipping ahead has moved.
    int64_t shift, oldShift, shiftFrom;
    int64_t lastRead;   // the read index last seen
    int64_t cycleBytes; // the least step of the read index seen: a graph cycle
    pa_time_event *follower;
    bool following;
    bool started;       // the clock has begun, at watch.start
    double firstHeard;  // till then, the earliest the figures have said; 0: none yet
    bool firstSure;     // and that is known closely enough to start the clock by
    int64_t figureRead; // the read index and time of the last figures, seconds
    double figureTaken;
    SoundLagWatch watch;
};

extern PulseStream pulse;

// From now on the server's figures are asked for on libpulse's thread, on
// time however late the main thread wakes: till pulseStarted they say when
// the first sample is heard (firstHeard); after, the stream is skipped ahead
// whenever it falls behind the clock begun at `heard`. Until pulseUnfollow.
void pulseFollow();
void pulseStarted(double heard);
void pulseUnfollow();
