// The video encoder: ffmpeg as a child process, fed raw frames on a pipe and
// the soundtrack from a file, writing the container the output's name asks
// for (.mp4 and .mkv: H.264 and AAC; .webm: VP9 and Opus).
#pragma once

#include "tools/frame_clock.h"

#include <string>
#include <sys/types.h>
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
// 4:2:0 studio-range BT.601 planes (see toYuv420).
std::vector<std::string> encoderArguments(const EncoderJob &job);

// True if program is an executable file in one of PATH's folders.
bool programOnPath(const char *program);

// The encoder's child process. Whatever way the object goes, its child is
// waited for: killed first unless finish() has let it end by itself.
class EncoderProcess {
  public:
    EncoderProcess() = default;
    EncoderProcess(const EncoderProcess &) = delete;
    EncoderProcess &operator=(const EncoderProcess &) = delete;
    ~EncoderProcess() { abandon(); }

    // Starts arguments[0] from PATH reading its stdin from a pipe, below the
    // renderer in priority. False with errno set.
    bool start(const std::vector<std::string> &arguments);

    // Writes to its stdin. False with errno set (EPIPE if it has gone).
    bool write(const void *data, size_t size);

    // Closes its stdin and waits for it; true if it exited with status 0.
    bool finish();

    // Kills and reaps it, if it runs.
    void abandon();

  private:
    pid_t pid_ = -1;
    int input_ = -1;
};
