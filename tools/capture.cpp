// pelmira-capture: renders what the show plays, without a display or a sound
// device, and writes it to files.
#include "music/synth.h"
#include "music/wave_image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static const char PROGRAM[] = "pelmira-capture";

enum ExitStatus { STATUS_OK = 0, STATUS_FAILED = 1, STATUS_USAGE = 2 };

struct Options {
    std::string wavePath; // where the soundtrack goes
};

static void printUsage() {
    std::printf("Usage: %s [OPTION]... FILE\n"
                "Render pelmira's soundtrack and write it to FILE as the RIFF/WAVE image the\n"
                "show plays, byte for byte (PCM, mono, 16-bit, 44100 Hz, about 29.7 s).\n"
                "No display or sound device is used.\n"
                "\n"
                "      --help     display this help and exit\n"
                "      --version  output version information and exit\n"
                "\n"
                "FILE is written under a temporary name beside it and renamed into place once\n"
                "complete, so it never holds a partial image.\n"
                "\n"
                "Exit status: 0 on success, 1 if the file cannot be written, 2 on a bad\n"
                "command line.\n",
                PROGRAM);
}

static void printVersion() {
    std::printf("%s (pelmira) %s\n", PROGRAM, PELMIRA_VERSION);
}

// One line saying what is wrong with the command line, then where to look.
static int usageError(const std::string &message) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", PROGRAM,
                 message.c_str(), PROGRAM);
    return STATUS_USAGE;
}

// Fills options from the command line. Returns -1 to go on, or the status to
// exit with at once (after --help, --version or a usage error).
static int parseArguments(int argc, char **argv, Options &options) {
    bool optionsEnded = false;
    int operands = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "--help") {
            printUsage();
            return STATUS_OK;
        } else if (!optionsEnded && arg == "--version") {
            printVersion();
            return STATUS_OK;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return usageError(arg[1] == '-' ? "unrecognized option '" + arg + "'"
                                            : "invalid option -- '" + arg.substr(1, 1) + "'");
        } else if (arg.empty()) {
            return usageError("output file name is empty");
        } else if (operands++ == 0) {
            options.wavePath = arg;
        } else {
            return usageError("extra operand '" + arg + "'");
        }
    }
    if (operands == 0) {
        return usageError("missing output file operand");
    }
    return -1;
}

static bool writeAll(int fd, const unsigned char *data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

// Writes data to path so that path holds either its old content or all of
// the new, never a part: the bytes go to a new file in the same folder, which
// is renamed over path only once written and flushed. On failure the
// temporary file is removed and error says why (strerror).
static bool writeFileAtomically(const std::string &path, const void *data, size_t size,
                                std::string &error) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(&temporary[0]);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private; give it the mode a plain create would.
    const mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(fd, 0666 & ~mask) == 0 &&
              writeAll(fd, static_cast<const unsigned char *>(data), size) && fsync(fd) == 0;
    int savedErrno = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        unlink(temporary.c_str());
        error = std::strerror(savedErrno);
    }
    return ok;
}

static int writeSoundtrack(const std::string &path) {
    renderMusic(waveImage.samples);
    std::string error;
    if (!writeFileAtomically(path, &waveImage, sizeof waveImage, error)) {
        std::fprintf(stderr, "%s: cannot write '%s': %s\n", PROGRAM, path.c_str(), error.c_str());
        return STATUS_FAILED;
    }
    return STATUS_OK;
}

// Output to stdout that could not be written (a full disk, a closed pipe) is
// a failure, not a success.
static int finishStdout(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: write error: %s\n", PROGRAM, std::strerror(errno));
        return STATUS_FAILED;
    }
    return status;
}

int main(int argc, char **argv) {
    Options options;
    const int status = parseArguments(argc, argv, options);
    if (status >= 0) {
        return finishStdout(status);
    }
    return finishStdout(writeSoundtrack(options.wavePath));
}
