#include "tools/capture_run.h"

#include "music/wave_image.h"
#include "platform/platform.h"
#include "show/demo_main.h"
#include "tools/capture_outputs.h"
#include "tools/encoder.h"
#include "tools/frame_average.h"
#include "tools/frame_writer.h"
#include "tools/lead_in.h"
#include "tools/progress.h"

#include <cerrno>
#include <cstring>

namespace {

// Draws the lead-in, then frames job.first up to end in order, as the show's
// clock would reach them, and hands these to the writer. With
// subframes, frame k is the mean of frames k * n to k * n + n - 1 at n times
// the rate, and the lead-in is that clock's; one that reaches the show's end
// is cleared and not drawn, as the show leaves it: black. Returns false if it
// stopped early (a signal, or the writer failed).
bool renderFrames(const CaptureJob &job, const std::vector<long> &leadIn, long end,
                  FrameWriter &writer, Progress &progress) {
    const FrameFormat &f = job.format;
    const int n = f.subframes;
    const FrameRate drawn = {job.rate.num * n, job.rate.den};
    FrameAverage average(n > 1 ? f.pictureBytes() : 0, n);
    std::vector<unsigned char> subframe(n > 1 ? f.pictureBytes() : 0);
    demoClock.startTick = 0;
    drawLeadIn(leadIn, drawn, [&](long done) { progress.drawn(done); });
    long done = (long)leadIn.size();
    long k = job.first;
    for (; k < end && !platformEndSignal(); ++k) {
        CapturedFrame *frame = writer.acquire();
        if (!frame)
            break;
        // A frame of many large subframes takes seconds: an end signal is
        // looked for before each.
        for (int j = 0; j < n && !platformEndSignal(); ++j) {
            demoFrame(frameTick(k * n + j, drawn));
            if (j == 0)
                frame->t = demoClock.t;
            platformReadFrame(n > 1 ? subframe.data() : frame->pixels.data());
            if (n > 1)
                average.add(subframe.data());
        }
        if (platformEndSignal())
            break;
        if (n > 1)
            average.mean(frame->pixels.data());
        frame->number = k;
        writer.submit();
        progress.drawn(++done);
    }
    progress.finish();
    return k == end;
}

} // namespace

long showFrames(FrameRate rate) {
    long k = frameAtOrAfter(SHOW_LENGTH - 1.0, rate);
    while (demoTime(0, frameTick(k, rate)) < SHOW_LENGTH)
        ++k;
    return k;
}

int runCapture(const CaptureJob &job) {
    long total = showFrames(job.rate);
    long end = job.end < 0 || job.end > total ? total : job.end;
    if (job.first >= end) {
        platformSay("no frames between the given times");
        return 2;
    }
    for (const char *helper : {"ffmpeg", "ffprobe"}) {
        if (job.output == OUTPUT_VIDEO && !programOnPath(helper)) {
            platformSay("%s was not found on PATH; it is needed to write %s "
                        "(Debian: apt-get install ffmpeg)",
                        helper, job.path.c_str());
            return 1;
        }
    }
    CaptureOutputs outputs(job, end);
    if (!outputs.readReference())
        return 1;
    platformRequestHeadless();
    platformSetHeadlessSize(job.format.width, job.format.height);
    if (!buildShow()) {
        platformSay("%s", platformError());
        return 1;
    }
    if (!outputs.claim() || !outputs.begin(&waveImage, sizeof waveImage))
        return 1;
    FrameWriter writer(job.format.pictureBytes(),
                       [&](const CapturedFrame &f) { return outputs.take(f); });
    if (!writer.start()) {
        platformSay("cannot start the frame writer thread: %s", std::strerror(errno));
        return 1;
    }
    // Frame first finds the render state the show would leave it without
    // drawing the whole show up to it.
    const std::vector<long> leadIn = leadInFrames(job.first, job.rate, job.format.subframes);
    Progress progress((long)leadIn.size(), end - job.first);
    bool rendered = renderFrames(job, leadIn, end, writer, progress);
    bool written = writer.finish();
    if (!rendered || !written || platformEndSignal() || !outputs.commit())
        return 1;
    if (job.output != OUTPUT_NONE || !job.hashes.empty())
        sayCaptured(end - job.first, (long)leadIn.size(), progress.seconds(), outputs.written());
    return 0;
}
