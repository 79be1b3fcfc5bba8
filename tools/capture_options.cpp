#include "tools/capture_options.h"

#include "platform/platform.h"
#include "show/demo_main.h"
#include "tools/child_process.h"
#include "tools/decimal.h"
#include "tools/picture_options.h"
#include "tools/temp_file.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

namespace {

// Values of the long options, outside the range of short option letters.
enum { OPT_FPS = 256, OPT_FROM, OPT_TO, OPT_AT, OPT_HASHES, OPT_VERIFY, OPT_HELP, OPT_VERSION };
// Then --size, --pad, --subframes, --crf and --lossless, in PictureOption's order.
enum { OPT_PICTURE = 512 };

const struct option LONG_OPTIONS[] = {
    {"fps", required_argument, nullptr, OPT_FPS},
    {"from", required_argument, nullptr, OPT_FROM},
    {"to", required_argument, nullptr, OPT_TO},
    {"at", required_argument, nullptr, OPT_AT},
    {"hashes", required_argument, nullptr, OPT_HASHES},
    {"verify", required_argument, nullptr, OPT_VERIFY},
    {"help", no_argument, nullptr, OPT_HELP},
    {"version", no_argument, nullptr, OPT_VERSION},
    {"size", required_argument, nullptr, OPT_PICTURE + OPTION_SIZE},
    {"pad", required_argument, nullptr, OPT_PICTURE + OPTION_PAD},
    {"subframes", required_argument, nullptr, OPT_PICTURE + OPTION_SUBFRAMES},
    {"crf", required_argument, nullptr, OPT_PICTURE + OPTION_CRF},
    {"lossless", no_argument, nullptr, OPT_PICTURE + OPTION_LOSSLESS},
    {nullptr, 0, nullptr, 0},
};

void printUsage() {
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
        "      --fps RATE     frames per second up to 1000, such as 60 (the default), 30 or\n"
        "                     60000/1001\n"
        "      --from S       begin with the first frame at or after S seconds\n"
        "      --to S         end before the first frame at or after S seconds (default %g)\n"
        "      --at S         with NAME.png: the frame on screen at S seconds\n"
        "      --hashes FILE  write a hash of every frame and of the soundtrack to FILE\n"
        "      --verify FILE  render and compare with a --hashes FILE; report the first\n"
        "                     difference and exit 1 on a mismatch\n"
        "%s"
        "      --help         display this help and exit\n"
        "      --version      output version information and exit\n"
        "\n"
        "OUTPUT may be left out with --hashes or --verify. Frame k is what the show draws\n"
        "when its clock reads k * 1000 / RATE ms, rounded, after every frame before it; a\n"
        "capture that begins later reaches the same state drawing at most five frames before\n"
        "the first. Files are written under a temporary name beside them and renamed once\n"
        "complete, so an interrupted or failed capture leaves no partial file (only\n"
        "SIGKILL can leave a temporary behind); a device or a pipe is written in place\n"
        "once the bytes are complete, and /dev/stdout or /dev/fd/N through the\n"
        "descriptor it names. A video is put in place only once ffprobe reads back\n"
        "every frame.\n"
        "\n"
        "Environment: PELMIRA_ENCODER_TIMEOUT, seconds ffmpeg may take no frame or keep\n"
        "running after the last one before the capture stops it (0.1 to 86400, default\n"
        "60).\n"
        "\n"
        "Exit status: 0 on success, 1 on a failure or a mismatch, 2 on a bad command line.\n",
        CAPTURE_PROGRAM, (double)SHOW_LENGTH, PICTURE_USAGE);
}

// One line saying what is wrong with the command line, then where to look.
int usageError(const std::string &message) {
    platformSay("%s", message.c_str());
    std::fprintf(stderr, "Try '%s --help' for more information.\n", CAPTURE_PROGRAM);
    return STATUS_USAGE;
}

