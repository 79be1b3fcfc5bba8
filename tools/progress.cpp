#include "tools/progress.h"

#include "platform/platform.h"

#include <cstdio>
#include <unistd.h>

Progress::Progress(long leadIn, long frames)
    : leadIn_(leadIn), frames_(frames), enabled_(isatty(2) != 0), began_(Clock::now()),
      writingBegan_(began_), shown_(began_) {}

void Progress::drawn(long done) {
    if (!enabled_)
        return;
    Clock::time_point now = Clock::now();
    if (done == leadIn_)
        writingBegan_ = now;
    // Four times a second is enough to read and costs nothing to draw.
    if (now - shown_ >= std::chrono::milliseconds(250))
        show(done, now);
}

// Rates count from the start of the current stage: frames that are only drawn
// go faster than frames that are also read back and written.
void Progress::show(long done, Clock::time_point now) {
    shown_ = now;
    const bool writing = done > leadIn_;
    const long from = writing ? leadIn_ : 0;
    const double seconds =
        std::chrono::duration<double>(now - (writing ? writingBegan_ : began_)).count();
    const double fps = seconds > 0 ? (done - from) / seconds : 0;
    const long left = fps > 0 ? (long)((leadIn_ + frames_ - done) / fps + 0.5) : 0;
    char stage[96];
    if (writing)
        std::snprintf(stage, sizeof stage, "frame %ld/%ld", done - leadIn_, frames_);
    else
        std::snprintf(stage, sizeof stage, "drawing the frames before the first: %ld/%ld", done,
                      leadIn_);
    // \033[K clears what a longer line left.
    std::fprintf(stderr, "\r  %s  %.1f fps  %ld:%02ld left\033[K", stage, fps, left / 60,
                 left % 60);
    lineShown_ = true;
}

void Progress::finish() {
    if (lineShown_)
        std::fprintf(stderr, "\r\033[K");
    lineShown_ = false;
}

double Progress::seconds() const {
    return std::chrono::duration<double>(Clock::now() - began_).count();
}

std::string bytesText(long long bytes) {
    char text[32];
    if (bytes < 1000)
        std::snprintf(text, sizeof text, "%lld bytes", bytes);
    else if (bytes < 1000000)
        std::snprintf(text, sizeof text, "%lld kB", (bytes + 500) / 1000);
    else
        std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    return text;
}

void sayCaptured(long frames, long leadIn, double seconds, const std::vector<WrittenFile> &files) {
    char before[64] = "";
    if (leadIn > 0)
        std::snprintf(before, sizeof before, ", %ld drawn before %s", leadIn,
                      frames == 1 ? "it" : "them");
    std::string written;
    for (const WrittenFile &file : files)
        written += (written.empty() ? ": " : ", ") + file.path + " " + bytesText(file.bytes);
    platformSay("%ld frame%s in %.1f s (%.1f fps)%s%s", frames, frames == 1 ? "" : "s", seconds,
                seconds > 0 ? frames / seconds : 0.0, before, written.c_str());
}
