// pelmira-capture's command line.
#pragma once

#include "tools/capture_run.h"

#include <string>

constexpr char CAPTURE_PROGRAM[] = "pelmira-capture";

enum ExitStatus { STATUS_OK = 0, STATUS_FAILED = 1, STATUS_USAGE = 2 };

struct CaptureOptions {
    std::string soundtrack; // a .wav output: the soundtrack alone
    CaptureJob job;         // anything else
};

// Fills options from the command line. Returns -1 to go on, or the status to
// exit with at once: after --help or --version (printed on stdout), or a
// usage error (said on stderr).
int parseCaptureOptions(int argc, char **argv, CaptureOptions *options);

// The widest field a frame pattern may ask for: a name is at most 255 bytes.
constexpr int MAX_FRAME_WIDTH = 255;

// True if pattern holds exactly one integer conversion (%d, %05d, %i ...) of
// at most MAX_FRAME_WIDTH and otherwise only literal text and %%: anything
// else would hand user text to printf as a format.
bool isFramePattern(const std::string &pattern);

// The name of a frame of a sequence, or "" if it would not fit a path.
std::string frameName(const std::string &pattern, long frame);
