#include "tools/encoder.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

static std::string secondsText(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", s);
    return text;
}

std::vector<std::string> encoderArguments(const EncoderJob &job) {
    std::string ext = job.output.substr(job.output.rfind('.') + 1);
    std::string rate = std::to_string(job.rate.num) + "/" + std::to_string(job.rate.den);
    std::string size = std::to_string(job.width) + "x" + std::to_string(job.height);
    std::vector<std::string> args = {"ffmpeg",    "-nostdin", "-hide_banner",
                                     "-loglevel", "error",    "-y"};
    args.insert(args.end(),
                {"-f", "rawvideo", "-pix_fmt", "yuv420p", "-color_range", "tv", "-colorspace",
                 "bt470bg", "-s", size, "-framerate", rate, "-i", "pipe:0"});
    // The soundtrack from the same moment on, no longer than the picture.
    args.insert(args.end(), {"-ss", secondsText(job.from), "-t", secondsText(job.length), "-f",
                             "wav", "-i", fileArgument(job.soundtrack)});
    args.insert(args.end(), {"-map", "0:v", "-map", "1:a?"});
    if (ext == "webm")
        args.insert(args.end(),
                    {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-row-mt",
                     "1", "-b:v", "4M", "-c:a", "libopus", "-b:a", "128k", "-f", "webm"});
    else
        args.insert(args.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-crf", "18", "-c:a",
                                 "aac", "-b:a", "192k"});
    if (ext == "mkv")
        args.insert(args.end(), {"-f", "matroska"});
    else if (ext == "mp4")
        args.insert(args.end(), {"-movflags", "+faststart", "-f", "mp4"});
    args.push_back(fileArgument(job.temp));
    return args;
}

bool programOnPath(const char *program) {
    const char *path = std::getenv("PATH");
    if (!path)
        return false;
    std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t colon = dirs.find(':', start);
        if (colon == std::string::npos)
            colon = dirs.size();
        std::string dir = dirs.substr(start, colon - start);
        if (dir.empty())
            dir = ".";
        if (access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
        start = colon + 1;
    }
    return false;
}

std::string fileArgument(const std::string &path) {
    return "file:" + path;
}
