#include "tools/capture_outputs.h"

#include "music/wave_image.h"
#include "platform/platform.h"
#include "tools/capture_options.h"
#include "tools/encoder.h"
#include "tools/png_file.h"
#include "tools/video_check.h"
#include "tools/yuv.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

// A failure to write that an end signal caused is no news to the user.
static bool reportUnlessInterrupted(const TempFile &file) {
    int error = errno;
    if (!platformEndSignal())
        file.report(error);
    return false;
}

bool CaptureOutputs::readReference() {
    if (job_.verify.empty())
        return true;
    if (!readHashes(job_.verify, &reference_))
        return false;
    std::string mismatch = settingsMismatch(reference_, job_.rate, job_.format, job_.verify);
    if (!mismatch.empty())
        platformSay("%s", mismatch.c_str());
    return mismatch.empty();
}

bool CaptureOutputs::claim() {
    if (job_.output == OUTPUT_VIDEO && !video_.create(job_.path))
        return reportUnlessInterrupted(video_);
    if (job_.output == OUTPUT_VIDEO && !sound_.create(job_.path, ".wav"))
        return reportUnlessInterrupted(sound_);
    if (job_.output == OUTPUT_PNG && !png_.create(job_.path))
        return reportUnlessInterrupted(png_);
    if (job_.output == OUTPUT_PNG_SEQUENCE) {
        TempFile probe;
        if (!probe.create(frameName(job_.path, job_.first)))
            return reportUnlessInterrupted(probe);
    }
    if (!job_.hashes.empty() && !hashes_.create(job_.hashes))
        return reportUnlessInterrupted(hashes_);
    return true;
}

bool CaptureOutputs::begin(const void *waveImage, size_t waveSize) {
    std::string soundHash = hashText(bytesHash(waveImage, waveSize));
    if (!job_.hashes.empty())
        hashLines_ = hashFileHeader(job_.rate, job_.format, soundHash);
    if (!reference_.sound.empty() && reference_.sound != soundHash) {
        platformSay("the soundtrack differs: hash %s; %s has %s", soundHash.c_str(),
                    job_.verify.c_str(), reference_.sound.c_str());
        return false;
    }
    const FrameFormat &f = job_.format;
    if (f.padded() && (job_.output != OUTPUT_VIDEO || !job_.hashes.empty() || !job_.verify.empty()))
        canvas_.assign(f.canvasBytes(), 0);
    if (job_.output != OUTPUT_VIDEO)
        return true;
    pipe_ = encoderPipe(job_.path, job_.quality);
    converted_.assign(pipeFrameBytes(pipe_, f.canvasWidth, f.canvasHeight), 0);
    if (pipe_ == PIPE_YUV420)
        blackYuv420(f, converted_.data());
    else if (pipe_ == PIPE_YUV444)
        blackYuv444(f, converted_.data());
    if (!sound_.write(waveImage, waveSize))
        return reportUnlessInterrupted(sound_);
    long frames = end_ - job_.first;
    EncoderJob encode = {job_.path,
                         video_.path(),
                         sound_.path(),
                         job_.rate,
                         (double)frameTick(job_.first, job_.rate) / 1000.0,
                         (double)frames * job_.rate.den / job_.rate.num,
                         f.canvasWidth,
                         f.canvasHeight,
                         job_.quality};
    if (!encoder_.start(encoderArguments(encode), true, false, ENCODER_NICENESS)) {
        platformSay("cannot start ffmpeg: %s", std::strerror(errno));
        return false;
    }
    return true;
}

bool CaptureOutputs::matchesReference(long number, const std::string &t, uint64_t hash) {
    auto found = reference_.frames.find(number);
    if (found == reference_.frames.end()) {
        platformSay("frame %ld (t = %s) is not in %s", number, t.c_str(), job_.verify.c_str());
        return false;
    }
    if (found->second.hash != hash || found->second.t != t) {
        platformSay("frame %ld differs: t = %s, hash %s; %s has t = %s, hash %s", number, t.c_str(),
                    hashText(hash).c_str(), job_.verify.c_str(), found->second.t.c_str(),
                    hashText(found->second.hash).c_str());
        return false;
    }
    reference_.frames.erase(found);
    return true;
}

bool CaptureOutputs::writePng(const std::string &path, const unsigned char *pixels) {
    encodePng(&pngBytes_, pixels, job_.format.canvasWidth, job_.format.canvasHeight, 1);
    pngWritten_ += (long long)pngBytes_.size();
    if (job_.output == OUTPUT_PNG)
        return png_.write(pngBytes_.data(), pngBytes_.size()) || reportUnlessInterrupted(png_);
    // A sequence is thousands of files: they are renamed complete, not synced.
    return writeFileAtomically(path, pngBytes_.data(), pngBytes_.size(), false);
}

