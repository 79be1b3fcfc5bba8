// What ffmpeg is told about the frames it is fed and how it is to encode
// them: the parts of encoderArguments that depend on the output's kind.
#include "tools/encoder.h"

namespace {

std::string extensionOf(const std::string &output) {
    size_t dot = output.rfind('.');
    return dot == std::string::npos ? "" : output.substr(dot + 1);
}

// What the pixels are: BT.601 values (or RGB) of sRGB colours, which is what
// the show puts on screen, so a colour-managed player changes nothing.
void addColourTags(std::vector<std::string> *args, FramePipe pipe) {
    args->insert(args->end(), {"-color_range", pipe == PIPE_YUV420 ? "tv" : "pc", "-colorspace",
                               pipe == PIPE_BGR0 ? "rgb" : "bt470bg", "-color_primaries", "bt709",
                               "-color_trc", "iec61966-2-1"});
}

// FFV1 holds each slice of an RGB frame to 2^27 bytes of its working form (9
// bits by 3 planes a pixel), in v rows of h = v to 2v - 1 slices: four
// slices up to about 4.9 megapixels, then as few more as that takes.
int ffv1Slices(int width, int height) {
    for (int v = 2;; ++v)
        for (int h = v; h < 2 * v; ++h)
            if ((long long)((width + h - 1) / h) * ((height + v - 1) / v) * 9 * 3 <= 8LL << 24)
                return h * v;
}

} // namespace

FramePipe encoderPipe(const std::string &output, const VideoQuality &quality) {
    if (!quality.lossless)
        return PIPE_YUV420;
    return extensionOf(output) == "mkv" ? PIPE_BGR0 : PIPE_YUV444;
}

size_t pipeFrameBytes(FramePipe pipe, int width, int height) {
    const size_t pixels = (size_t)width * height;
    return pipe == PIPE_YUV420 ? pixels * 3 / 2 : pipe == PIPE_YUV444 ? pixels * 3 : pixels * 4;
}

std::vector<std::string> pipeArguments(const EncoderJob &job) {
    static const char *const FORMATS[] = {"yuv420p", "yuv444p", "bgr0"};
    FramePipe pipe = encoderPipe(job.output, job.quality);
    std::vector<std::string> args = {"-f", "rawvideo", "-pix_fmt", FORMATS[pipe]};
    addColourTags(&args, pipe);
    args.insert(args.end(),
                {"-s", std::to_string(job.width) + "x" + std::to_string(job.height), "-framerate",
                 std::to_string(job.rate.num) + "/" + std::to_string(job.rate.den), "-i",
                 "pipe:0"});
    return args;
}

std::vector<std::string> codecArguments(const EncoderJob &job) {
    const std::string ext = extensionOf(job.output);
    const int crf = job.quality.crf;
    if (ext == "webm")
        return {"-c:v",      "libvpx-vp9",
                "-deadline", "realtime",
                "-cpu-used", "8",
                "-row-mt",   "1",
                "-crf",      std::to_string(crf < 0 ? VP9_DEFAULT_CRF : crf),
                "-b:v",      "0",
                "-c:a",      "libopus",
                "-b:a",      "128k",
                "-f",        "webm"};
    std::vector<std::string> args;
    if (job.quality.lossless && ext == "mkv")
        // Intra only, in slices that encode in parallel and carry checksums:
        // the usual form for keeping video.
        args = {"-c:v",      "ffv1", "-level",  "3",
                "-g",        "1",    "-slices", std::to_string(ffv1Slices(job.width, job.height)),
                "-slicecrc", "1",    "-c:a",    "flac"};
    else if (job.quality.lossless)
        args = {"-c:v", "libx264", "-preset", "ultrafast", "-qp", "0", "-c:a", "alac"};
    else
        // ultrafast with the High profile's CABAC, 8x8 transform and B-frames:
        // a fifth smaller at the same quality for a fifth more encoder time.
        args = {"-c:v",         "libx264",
                "-preset",      "ultrafast",
                "-x264-params", "cabac=1:8x8dct=1:bframes=3",
                "-crf",         std::to_string(crf < 0 ? H264_DEFAULT_CRF : crf),
                "-c:a",         "aac",
                "-b:a",         "192k"};
    if (ext == "mkv")
        args.insert(args.end(), {"-f", "matroska"});
    else
        args.insert(args.end(), {"-movflags", "+faststart", "-f", "mp4"});
    return args;
}
