// The show's own code, run without a display: the soundtrack's wave image and
// the glow image, each as the FNV-1a hash the capture tool's hash files give
// the sound. Built natively and to wasm for node, so the two can be held to
// each other and to the golden hash file.
#include "music/synth.h"
#include "music/wave_image.h"
#include "visuals/textures.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

static uint64_t fnv1a(const void *data, size_t size) {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    uint64_t h = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < size; ++i) {
        h ^= p[i];
        h *= 0x100000001B3ull;
    }
    return h;
}

int main() {
    makeGlowTexture();
    writeWaveHeader();
    renderMusic(waveImage.samples);
    std::printf("sound %016llx\n", (unsigned long long)fnv1a(&waveImage, sizeof waveImage));
    std::printf("glow %016llx\n",
                (unsigned long long)fnv1a(TexturePixels[SLOT_GLOW], TEXTURE_BYTES));
    return 0;
}
