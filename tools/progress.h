// What a capture says about itself on stderr: on a terminal, a progress line
// redrawn in place (frames, rate, time left), also while it draws the few
// frames that only set the render state for the first it writes; at the end,
// one summary line.
#pragma once

#include <chrono>
#include <string>
#include <vector>

class Progress {
  public:
    // leadIn frames are only drawn, then frames are written.
    // Shown only if stderr is a terminal.
    Progress(long leadIn, long frames);

    // done of the leadIn + frames have been drawn.
    void drawn(long done);

    // Clears the line, if one is shown.
    void finish();

    // Seconds since the progress began.
    double seconds() const;

  private:
    using Clock = std::chrono::steady_clock;
    void show(long done, Clock::time_point now);

    long leadIn_, frames_;
    bool enabled_;
    bool lineShown_ = false;
    Clock::time_point began_, writingBegan_, shown_;
};

struct WrittenFile {
    std::string path;
    long long bytes;
};

// "N frames in S s (R fps), M drawn before them: PATH, SIZE" as the
// program's one line; M, the lead-in, is left out when it is 0.
void sayCaptured(long frames, long leadIn, double seconds, const std::vector<WrittenFile> &files);

// A size in bytes as people read it: "812 kB", "10.3 MB".
std::string bytesText(long long bytes);
