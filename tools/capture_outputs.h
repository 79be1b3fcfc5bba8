// Everything a capture writes or compares: the video and its encoder, the
// PNG frames, the hash file and the reference hashes of --verify. Every file
// is claimed before any frame is drawn and put in place only once the whole
// capture has succeeded; whatever is left when the object goes is removed.
#pragma once

#include "tools/capture_run.h"
#include "tools/child_process.h"
#include "tools/frame_hash.h"
#include "tools/frame_writer.h"
#include "tools/progress.h"
#include "tools/temp_file.h"

#include <string>
#include <vector>

class CaptureOutputs {
  public:
    // Frames first up to end (exclusive) will be taken.
    CaptureOutputs(const CaptureJob &job, long end) : job_(job), end_(end) {}

    // Reads the --verify file, if any, and checks it was made with the same
    // size, padding and subframes. False once said why.
    bool readReference();

    // Makes the temporaries of every file to be written, so a name that
    // cannot be written is said before any work. False once said why.
    bool claim();

    // Compares the soundtrack with the reference and starts the hash file;
    // for a video, writes the soundtrack out and starts the encoder; makes
    // the canvas's bars black once. False once said why.
    bool begin(const void *waveImage, size_t waveSize);

    // Hashes, compares and writes one frame; on the writer thread. False
    // once said why (or on an end signal).
    bool take(const CapturedFrame &frame);

    // Finishes the encoder, checks its video, and puts every file in place.
    // False once said why (or on an end signal).
    bool commit();

    // The files written and their sizes, for the summary.
    std::vector<WrittenFile> written() const;

  private:
    bool matchesReference(long number, const std::string &t, uint64_t hash);
    bool writePng(const std::string &path, const unsigned char *pixels);
    bool encode(const unsigned char *picture);
    bool finishVideo();

    const CaptureJob &job_;
    long end_;
    TempFile video_, sound_, png_, hashes_;
    ChildProcess encoder_; // after the temporaries, so it is stopped before they go
    HashList reference_;
    std::string hashLines_;
    FramePipe pipe_ = PIPE_YUV420;
    // Each frame on its canvas (when padded) and in the encoder's form.
    std::vector<unsigned char> canvas_, converted_, pngBytes_;
    long long pngWritten_ = 0;
};
