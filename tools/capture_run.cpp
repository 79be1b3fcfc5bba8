#include "tools/capture_run.h"

#include "music/wave_image.h"
#include "platform/platform.h"
#include "show/demo_main.h"
#include "tools/encoder.h"
#include "tools/frame_average.h"
#include "tools/frame_hash.h"
#include "tools/frame_outputs.h"
#include "tools/frame_writer.h"
#include "tools/progress.h"
#include "tools/temp_file.h"

#include <GL/gl.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

std::string folderOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// Draws every frame from 0 up to end in order, as the show's clock would
// reach them, and hands those from job.first on to the writer. With
// subframes, frame k is the mean of frames k * n to k * n + n - 1 at n times
// the rate, all drawn in order; one that reaches the show's end is cleared and
// not drawn, as the show leaves it: black. Returns false if it stopped early
// (a signal, or the writer failed).
bool renderFrames(const CaptureJob &job, long end, FrameWriter &writer, Progress &progress) {
    const FrameFormat &f = job.format;
    const int n = f.subframes;
    const FrameRate drawn = {job.rate.num * n, job.rate.den};
    FrameAverage average(n > 1 ? f.pictureBytes() : 0, n);
    std::vector<unsigned char> subframe(n > 1 ? f.pictureBytes() : 0);
    demoClock.startTick = 0;
    long k = 0;
    for (; k < end && !platformEndSignal(); ++k) {
        if (k < job.first) {
            for (int j = 0; j < n; ++j) {
                demoFrame(frameTick(k * n + j, drawn));
                // Nothing reads these frames back, and llvmpipe would queue them unbounded.
                glFinish();
            }
            progress.drawn(k + 1);
            continue;
        }
        CapturedFrame *frame = writer.acquire();
        if (!frame)
            break;
        for (int j = 0; j < n; ++j) {
            demoFrame(frameTick(k * n + j, drawn));
            if (j == 0)
                frame->t = demoClock.t;
            platformReadFrame(n > 1 ? subframe.data() : frame->pixels.data());
            if (n > 1)
                average.add(subframe.data());
        }
        if (n > 1)
            average.mean(frame->pixels.data());
        frame->number = k;
        writer.submit();
        progress.drawn(k + 1);
    }
    progress.finish();
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
                         job.format.canvasWidth,
                         job.format.canvasHeight,
                         job.quality};
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
    FrameOutputs outputs(job);
    if (!job.verify.empty() && !readHashes(job.verify, &outputs.expected))
        return 1;
    std::string mismatch = settingsMismatch(outputs.expected, job.format, job.verify);
    if (!job.verify.empty() && !mismatch.empty()) {
        platformSay("%s", mismatch.c_str());
        return 1;
    }
    if (!job.hashes.empty() && access(folderOf(job.hashes).c_str(), W_OK) != 0) {
        reportCannotWrite(job.hashes, errno);
        return 1;
    }

    platformRequestHeadless();
    platformSetHeadlessSize(job.format.width, job.format.height);
    if (!buildShow()) {
        platformSay("%s", platformError());
        return 1;
    }
    std::string soundHash = hashText(bytesHash(&waveImage, sizeof waveImage));
    if (!job.hashes.empty())
        outputs.hashLines = hashFileHeader(job.rate, job.format, soundHash);
    if (!job.verify.empty() && !outputs.expected.sound.empty() &&
        outputs.expected.sound != soundHash) {
        platformSay("the soundtrack differs: hash %s; %s has %s", soundHash.c_str(),
                    job.verify.c_str(), outputs.expected.sound.c_str());
        return 1;
    }

    if (job.output == OUTPUT_VIDEO &&
        !startVideo(job, end - job.first, video, sound, outputs.encoder))
        return 1;
    outputs.prepare();
    FrameWriter writer(job.format.pictureBytes(),
                       [&](const CapturedFrame &f) { return outputs.take(f); });
    if (!writer.start()) {
        platformSay("cannot start the frame writer thread: %s", std::strerror(errno));
        return 1;
    }
    Progress progress(job.first, end);
    bool rendered = renderFrames(job, end, writer, progress);
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
    if (ok && (job.output != OUTPUT_NONE || !job.hashes.empty()))
        sayCaptured(end - job.first, progress.seconds(), outputs.written());
    return ok ? 0 : 1;
}
