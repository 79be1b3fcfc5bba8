#include "tools/video_check.h"

#include "tools/child_process.h"
#include "tools/encoder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <sys/stat.h>

std::string checkVideo(const std::string &path, long frames, bool withSound) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && st.st_size == 0)
        return "it is empty";
    ChildProcess probe;
    std::string report;
    // Counting packets reads the container's index, or demuxes, no decoding.
    if (!probe.start({"ffprobe", "-v", "quiet", "-count_packets", "-show_entries",
                      "stream=codec_type,nb_read_packets", "-of", "csv=p=0", fileArgument(path)},
                     false, true))
        return std::string("cannot start ffprobe: ") + std::strerror(errno);
    if (!probe.wait(&report)) {
        char text[64];
        std::snprintf(text, sizeof text, "%g", childStallSeconds());
        if (errno == EINTR)
            return "interrupted";
        if (errno == ETIMEDOUT)
            return std::string("ffprobe gave no answer for ") + text + " s; stopped it";
        if (errno == EMSGSIZE)
            return "ffprobe said more than a report holds; stopped it";
        return "ffprobe cannot read it: it " + probe.endText();
    }
    long videoPackets = -1;
    bool sound = false;
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        size_t comma = line.find(',');
        std::string type = line.substr(0, comma);
        if (type == "video" && comma != std::string::npos)
            videoPackets = std::atol(line.c_str() + comma + 1);
        sound = sound || type == "audio";
    }
    if (videoPackets < 0)
        return "it holds no video stream";
    if (videoPackets != frames)
        return "it holds " + std::to_string(videoPackets) + " of the " + std::to_string(frames) +
               " frames";
    if (withSound && !sound)
        return "it holds no sound";
    return "";
}
