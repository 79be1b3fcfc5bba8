// Renders the show offline, frame by frame, into PNG files, a video or a list
// of frame hashes.
#pragma once

#include "tools/frame_clock.h"

#include <string>

enum CaptureOutput { OUTPUT_NONE, OUTPUT_PNG, OUTPUT_PNG_SEQUENCE, OUTPUT_VIDEO };

struct CaptureJob {
    CaptureOutput output = OUTPUT_NONE;
    std::string path; // the file, the printf pattern of a sequence, or the video
    FrameRate rate = {60, 1};
    long first = 0;     // first frame written
    long end = -1;      // one past the last frame written; -1: to the end of the show
    std::string hashes; // --hashes FILE
    std::string verify; // --verify FILE
    int pngLevel = 1;   // zlib level of PNG sequences
};

// True if pattern holds exactly one integer conversion (%d, %05d, %i ...) and
// otherwise only literal text and %%.
bool isFramePattern(const std::string &pattern);

// Whole program path for frames: returns the process exit status.
int runCapture(const CaptureJob &job);

// Set by the signal handlers: the capture stops, removes what it began, and
// the handler's signal ends the process.
extern volatile int captureInterrupt;
