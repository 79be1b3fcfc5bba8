// Writes a render of its own to stdout as raw 16-bit samples, for the export
// test to compare pelmira-capture's file with.
#include "music/synth.h"

#include <cstdio>

static int16_t samples[SAMPLE_COUNT];

int main() {
    renderMusic(samples);
    return std::fwrite(samples, sizeof samples, 1, stdout) == 1 && std::fflush(stdout) == 0 ? 0 : 1;
}
