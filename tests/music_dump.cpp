// Renders the soundtrack into a buffer of its own and writes the raw samples
// (signed 16-bit little-endian) to the file named on the command line, for the
// tests that check what pelmira-capture wrote against a second render.
#include "music/synth.h"

#include <cstdio>

static int16_t samples[SAMPLE_COUNT];

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s RAW-FILE\n", argv[0]);
        return 2;
    }
    renderMusic(samples);
    std::FILE *file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    const bool ok = std::fwrite(samples, sizeof samples, 1, file) == 1;
    return std::fclose(file) == 0 && ok ? 0 : 1;
}
