// The show's command line.
#pragma once

struct ShowOptions {
    int windowWidth;  // 0: full screen
    int windowHeight; //
    int screen;       // monitor to use; -1: the one that holds the mouse pointer
    bool loop;        // start again from the beginning at each end, until Escape
    bool mute;        // open no sound device
};

// The exit status of a bad command line.
constexpr int STATUS_USAGE = 2;

// Reads the command line into options. Returns -1 to go on, or the status to
// exit with at once: 0 after --help or --version (printed on stdout), or
// STATUS_USAGE after one line on stderr saying what is wrong.
int parseShowOptions(int argc, char **argv, ShowOptions *options);

// Hands the window and the monitor asked for to the platform, which has to
// start its video driver to tell whether the monitor exists. Returns -1 to go
// on, or the status to exit with once said why.
int applyShowOptions(const ShowOptions &options);
