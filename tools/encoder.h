// The video encoder's command line: ffmpeg (run by child_process), fed raw
// frames on a pipe and the soundtrack from a file, writing the container the
// output's name asks for: .mp4 and .mkv, H.264 High and AAC; .webm, VP9 and
// Opus; lossless, .mkv FFV1 and FLAC, .mp4 H.264 4:4:4 and ALAC.
#pragma once

#include "tools/frame_clock.h"

#include <string>
#include <vector>

struct VideoQuality {
    int crf = -1;          // the encoder's constant quality; -1: the default
    bool lossless = false; // only for .mkv and .mp4
};

constexpr int H264_DEFAULT_CRF = 18, H264_MAX_CRF = 51;
constexpr int VP9_DEFAULT_CRF = 31, VP9_MAX_CRF = 63;

// The form the frames take on their way into ffmpeg.
enum FramePipe {
    PIPE_YUV420, // planar 4:2:0 studio-range BT.601 (toYuv420)
    PIPE_YUV444, // planar 4:4:4 full-range BT.601 (toYuv444)
    PIPE_BGR0,   // packed blue, green, red, zero (toBgr0)
};

// The pipe's form for an output name and quality.
FramePipe encoderPipe(const std::string &output, const VideoQuality &quality);

// The bytes of one frame of a width x height canvas in that form.
size_t pipeFrameBytes(FramePipe pipe, int width, int height);

struct EncoderJob {
    std::string output;     // the final name, whose extension picks the container
    std::string temp;       // where ffmpeg writes
    std::string soundtrack; // the wave image, as a file
    FrameRate rate;
    double from;       // seconds of the soundtrack at the first frame
    double length;     // seconds of picture
    int width, height; // of the canvas
    VideoQuality quality;
};

// ffmpeg's whole command line for a job; frames come in on its stdin in the
// form encoderPipe gives, tagged with their colour range and matrix. File names
// reach it as files whatever they hold (a colon, a leading dash).
std::vector<std::string> encoderArguments(const EncoderJob &job);

// Its parts that depend on the output: the frames' input, and the codecs and
// container.
std::vector<std::string> pipeArguments(const EncoderJob &job);
std::vector<std::string> codecArguments(const EncoderJob &job);

// Below the renderer, not so far below that other work on the machine could
// starve the capture. llvmpipe's threads meet at a barrier every frame, so
// each time the encoder preempts one the other waits.
constexpr int ENCODER_NICENESS = 10;

// True if program is an executable file in one of PATH's folders.
bool programOnPath(const char *program);

// A name ffmpeg and ffprobe read as a file, never as a protocol or an option.
std::string fileArgument(const std::string &path);
