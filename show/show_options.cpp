#include "show/show_options.h"

#include "platform/platform.h"
#include "show/demo_main.h"
#include "show/display.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>

// Values of the long options, outside the range of short option letters.
enum { OPT_WINDOW = 256, OPT_DISPLAY, OPT_LOOP, OPT_MUTE, OPT_HELP, OPT_VERSION };

static const struct option LONG_OPTIONS[] = {
    {"window", optional_argument, nullptr, OPT_WINDOW},
    {"display", required_argument, nullptr, OPT_DISPLAY},
    {"loop", no_argument, nullptr, OPT_LOOP},
    {"mute", no_argument, nullptr, OPT_MUTE},
    {"help", no_argument, nullptr, OPT_HELP},
    {"version", no_argument, nullptr, OPT_VERSION},
    {nullptr, 0, nullptr, 0},
};

// Beyond any monitor made; keeps the sizes far from overflowing.
static const long LARGEST_WINDOW = 16384;

static void printUsage() {
    std::printf(
        "Usage: %s [OPTION]...\n"
        "Play pelmira, a 31-second real-time audiovisual show, full screen with its sound.\n"
        "\n"
        "      --window[=WxH]  play in a resizable window, %dx%d unless WxH is given;\n"
        "                      the picture keeps its 4:3 shape between black bars\n"
        "      --display N     use monitor N (0, 1, ... as the system lists them); the\n"
        "                      default is the monitor that holds the mouse pointer\n"
        "      --loop          start again from the beginning, music included, each\n"
        "                      time the show ends, until Escape\n"
        "      --mute          play without sound: no sound device is opened\n"
        "      --help          display this help and exit\n"
        "      --version       output version information and exit\n"
        "\n"
        "Escape, closing the window, Ctrl+C and SIGTERM end the show.\n"
        "\n"
        "Exit status: 0 when the show has ended or was ended, 1 if no window or OpenGL\n"
        "context could be had, 2 on a bad command line.\n",
        SHOW_PROGRAM, SCREEN_WIDTH, SCREEN_HEIGHT);
}

// What is wrong, and where to look, on one line. format takes given once.
static int usageError(const char *format, const char *given) {
    char what[256];
    std::snprintf(what, sizeof what, format, given);
    platformSay("%s; try '%s --help'", what, SHOW_PROGRAM);
    return STATUS_USAGE;
}

// A decimal number from 0 to largest and nothing else; end is where it stops.
static bool parseCount(const char *text, long largest, long *value, char **end) {
    if (*text < '0' || *text > '9')
        return false;
    errno = 0;
    *value = std::strtol(text, end, 10);
    return errno == 0 && *value <= largest;
}

static bool parseWindowSize(const char *text, ShowOptions *o) {
    long width, height;
    char *end;
    if (!parseCount(text, LARGEST_WINDOW, &width, &end) || *end != 'x' ||
        !parseCount(end + 1, LARGEST_WINDOW, &height, &end) || *end || width < 1 || height < 1)
        return false;
    o->windowWidth = (int)width;
    o->windowHeight = (int)height;
    return true;
}

// What getopt_long found wrong, in GNU's words.
static int optionError(int found, char **argv) {
    const char *given = argv[optind - 1];
    if (found == ':')
        return usageError("option '%s' requires an argument", given);
    if (optopt >= OPT_WINDOW)
        return usageError("option '%s' doesn't allow an argument", given);
    if (optopt) {
        char letter[2] = {(char)optopt, '\0'};
        return usageError("invalid option -- '%s'", letter);
    }
    return usageError("unrecognized option '%s'", given);
}

int parseShowOptions(int argc, char **argv, ShowOptions *o) {
    *o = ShowOptions{0, 0, -1, false, false};
    opterr = 0;
    optind = 0; // start afresh, also on a second call
    for (;;) {
        int found = getopt_long(argc, argv, ":", LONG_OPTIONS, nullptr);
        if (found == -1)
            break;
        long screen;
        char *end;
        switch (found) {
        case OPT_HELP:
            printUsage();
            return 0;
        case OPT_VERSION:
            std::printf("%s %s\n", SHOW_PROGRAM, PELMIRA_VERSION);
            return 0;
        case OPT_WINDOW:
            o->windowWidth = SCREEN_WIDTH;
            o->windowHeight = SCREEN_HEIGHT;
            if (optarg && !parseWindowSize(optarg, o))
                return usageError("invalid window size '%s': use WIDTHxHEIGHT, such as 640x480",
                                  optarg);
            break;
        case OPT_DISPLAY:
            if (!parseCount(optarg, 1023, &screen, &end) || *end)
                return usageError("invalid monitor number '%s': use 0, 1, ...", optarg);
            o->screen = (int)screen;
            break;
        case OPT_LOOP:
            o->loop = true;
            break;
        case OPT_MUTE:
            o->mute = true;
            break;
        default:
            return optionError(found, argv);
        }
    }
    if (optind < argc)
        return usageError("extra operand '%s'", argv[optind]);
    return -1;
}

int applyShowOptions(const ShowOptions &o) {
    if (o.windowWidth > 0)
        platformRequestWindow(o.windowWidth, o.windowHeight);
    if (o.screen < 0)
        return -1;
    int screens = platformScreenCount();
    if (screens < 0) {
        platformSay("%s", platformError());
        return 1;
    }
    if (o.screen >= screens) {
        platformSay("there is no monitor %d: the display has %d, numbered from 0", o.screen,
                    screens);
        return STATUS_USAGE;
    }
    platformRequestScreen(o.screen);
    return -1;
}
