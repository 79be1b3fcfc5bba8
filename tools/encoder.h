// The video encoder: ffmpeg as a child process, fed raw frames on a pipe and
// the soundtrack from a file, writing the container the output's name asks
// for (.mp4 and .mkv: H.264 and AAC; .webm: VP9 and Opus).
#pragma once

#include "tools/frame_clock.h"

#include <string>
#include <vector>

struct EncoderJob {
    std::string output;     // the final name, whose extension picks the container
    std::string temp;       // where ffmpeg writes
    std::string soundtrack; // the wave image, as a file
    FrameRate rate;
    double from;   // seconds of the soundtrack at the first frame
    double length; // seconds of picture
    int width, height;
};

// ffmpeg's whole command line for a job; frames come in on its stdin as
// 4:2:0 studio-range BT.601 planes (see toYuv420). File names reach it as
// files whatever they hold (a colon, a leading dash).
std::vector<std::string> encoderArguments(const EncoderJob &job);

// Below the renderer, not so far below that other work on the machine could
// starve the capture. llvmpipe's threads meet at a barrier every frame, so
// each time the encoder preempts one the other waits.
constexpr int ENCODER_NICENESS = 10;

// True if program is an executable file in one of PATH's folders.
bool programOnPath(const char *program);

// A name ffmpeg and ffprobe read as a file, never as a protocol or an option.
std::string fileArgument(const std::string &path);
