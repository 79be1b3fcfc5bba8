#include "tools/picture_options.h"

#include "tools/decimal.h"
#include "tools/encoder.h"

#include <cstdlib>
#include <cstring>

const char PICTURE_USAGE[] =
    "      --size WxH     draw the show at WxH, 4:3 with W a multiple of 4, up to 4096x3072\n"
    "                     (default 800x600), rather than scale its picture\n"
    "      --pad WxH      centre the picture on a black WxH canvas, such as 1920x1080 for a\n"
    "                     16:9 player (with --size 1440x1080 it fills the height)\n"
    "      --subframes N  make each frame the exact mean of N frames drawn at evenly spaced\n"
    "                     times through its interval, for motion blur (1 to 64, default 1)\n"
    "      --crf Q        the video's constant quality, lower is better: H.264 0 to 51\n"
    "                     (default 18), VP9 0 to 63 (default 31)\n"
    "      --lossless     a lossless video: FFV1 RGB and FLAC in .mkv, or H.264 4:4:4 and\n"
    "                     ALAC in .mp4\n";

namespace {

bool parseCount(const char *text, int low, int high, int *value) {
    if (std::strlen(text) > 3 || !isDecimal(text, false))
        return false;
    long n = std::strtol(text, nullptr, 10);
    if (n < low || n > high)
        return false;
    *value = (int)n;
    return true;
}

bool endsWith(const std::string &text, const char *tail) {
    size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

} // namespace

std::string takePictureOption(PictureOption option, const char *value, CaptureJob *job) {
    const std::string given = value ? value : "";
    FrameFormat &f = job->format;
    switch (option) {
    case OPTION_SIZE: {
        if (!parseSize(value, &f.width, &f.height))
            return "invalid size '" + given + "' for --size: use WxH, such as 1600x1200";
        std::string problem = pictureSizeProblem(f.width, f.height);
        return problem.empty() ? "" : "cannot draw at " + given + ": " + problem;
    }
    case OPTION_PAD:
        if (!parseSize(value, &job->padWidth, &job->padHeight) || job->padWidth > MAX_CANVAS_SIDE ||
            job->padHeight > MAX_CANVAS_SIDE || job->padWidth % 2 || job->padHeight % 2)
            return "invalid size '" + given + "' for --pad: use an even WxH up to " +
                   sizeText(MAX_CANVAS_SIDE, MAX_CANVAS_SIDE) + ", such as 1920x1080";
        return "";
    case OPTION_SUBFRAMES:
        if (!parseCount(value, 1, MAX_SUBFRAMES, &f.subframes))
            return "invalid count '" + given + "' for --subframes: use 1 to " +
                   std::to_string(MAX_SUBFRAMES);
        return "";
    case OPTION_CRF:
        if (!parseCount(value, 0, VP9_MAX_CRF, &job->quality.crf))
            return "invalid quality '" + given + "' for --crf: use 0 to 51 (H.264) or 63 (VP9)";
        return "";
    case OPTION_LOSSLESS:
    case PICTURE_OPTION_COUNT:
        job->quality.lossless = true;
        return "";
    }
    return "";
}

bool pictureOptionsGiven(const CaptureJob &job) {
    const CaptureJob defaults;
    return job.format.width != defaults.format.width || job.format.subframes != 1 ||
           job.padWidth > 0 || job.quality.crf >= 0 || job.quality.lossless;
}

std::string settlePicture(CaptureJob *job) {
    FrameFormat &f = job->format;
    if (job->padWidth > 0) {
        if (job->padWidth < f.width || job->padHeight < f.height)
            return "--pad " + sizeText(job->padWidth, job->padHeight) +
                   " is smaller than the picture, " + sizeText(f.width, f.height);
        f.canvasWidth = job->padWidth;
        f.canvasHeight = job->padHeight;
    } else {
        f.canvasWidth = f.width;
        f.canvasHeight = f.height;
    }
    const VideoQuality &q = job->quality;
    if (job->output != OUTPUT_VIDEO) {
        if (q.crf >= 0 || q.lossless)
            return std::string(q.lossless ? "--lossless" : "--crf") + " is for a video output";
        return "";
    }
    const bool webm = endsWith(job->path, ".webm");
    if (q.lossless && webm)
        return "--lossless writes .mkv (FFV1) or .mp4 (H.264 4:4:4), not .webm";
    if (q.lossless && q.crf >= 0)
        return "--lossless goes without --crf";
    if (!webm && q.crf > H264_MAX_CRF)
        return "--crf " + std::to_string(q.crf) + " is beyond H.264's 51";
    if (encoderPipe(job->path, q) == PIPE_YUV420 && f.height % 2)
        return "a 4:2:0 video needs an even height: draw at a width that is a multiple of 8, "
               "or use --lossless";
    return "";
}
