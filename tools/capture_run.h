// Renders the show offline, frame by frame, into PNG files, a video or a list
// of frame hashes.
#pragma once

#include "tools/encoder.h"
#include "tools/frame_clock.h"
#include "tools/frame_format.h"

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
    FrameFormat format;
    int padWidth = 0, padHeight = 0; // --pad as given; 0: none
    VideoQuality quality;
};

// Frames the show draws at rate before its clock reaches its end.
long showFrames(FrameRate rate);

// The whole capture: returns the process exit status (0, 1 on a failure or
// a mismatch, 2 when there is nothing to render). Stops early, leaving no
// file behind, once platformEndSignal() reports a signal.
int runCapture(const CaptureJob &job);
