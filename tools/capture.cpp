// pelmira-capture: renders what the show plays, frame-exactly and without a
// display or a sound device, and writes it to files.
#include "music/synth.h"
#include "music/wave_image.h"
#include "tools/capture_frames.h"
#include "tools/output_file.h"

#include <SDL.h>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static const char PROGRAM[] = "pelmira-capture";

enum ExitStatus { STATUS_OK = 0, STATUS_FAILED = 1, STATUS_USAGE = 2 };

static const double SHOW_SECONDS = 31.0;

struct Options {
    std::string output;
    bool soundOnly = false; // a .wav
    CaptureJob job;
    double from = 0.0, to = SHOW_SECONDS, at = -1.0;
    bool fromGiven = false, toGiven = false;
};

static void printUsage() {
    std::printf(
        "Usage: %s [OPTION]... OUTPUT\n"
        "Render pelmira frame-exactly and without a display, with its soundtrack.\n"
        "\n"
        "OUTPUT names what is written:\n"
        "  NAME.wav          the soundtrack, byte for byte the RIFF/WAVE image the show plays\n"
        "  NAME.png          one frame, chosen with --at\n"
        "  frames/%%05d.png   a PNG for every frame, numbered from 0 at the show's start\n"
        "  NAME.mp4, NAME.mkv, NAME.webm\n"
        "                    a video with the soundtrack (needs ffmpeg)\n"
        "\n"
        "      --fps RATE     frames per second, such as 60 (the default), 30 or 60000/1001\n"
        "      --from S       begin with the first frame at or after S seconds\n"
        "      --to S         end before the first frame at or after S seconds (default 31)\n"
        "      --at S         with NAME.png: the frame on screen at S seconds\n"
        "      --hashes FILE  write a hash of every frame and of the soundtrack to FILE\n"
        "      --verify FILE  render and compare with a --hashes FILE; report the first\n"
        "                     difference and exit 1 on a mismatch\n"
        "      --help         display this help and exit\n"
        "      --version      output version information and exit\n"
        "\n"
        "OUTPUT may be left out with --hashes or --verify. Frame k is what the show draws\n"
        "when its clock reads k * 1000 / RATE ms, rounded, every frame drawn in order from\n"
        "the first. Files are written under a temporary name beside them and renamed once\n"
        "complete, so an interrupted or failed capture leaves no partial file.\n"
        "\n"
        "Exit status: 0 on success, 1 on a failure or a mismatch, 2 on a bad command line.\n",
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

static bool endsWith(const std::string &text, const char *tail) {
    size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

static bool parseSeconds(const std::string &text, double *seconds) {
    char *end = nullptr;
    errno = 0;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || errno || !std::isfinite(value) || value < 0.0 ||
        value > SHOW_SECONDS)
        return false;
    *seconds = value;
    return true;
}

// Checks the options against each other and the output's kind.
static int settleOutput(Options &o) {
    CaptureJob &job = o.job;
    const std::string &out = o.output;
    bool framesAsked = o.fromGiven || o.toGiven || o.at >= 0.0;
    if (out.empty()) {
        if (job.hashes.empty() && job.verify.empty())
            return usageError("missing output file operand");
        if (o.at >= 0.0)
            return usageError("--at needs a .png output");
        job.output = OUTPUT_NONE;
    } else if (endsWith(out, ".wav")) {
        if (framesAsked || !job.hashes.empty() || !job.verify.empty())
            return usageError("a .wav output takes no frame options");
        o.soundOnly = true;
        return -1;
    } else if (out.find('%') != std::string::npos) {
        if (!isFramePattern(out) || !endsWith(out, ".png"))
            return usageError("'" + out +
                              "' is not a frame pattern: use one %d (such as %05d) and .png");
        if (o.at >= 0.0)
            return usageError("--at takes a single .png, not a pattern");
        job.output = OUTPUT_PNG_SEQUENCE;
    } else if (endsWith(out, ".png")) {
        if (o.at < 0.0)
            return usageError("a single .png needs --at SECONDS (or use a pattern such as "
                              "frames/%05d.png)");
        if (o.fromGiven || o.toGiven)
            return usageError("--at goes without --from and --to");
        job.output = OUTPUT_PNG;
    } else if (endsWith(out, ".mp4") || endsWith(out, ".mkv") || endsWith(out, ".webm")) {
        if (o.at >= 0.0)
            return usageError("--at needs a .png output");
        job.output = OUTPUT_VIDEO;
    } else {
        return usageError("cannot tell what to write to '" + out +
                          "': use .wav, .png, a %05d.png pattern, .mp4, .mkv or .webm");
    }
    job.path = out;
    if (o.at >= 0.0) {
        if (o.at >= SHOW_SECONDS)
            return usageError("--at must be before the show's end at 31 s");
        job.first = frameShownAt(o.at, job.rate);
        job.end = job.first + 1;
    } else {
        if (o.from >= o.to)
            return usageError("--from must be before --to");
        job.first = frameAtOrAfter(o.from, job.rate);
        job.end = o.toGiven ? frameAtOrAfter(o.to, job.rate) : -1;
    }
    return -1;
}

// Fills options from the command line. Returns -1 to go on, or the status to
// exit with at once (after --help, --version or a usage error).
static int parseArguments(int argc, char **argv, Options &o) {
    bool optionsEnded = false;
    int operands = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (arg.empty())
                return usageError("output file name is empty");
            if (operands++ > 0)
                return usageError("extra operand '" + arg + "'");
            o.output = arg;
            continue;
        }
        if (arg == "--help") {
            printUsage();
            return STATUS_OK;
        }
        if (arg == "--version") {
            printVersion();
            return STATUS_OK;
        }
        if (arg[1] != '-')
            return usageError("invalid option -- '" + arg.substr(1, 1) + "'");
        // --name VALUE or --name=VALUE
        std::string name = arg, value;
        size_t equals = arg.find('=');
        bool inlineValue = equals != std::string::npos;
        if (inlineValue) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        const char *known[] = {"--fps", "--from", "--to", "--at", "--hashes", "--verify"};
        bool takesValue = false;
        for (const char *k : known)
            takesValue = takesValue || name == k;
        if (!takesValue)
            return usageError(inlineValue && (name == "--help" || name == "--version")
                                  ? "option '" + name + "' doesn't allow an argument"
                                  : "unrecognized option '" + arg + "'");
        if (!inlineValue) {
            if (i + 1 >= argc)
                return usageError("option '" + name + "' requires an argument");
            value = argv[++i];
        }
        if (name == "--fps") {
            if (!parseFrameRate(value.c_str(), &o.job.rate))
                return usageError("invalid frame rate '" + value +
                                  "': use a positive number such as 60 or 60000/1001");
        } else if (name == "--hashes" || name == "--verify") {
            if (value.empty())
                return usageError("option '" + name + "' needs a file name");
            (name == "--hashes" ? o.job.hashes : o.job.verify) = value;
        } else {
            double seconds = 0.0;
            if (!parseSeconds(value, &seconds))
                return usageError("invalid time '" + value + "' for " + name +
                                  ": use seconds from 0 to 31");
            if (name == "--from") {
                o.from = seconds;
                o.fromGiven = true;
            } else if (name == "--to") {
                o.to = seconds;
                o.toGiven = true;
            } else {
                o.at = seconds;
            }
        }
    }
    return settleOutput(o);
}

static int writeSoundtrack(const std::string &path) {
    renderMusic(waveImage.samples);
    if (!writeFileAtomically(path, &waveImage, sizeof waveImage)) {
        reportCannotWrite(path, errno);
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

static void onInterrupt(int signal) {
    captureInterrupt = signal;
}

int main(int argc, char **argv) {
    static Options options;
    const int status = parseArguments(argc, argv, options);
    if (status >= 0)
        return finishStdout(status);
    if (options.soundOnly)
        return finishStdout(writeSoundtrack(options.output));

    // Ctrl+C and SIGTERM stop the capture, which then removes what it began
    // and ends by the same signal. SDL would swallow them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN); // a dead encoder is seen as a failed write

    int result = runCapture(options.job);
    if (captureInterrupt) {
        std::signal(captureInterrupt, SIG_DFL);
        std::raise(captureInterrupt);
    }
    return finishStdout(result);
}
