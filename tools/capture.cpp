// pelmira-capture: renders what the show plays, frame-exactly and without a
// display or a sound device, and writes it to files.
#include "music/synth.h"
#include "music/wave_image.h"
#include "platform/platform.h"
#include "tools/capture_options.h"
#include "tools/temp_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

static int writeSoundtrack(const std::string &path) {
    writeWaveHeader();
    renderMusic(waveImage.samples);
    if (!writeFileAtomically(path, &waveImage, sizeof waveImage)) {
        if (!platformEndSignal())
            reportCannotWrite(path, errno);
        return STATUS_FAILED;
    }
    return STATUS_OK;
}

// Output to stdout that could not be written (a full disk, a closed pipe) is
// a failure, not a success.
static int finishStdout(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        platformSay("write error: %s", std::strerror(errno));
        return STATUS_FAILED;
    }
    return status;
}

int main(int argc, char **argv) {
    // Ctrl+C, SIGTERM and the like stop the capture, which then removes what
    // it began and ends by the same signal.
    platformStart(CAPTURE_PROGRAM);
    CaptureOptions options;
    int status = parseCaptureOptions(argc, argv, &options);
    if (status < 0)
        status = options.soundtrack.empty() ? runCapture(options.job)
                                            : writeSoundtrack(options.soundtrack);
    platformExit(finishStdout(status));
}
