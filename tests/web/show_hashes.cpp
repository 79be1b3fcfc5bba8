// The show's own code, run without a display: the soundtrack's wave image and
// the glow image, each as the FNV-1a hash the capture tool's hash files give
// the sound. Built natively and to wasm for node, so the two can be held to
// each other and to the golden hash file.
#include "music/synth.h"
#include "music/wave_image.h"
#include "tools/bytes_hash.h"
#include "visuals/textures.h"

#include <cstdio>

int main() {
    makeGlowTexture();
    writeWaveHeader();
    renderMusic(waveImage.samples);
    std::printf("sound %016llx\n", (unsigned long long)bytesHash(&waveImage, sizeof waveImage));
    std::printf("glow %016llx\n",
                (unsigned long long)bytesHash(TexturePixels[SLOT_GLOW], TEXTURE_BYTES));
    return 0;
}
