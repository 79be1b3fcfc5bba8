// The options that shape the frames and the video: --size, --pad,
// --subframes, --crf and --lossless.
#pragma once

#include "tools/capture_run.h"

#include <string>

// The long options' names, in the order of their option values from first.
constexpr const char *PICTURE_OPTIONS[] = {"size", "pad", "subframes", "crf", "lossless"};

// Takes the value of PICTURE_OPTIONS[index] (nullptr for --lossless) into
// job. "" or what is wrong with it.
std::string takePictureOption(int index, const char *value, CaptureJob *job);

// Checks the options against each other and the output's kind once all are
// read. "" or what is wrong.
std::string settlePicture(CaptureJob *job);

// True if any of them was given.
bool pictureOptionsGiven(const CaptureJob &job);

// Their lines of --help.
extern const char PICTURE_USAGE[];
