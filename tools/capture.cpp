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
#include <new>

static int writeSoundtrack(const std::string &path) {
    writeWaveHeader();
    renderMusic(waveImage.samples);
    return writeFileAtomically(path, &waveImage, sizeof waveImage) ? STATUS_OK : STATUS_FAILED;
}

// Output to stdout that could not be written (a full disk, a closed pipe, a
// stdout the program was started without) is a failure, not a success.
static int finishStdout(int status, bool printed) {
    int error = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        error = errno;
    else if (printed && namedDescriptor("/dev/stdout") == -2)
        error = EBADF;
    if (error) {
        platformSay("write error: %s", std::strerror(error));
        return STATUS_FAILED;
    }
    return status;
}

int main(int argc, char **argv) {
    // Before platformStart puts /dev/null on any it was started without.
    noteStartingDescriptors();
    // Ctrl+C, SIGTERM and every other signal that would end the process stop
    // the capture, which then removes what it began and ends by the same signal.
    platformStart(CAPTURE_PROGRAM);
    int status = STATUS_FAILED;
    bool printed = false; // --help or --version
    // Out of memory unwinds through everything the capture holds, which
    // removes its temporaries on the way.
    try {
        CaptureOptions options;
        status = parseCaptureOptions(argc, argv, &options);
        printed = status == STATUS_OK;
        if (status < 0)
            status = options.soundtrack.empty() ? runCapture(options.job)
                                                : writeSoundtrack(options.soundtrack);
    } catch (const std::bad_alloc &) {
        platformSay("out of memory");
        status = STATUS_FAILED;
    }
    platformExit(finishStdout(status, printed));
}
