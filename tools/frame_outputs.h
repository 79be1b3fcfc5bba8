// What becomes of each finished frame, on the writer thread: its hash, kept
// or checked, and the PNG file or the frames the encoder is fed.
#pragma once

#include "tools/capture_run.h"
#include "tools/encoder.h"
#include "tools/frame_hash.h"
#include "tools/frame_writer.h"
#include "tools/progress.h"

#include <string>
#include <vector>

struct FrameOutputs {
    explicit FrameOutputs(const CaptureJob &job);

    const CaptureJob &job;
    HashList expected;     // --verify's file, each frame taken out once matched
    std::string hashLines; // --hashes' file as far as written
    EncoderProcess encoder;

    // Readies the canvas and the encoder's frame, their bars black.
    void prepare();

    // One frame; false once said why it failed.
    bool take(const CapturedFrame &frame);

    // The files written, for the summary (the video once committed).
    std::vector<WrittenFile> written() const;

  private:
    bool matchesExpected(long number, const std::string &t, uint64_t hash);
    bool writePng(const std::string &path, const unsigned char *pixels);
    bool encode(const unsigned char *picture);

    FramePipe pipe_ = PIPE_YUV420;
    std::vector<unsigned char> canvas_, converted_, png_;
    long long pngBytes_ = 0;
};