bool endsWith(const std::string &text, const char *tail) {
    size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

bool parseSeconds(const char *text, double *seconds) {
    if (!isDecimal(text, true))
        return false;
    double value = std::strtod(text, nullptr);
    if (value > SHOW_LENGTH)
        return false;
    *seconds = value;
    return true;
}

// True if the hash file would overwrite the output or one of its frames.
bool sharesAFile(const CaptureOptions &o) {
    const CaptureJob &job = o.job;
    if (job.hashes.empty())
        return false;
    if (job.output != OUTPUT_PNG_SEQUENCE)
        return sameFile(job.path, job.hashes);
    for (long k = 0, total = showFrames(job.rate); k < total; ++k)
        if (sameFile(frameName(job.path, k), job.hashes))
            return true;
    return false;
}

// The times asked for, before they are turned into frames.
struct Times {
    double from = 0.0, to = SHOW_LENGTH, at = -1.0;
    bool fromGiven = false, toGiven = false;
};

// Checks the options against each other and the output's kind, and turns
// the times into frames.
int settleOutput(const std::string &out, const Times &times, CaptureOptions *o) {
    CaptureJob &job = o->job;
    bool framesAsked = times.fromGiven || times.toGiven || times.at >= 0.0;
    if (out.empty()) {
        if (job.hashes.empty() && job.verify.empty())
            return usageError("missing output file operand");
        if (times.at >= 0.0)
            return usageError("--at needs a .png output");
        job.output = OUTPUT_NONE;
    } else if (endsWith(out, ".wav")) {
        if (framesAsked || !job.hashes.empty() || !job.verify.empty() || pictureOptionsGiven(job))
            return usageError("a .wav output takes no frame options");
        o->soundtrack = out;
        return -1;
    } else if (out.find('%') != std::string::npos) {
        if (!isFramePattern(out) || !endsWith(out, ".png"))
            return usageError("'" + out +
                              "' is not a frame pattern: use one %d (such as %05d, width at "
                              "most " +
                              std::to_string(MAX_FRAME_WIDTH) + ") and .png");
        if (frameName(out, showFrames(job.rate)).empty())
            return usageError("'" + out + "' makes frame names too long");
        if (times.at >= 0.0)
            return usageError("--at takes a single .png, not a pattern");
        job.output = OUTPUT_PNG_SEQUENCE;
    } else if (endsWith(out, ".png")) {
        if (times.at < 0.0)
            return usageError("a single .png needs --at SECONDS (or use a pattern such as "
                              "frames/%05d.png)");
        if (times.fromGiven || times.toGiven)
            return usageError("--at goes without --from and --to");
        job.output = OUTPUT_PNG;
    } else if (endsWith(out, ".mp4") || endsWith(out, ".mkv") || endsWith(out, ".webm")) {
        if (times.at >= 0.0)
            return usageError("--at needs a .png output");
        const char *timeout = std::getenv("PELMIRA_ENCODER_TIMEOUT");
        double seconds;
        if (timeout && *timeout && !parseStallSeconds(timeout, &seconds))
            return usageError(std::string("invalid PELMIRA_ENCODER_TIMEOUT '") + timeout +
                              "': use seconds from 0.1 to 86400");
        job.output = OUTPUT_VIDEO;
    } else {
        return usageError("cannot tell what to write to '" + out +
                          "': use .wav, .png, a %05d.png pattern, .mp4, .mkv or .webm");
    }
    job.path = out;
    if (sharesAFile(*o))
        return usageError("'" + out + "' and '" + job.hashes + "' are the same file");
    std::string problem = settlePicture(&job);
    if (!problem.empty())
        return usageError(problem);
    if (times.at >= 0.0) {
        if (times.at >= SHOW_LENGTH)
            return usageError("--at must be before the show's end");
        job.first = frameShownAt(times.at, job.rate);
        job.end = job.first + 1;
    } else {
        if (times.from >= times.to)
            return usageError("--from must be before --to");
        job.first = frameAtOrAfter(times.from, job.rate);
        job.end = times.toGiven ? frameAtOrAfter(times.to, job.rate) : -1;
    }
    return -1;
}

// What getopt_long found wrong, in GNU's words.
int optionError(int found, char **argv) {
    const char *given = argv[optind - 1];
    if (found == ':')
        return usageError(std::string("option '") + given + "' requires an argument");
    if (optopt >= OPT_FPS)
        return usageError(std::string("option '") + given + "' doesn't allow an argument");
    if (optopt)
        return usageError(std::string("invalid option -- '") + (char)optopt + "'");
    return usageError(std::string("unrecognized option '") + given + "'");
}

} // namespace

