// The options that shape the frames and the video: --size, --pad,
// --subframes, --crf and --lossless.
#pragma once

#include "tools/capture_run.h"

#include <string>

enum PictureOption {
    OPTION_SIZE,
    OPTION_PAD,
    OPTION_SUBFRAMES,
    OPTION_CRF,
    OPTION_LOSSLESS,
    PICTURE_OPTION_COUNT
};

// Takes an option's value (nullptr for --lossless) into job. "" or what is
// wrong with it.
std::string takePictureOption(PictureOption option, const char *value, CaptureJob *job);

// Checks the options against each other and the output's kind once all are
// read. "" or what is wrong.
std::string settlePicture(CaptureJob *job);

// True if any of them was given.
bool pictureOptionsGiven(const CaptureJob &job);

// Their lines of --help.
extern const char PICTURE_USAGE[];
