#include "tools/capture_run.h"

#include "music/wave_image.h"
#include "platform/platform.h"
#include "show/demo_main.h"
#include "show/display.h"
#include "tools/capture_outputs.h"
#include "tools/encoder.h"
#include "tools/frame_writer.h"

#include <GL/gl.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const size_t FRAME_BYTES = (size_t)SCREEN_WIDTH * SCREEN_HEIGHT * 4;

// The progress line on a terminal: frames, rate and time left.
class Progress {
  public:
    explicit Progress(long total) : total_(total), shown_(began_) {}
    void update(long done, bool last = false) {
        auto now = std::chrono::steady_clock::now();
        if (!enabled_ || (!last && now - shown_ < std::chrono::milliseconds(250)))
            return;
        shown_ = now;
        double seconds = std::chrono::duration<double>(now - began_).count();
        double fps = seconds > 0 ? done / seconds : 0;
        long left = fps > 0 ? (long)((total_ - done) / fps + 0.5) : 0;
        std::fprintf(stderr, "\r  frame %ld/%ld  %.1f fps  %ld:%02ld left %s", done, total_, fps,
                     left / 60, left % 60, last ? "\n" : "");
    }

  private:
    long total_;
    bool enabled_ = isatty(2) != 0;
    std::chrono::steady_clock::time_point began_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point shown_;
};

// Draws every frame from 0 up to end in order, as the show's clock would
// reach them, and hands those from job.first on to the writer. Returns false
// if it stopped early (a signal, or the writer failed).
bool renderFrames(const CaptureJob &job, long end, FrameWriter &writer) {
    Progress progress(end);
    demoClock.startTick = 0;
    long k = 0;
    for (; k < end && !platformEndSignal(); ++k) {
        demoFrame(frameTick(k, job.rate));
        if (k < job.first) {
            // Nothing reads these frames back, and llvmpipe would queue them unbounded.
            glFinish();
            continue;
        }
        CapturedFrame *frame = writer.acquire();
        if (!frame)
            break;
        platformReadFrame(frame->pixels.data());
        frame->number = k;
        frame->t = demoClock.t;
        writer.submit();
        progress.update(k + 1);
    }
    progress.update(k, true);
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
    if (!buildShow()) {
        platformSay("%s", platformError());
        return 1;
    }
    if (!outputs.claim() || !outputs.begin(&waveImage, sizeof waveImage))
        return 1;
    FrameWriter writer(FRAME_BYTES, [&](const CapturedFrame &f) { return outputs.take(f); });
    if (!writer.start()) {
        platformSay("cannot start the frame writer thread: %s", std::strerror(errno));
        return 1;
    }
    bool rendered = renderFrames(job, end, writer);
    bool written = writer.finish();
    return rendered && written && !platformEndSignal() && outputs.commit() ? 0 : 1;
}