bool isFramePattern(const std::string &pattern) {
    int conversions = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%')
            continue;
        ++i;
        if (i < pattern.size() && pattern[i] == '%')
            continue;
        while (i < pattern.size() && (pattern[i] == '0' || pattern[i] == '-'))
            ++i;
        // A width printf cannot honour would give every frame one name.
        size_t digits = 0;
        int width = 0;
        for (; i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9'; ++i, ++digits)
            width = digits < 4 ? width * 10 + (pattern[i] - '0') : width;
        if (digits > 3 || width > MAX_FRAME_WIDTH)
            return false;
        if (i >= pattern.size() || (pattern[i] != 'd' && pattern[i] != 'i'))
            return false;
        ++conversions;
    }
    return conversions == 1;
}

std::string frameName(const std::string &pattern, long frame) {
    char name[PATH_MAX];
    int length = std::snprintf(name, sizeof name, pattern.c_str(), (int)frame);
    return length >= 0 && (size_t)length < sizeof name ? name : "";
}

int parseCaptureOptions(int argc, char **argv, CaptureOptions *o) {
    Times times;
    opterr = 0;
    optind = 0; // start afresh, also on a second call
    for (;;) {
        int found = getopt_long(argc, argv, ":", LONG_OPTIONS, nullptr);
        if (found == -1)
            break;
        const char *value = optarg;
        double *seconds = found == OPT_FROM ? &times.from : found == OPT_TO ? &times.to : &times.at;
        switch (found) {
        case OPT_HELP:
            printUsage();
            return STATUS_OK;
        case OPT_VERSION:
            std::printf("%s (pelmira) %s\n", CAPTURE_PROGRAM, PELMIRA_VERSION);
            return STATUS_OK;
        case OPT_FPS:
            if (!parseFrameRate(value, &o->job.rate))
                return usageError(std::string("invalid frame rate '") + value +
                                  "': use a positive number up to 1000 such as 60 or 60000/1001");
            break;
        case OPT_HASHES:
        case OPT_VERIFY:
            if (!*value)
                return usageError(std::string("option '--") + LONG_OPTIONS[found - OPT_FPS].name +
                                  "' needs a file name");
            (found == OPT_HASHES ? o->job.hashes : o->job.verify) = value;
            break;
        case OPT_FROM:
        case OPT_TO:
        case OPT_AT:
            if (!parseSeconds(value, seconds))
                return usageError(std::string("invalid time '") + value + "' for --" +
                                  LONG_OPTIONS[found - OPT_FPS].name + ": use seconds from 0 to " +
                                  std::to_string((int)SHOW_LENGTH));
            times.fromGiven |= found == OPT_FROM;
            times.toGiven |= found == OPT_TO;
            break;
        default:
            if (found < OPT_PICTURE || found >= OPT_PICTURE + PICTURE_OPTION_COUNT)
                return optionError(found, argv);
            std::string problem =
                takePictureOption((PictureOption)(found - OPT_PICTURE), value, &o->job);
            if (!problem.empty())
                return usageError(problem);
        }
    }
    if (optind < argc && !*argv[optind])
        return usageError("output file name is empty");
    if (argc - optind > 1)
        return usageError(std::string("extra operand '") + argv[optind + 1] + "'");
    return settleOutput(optind < argc ? argv[optind] : "", times, o);
}
