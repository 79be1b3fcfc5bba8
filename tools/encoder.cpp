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
    std::vector<std::string> args = {"ffmpeg",    "-nostdin", "-hide_banner",
                                     "-loglevel", "error",    "-y"};
    std::vector<std::string> input = pipeArguments(job);
    args.insert(args.end(), input.begin(), input.end());
    // The soundtrack from the same moment on, no longer than the picture.
    args.insert(args.end(), {"-ss", secondsText(job.from), "-t", secondsText(job.length), "-f",
                             "wav", "-i", fileArgument(job.soundtrack)});
    args.insert(args.end(), {"-map", "0:v", "-map", "1:a?"});
    std::vector<std::string> codecs = codecArguments(job);
    args.insert(args.end(), codecs.begin(), codecs.end());
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