// The picture goes to the encoder without its canvas: the converters write it
// into the middle of converted_, whose bars stay black.
bool CaptureOutputs::encode(const unsigned char *picture) {
    if (pipe_ == PIPE_YUV420)
        toYuv420(picture, job_.format, converted_.data());
    else if (pipe_ == PIPE_YUV444)
        toYuv444(picture, job_.format, converted_.data());
    else
        toBgr0(picture, job_.format, converted_.data());
    if (encoder_.write(converted_.data(), converted_.size()))
        return true;
    if (errno == ETIMEDOUT)
        platformSay("ffmpeg took nothing for %g s; stopped it", childStallSeconds());
    else if (errno != EINTR)
        platformSay("ffmpeg stopped taking frames: it %s", encoder_.endText().c_str());
    return false;
}

bool CaptureOutputs::take(const CapturedFrame &frame) {
    const unsigned char *pixels = frame.pixels.data();
    if (!canvas_.empty()) {
        placeOnCanvas(job_.format, pixels, canvas_.data());
        pixels = canvas_.data();
    }
    if (!job_.hashes.empty() || !job_.verify.empty()) {
        uint64_t hash = frameHash(pixels, job_.format.canvasBytes());
        std::string t = timeText(frame.t);
        if (!job_.hashes.empty())
            hashLines_ += hashLine(frame.number, t, hash);
        if (!job_.verify.empty() && !matchesReference(frame.number, t, hash))
            return false;
    }
    switch (job_.output) {
    case OUTPUT_VIDEO:
        return encode(frame.pixels.data());
    case OUTPUT_PNG_SEQUENCE:
        return writePng(frameName(job_.path, frame.number), pixels);
    case OUTPUT_PNG:
        return writePng(job_.path, pixels);
    case OUTPUT_NONE:
        return true;
    }
    return true;
}

bool CaptureOutputs::finishVideo() {
    errno = 0;
    if (!encoder_.wait()) {
        if (errno == ETIMEDOUT)
            platformSay("ffmpeg did not finish within %g s; stopped it", childStallSeconds());
        else if (errno != EINTR)
            platformSay("ffmpeg failed to write '%s': it %s", job_.path.c_str(),
                        encoder_.endText().c_str());
        return false;
    }
    // Whether the soundtrack reaches the first frame at all.
    bool withSound = frameTick(job_.first, job_.rate) < 1000.0 * SAMPLE_COUNT / SAMPLE_RATE;
    std::string why = checkVideo(video_.path(), end_ - job_.first, withSound);
    if (!why.empty()) {
        // ffprobe's own failures say nothing of the video.
        if (!platformEndSignal())
            platformSay(why.compare(0, 8, "ffprobe ") == 0
                            ? "cannot check ffmpeg's video for '%s': %s; nothing was written"
                            : "ffmpeg's video for '%s' is not whole (%s); nothing was written",
                        job_.path.c_str(), why.c_str());
        return false;
    }
    return video_.commit(false) || reportUnlessInterrupted(video_);
}

bool CaptureOutputs::commit() {
    auto missing = reference_.frames.lower_bound(job_.first);
    if (!job_.verify.empty() && missing != reference_.frames.end() && missing->first < end_) {
        platformSay("frame %ld of %s was not rendered", missing->first, job_.verify.c_str());
        return false;
    }
    if (job_.output == OUTPUT_VIDEO && !finishVideo())
        return false;
    if (job_.output == OUTPUT_PNG && !png_.commit(true))
        return reportUnlessInterrupted(png_);
    if (!job_.hashes.empty() &&
        !(hashes_.write(hashLines_.data(), hashLines_.size()) && hashes_.commit(true)))
        return reportUnlessInterrupted(hashes_);
    if (!job_.verify.empty()) {
        const long frames = end_ - job_.first;
        if (reference_.sound.empty())
            platformSay("%ld %s %s; it holds no soundtrack hash to compare", frames,
                        frames == 1 ? "frame matches" : "frames match", job_.verify.c_str());
        else
            platformSay("%ld frame%s and the soundtrack match %s", frames, frames == 1 ? "" : "s",
                        job_.verify.c_str());
    }
    return true;
}

std::vector<WrittenFile> CaptureOutputs::written() const {
    std::vector<WrittenFile> files;
    struct stat info;
    if (job_.output == OUTPUT_VIDEO && stat(job_.path.c_str(), &info) == 0)
        files.push_back({job_.path, (long long)info.st_size});
    else if (job_.output == OUTPUT_PNG || job_.output == OUTPUT_PNG_SEQUENCE)
        files.push_back({job_.path, pngWritten_});
    if (!job_.hashes.empty())
        files.push_back({job_.hashes, (long long)hashLines_.size()});
    return files;
}
