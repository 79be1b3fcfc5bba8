#include "tools/capture_run.h"

#include "music/wave_image.h"
#include "platform/platform.h"
#include "show/demo_main.h"
#include "show/display.h"
#include "tools/encoder.h"
#include "tools/frame_hash.h"
#include "tools/frame_writer.h"
#include "tools/png_file.h"
#include "tools/temp_file.h"
#include "tools/yuv.h"

#include <GL/gl.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const size_t FRAME_BYTES = (size_t)SCREEN_WIDTH * SCREEN_HEIGHT * 4;
const size_t YUV_BYTES = (size_t)SCREEN_WIDTH * SCREEN_HEIGHT * 3 / 2;

std::string folderOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// What becomes of each finished frame, on the writer thread.
struct FrameOutputs {
    const CaptureJob &job;
    HashList expected;
    std::string hashLines;
    EncoderProcess encoder;
    std::vector<unsigned char> yuv, png;

    bool take(const CapturedFrame &frame);
    bool matchesExpected(long number, const std::string &t, uint64_t hash);
    bool writePng(const std::string &path, const CapturedFrame &frame);
};

bool FrameOutputs::matchesExpected(long number, const std::string &t, uint64_t hash) {
    auto found = expected.frames.find(number);
    if (found == expected.frames.end()) {
        platformSay("frame %ld (t = %s) is not in %s", number, t.c_str(), job.verify.c_str());
        return false;
    }
    if (found->second.hash != hash || found->second.t != t) {
        platformSay("frame %ld differs: t = %s, hash %s; %s has t = %s, hash %s", number, t.c_str(),
                    hashText(hash).c_str(), job.verify.c_str(), found->second.t.c_str(),
                    hashText(found->second.hash).c_str());
        return false;
    }
    expected.frames.erase(found);
    return true;
}

bool FrameOutputs::writePng(const std::string &path, const CapturedFrame &frame) {
    encodePng(&png, frame.pixels.data(), SCREEN_WIDTH, SCREEN_HEIGHT, 1);
    // A sequence is thousands of files: they are renamed complete, not synced.
    if (writeFileAtomically(path, png.data(), png.size(), false))
        return true;
    reportCannotWrite(path, errno);
    return false;
}

bool FrameOutputs::take(const CapturedFrame &frame) {
    uint64_t hash = frameHash(frame.pixels.data(), frame.pixels.size());
    std::string t = timeText(frame.t);
    if (!job.hashes.empty())
        hashLines += hashLine(frame.number, t, hash);
    if (!job.verify.empty() && !matchesExpected(frame.number, t, hash))
        return false;
    switch (job.output) {
    case OUTPUT_VIDEO:
        yuv.resize(YUV_BYTES);
        toYuv420(frame.pixels.data(), SCREEN_WIDTH, SCREEN_HEIGHT, yuv.data());
        if (encoder.write(yuv.data(), yuv.size()))
            return true;
        if (!platformEndSignal())
            platformSay("the encoder stopped taking frames: %s", std::strerror(errno));
        return false;
    case OUTPUT_PNG_SEQUENCE: {
        char path[4096];
        std::snprintf(path, sizeof path, job.path.c_str(), (int)frame.number);
        return writePng(path, frame);
    }
    case OUTPUT_PNG:
        return writePng(job.path, frame);
    case OUTPUT_NONE:
        return true;
    }
    return true;
}

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

// The video's two temporaries and its encoder, started; false once said why.
bool startVideo(const CaptureJob &job, long frames, TempFile &video, TempFile &sound,
                EncoderProcess &encoder) {
    if (!video.create(job.path) || !sound.create(job.path, ".wav")) {
        reportCannotWrite(job.path, errno);
        return false;
    }
    if (!writeAll(sound.fd(), &waveImage, sizeof waveImage)) {
        reportCannotWrite(sound.path(), errno);
        return false;
    }
    EncoderJob encode = {job.path,
                         video.path(),
                         sound.path(),
                         job.rate,
                         (double)frameTick(job.first, job.rate) / 1000.0,
                         (double)frames * job.rate.den / job.rate.num,
                         SCREEN_WIDTH,
                         SCREEN_HEIGHT};
    if (!encoder.start(encoderArguments(encode))) {
        platformSay("cannot start ffmpeg: %s", std::strerror(errno));
        return false;
    }
    return true;
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
    if (job.output == OUTPUT_VIDEO && !programOnPath("ffmpeg")) {
        platformSay("ffmpeg was not found on PATH; it is needed to write %s "
                    "(Debian: apt-get install ffmpeg)",
                    job.path.c_str());
        return 1;
    }
    // Declared first so they go last: the encoder is stopped before its files.
    TempFile video, sound;
    FrameOutputs outputs{job, {}, {}, {}, {}, {}};
    if (!job.verify.empty() && !readHashes(job.verify, &outputs.expected))
        return 1;
    if (!job.hashes.empty() && access(folderOf(job.hashes).c_str(), W_OK) != 0) {
        reportCannotWrite(job.hashes, errno);
        return 1;
    }

    platformRequestHeadless();
    if (!buildShow()) {
        platformSay("%s", platformError());
        return 1;
    }
    std::string soundHash = hashText(bytesHash(&waveImage, sizeof waveImage));
    if (!job.hashes.empty())
        outputs.hashLines = hashFileHeader(job.rate, soundHash);
    if (!job.verify.empty() && !outputs.expected.sound.empty() &&
        outputs.expected.sound != soundHash) {
        platformSay("the soundtrack differs: hash %s; %s has %s", soundHash.c_str(),
                    job.verify.c_str(), outputs.expected.sound.c_str());
        return 1;
    }

    if (job.output == OUTPUT_VIDEO &&
        !startVideo(job, end - job.first, video, sound, outputs.encoder))
        return 1;
    FrameWriter writer(FRAME_BYTES, [&](const CapturedFrame &f) { return outputs.take(f); });
    if (!writer.start()) {
        platformSay("cannot start the frame writer thread: %s", std::strerror(errno));
        return 1;
    }
    bool rendered = renderFrames(job, end, writer);
    bool ok = writer.finish() && rendered && !platformEndSignal();

    auto missing = outputs.expected.frames.lower_bound(job.first);
    if (ok && !job.verify.empty() && missing != outputs.expected.frames.end() &&
        missing->first < end) {
        platformSay("frame %ld of %s was not rendered", missing->first, job.verify.c_str());
        ok = false;
    }
    if (ok && job.output == OUTPUT_VIDEO) {
        if (!outputs.encoder.finish()) {
            platformSay("ffmpeg failed to write %s", job.path.c_str());
            ok = false;
        } else if (!video.commit(false)) {
            reportCannotWrite(job.path, errno);
            ok = false;
        }
    }
    if (ok && !job.hashes.empty() &&
        !writeFileAtomically(job.hashes, outputs.hashLines.data(), outputs.hashLines.size())) {
        reportCannotWrite(job.hashes, errno);
        ok = false;
    }
    if (ok && !job.verify.empty())
        platformSay("%ld frames and the soundtrack match %s", end - job.first, job.verify.c_str());
    return ok ? 0 : 1;
}
