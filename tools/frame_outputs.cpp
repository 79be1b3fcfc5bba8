#include "tools/frame_outputs.h"

#include "platform/platform.h"
#include "tools/png_file.h"
#include "tools/temp_file.h"
#include "tools/yuv.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

FrameOutputs::FrameOutputs(const CaptureJob &job) : job(job) {}

// The bars are made black once; each frame writes only the picture.
void FrameOutputs::prepare() {
    const FrameFormat &f = job.format;
    if (f.padded() && (job.output != OUTPUT_VIDEO || !job.hashes.empty() || !job.verify.empty()))
        canvas_.assign(f.canvasBytes(), 0);
    if (job.output != OUTPUT_VIDEO)
        return;
    pipe_ = encoderPipe(job.path, job.quality);
    converted_.assign(pipeFrameBytes(pipe_, f.canvasWidth, f.canvasHeight), 0);
    if (pipe_ == PIPE_YUV420)
        blackYuv420(f, converted_.data());
    else if (pipe_ == PIPE_YUV444)
        blackYuv444(f, converted_.data());
}

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

bool FrameOutputs::writePng(const std::string &path, const unsigned char *pixels) {
    encodePng(&png_, pixels, job.format.canvasWidth, job.format.canvasHeight, 1);
    pngBytes_ += (long long)png_.size();
    // A sequence is thousands of files: they are renamed complete, not synced.
    if (writeFileAtomically(path, png_.data(), png_.size(), false))
        return true;
    reportCannotWrite(path, errno);
    return false;
}

bool FrameOutputs::encode(const unsigned char *picture) {
    if (pipe_ == PIPE_YUV420)
        toYuv420(picture, job.format, converted_.data());
    else if (pipe_ == PIPE_YUV444)
        toYuv444(picture, job.format, converted_.data());
    else
        toBgr0(picture, job.format, converted_.data());
    if (encoder.write(converted_.data(), converted_.size()))
        return true;
    if (!platformEndSignal())
        platformSay("the encoder stopped taking frames: %s", std::strerror(errno));
    return false;
}

bool FrameOutputs::take(const CapturedFrame &frame) {
    const unsigned char *pixels = frame.pixels.data();
    if (!canvas_.empty()) {
        placeOnCanvas(job.format, pixels, canvas_.data());
        pixels = canvas_.data();
    }
    if (!job.hashes.empty() || !job.verify.empty()) {
        uint64_t hash = frameHash(pixels, job.format.canvasBytes());
        std::string t = timeText(frame.t);
        if (!job.hashes.empty())
            hashLines += hashLine(frame.number, t, hash);
        if (!job.verify.empty() && !matchesExpected(frame.number, t, hash))
            return false;
    }
    switch (job.output) {
    case OUTPUT_VIDEO:
        return encode(frame.pixels.data());
    case OUTPUT_PNG_SEQUENCE: {
        char path[4096];
        std::snprintf(path, sizeof path, job.path.c_str(), (int)frame.number);
        return writePng(path, pixels);
    }
    case OUTPUT_PNG:
        return writePng(job.path, pixels);
    case OUTPUT_NONE:
        return true;
    }
    return true;
}

std::vector<WrittenFile> FrameOutputs::written() const {
    std::vector<WrittenFile> files;
    struct stat info;
    if (job.output == OUTPUT_VIDEO && stat(job.path.c_str(), &info) == 0)
        files.push_back({job.path, (long long)info.st_size});
    else if (job.output == OUTPUT_PNG || job.output == OUTPUT_PNG_SEQUENCE)
        files.push_back({job.path, pngBytes_});
    if (!job.hashes.empty())
        files.push_back({job.hashes, (long long)hashLines.size()});
    return files;
}
