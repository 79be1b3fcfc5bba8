#include "visuals/textures.h"

#include "platform/platform.h"

#include <GL/glu.h>
#include <cmath>

unsigned char TexturePixels[3][TEXTURE_BYTES];
GLuint textureNames[3];

// The literals are split after each escape so that the following letter is not
// read as another hex digit.
const char GREETING_TEXT[] = "\xDC"
                             "dv mindenkinek a Pelmira 2004-en! ";
const char CLOSING_TEXT[] = "V\xC9"
                            "GE";

void makeGlowTexture() {
    unsigned char *texel = TexturePixels[SLOT_GLOW];
    for (int a = 0; a < TEXTURE_SIZE; a++) {
        // Float throughout: the picture is defined by single-precision rounding.
        float dy = a * 0.0078125f - 1.0f;
        for (int i = 0; i < TEXTURE_SIZE; i++) {
            float dx = i * 0.0078125f - 1.0f;
            float sum = dx * dx + dy * dy;
            float r = std::sqrt(sum);
            float v = 256.0f - r * 256.0f;
            if (v < 0.0f)
                v = 0.0f;
            else if (v > 255.0f)
                v = 255.0f;
            unsigned char level = static_cast<unsigned char>(v);
            texel[0] = level;
            texel[1] = level;
            texel[2] = level;
            texel[3] = level;
            texel += 4;
        }
    }
}

void makeTextTexture(int slot, int height, const char *text) {
    platformDrawText(TexturePixels[slot], height, text);
}

void uploadTextures() {
    glGenTextures(3, textureNames);
    for (int k = 0; k < 3; k++) {
        glBindTexture(GL_TEXTURE_2D, textureNames[k]);
        // The text images are stored blue first but handed over as RGBA: their
        // colour bytes are equal, so the order does not show.
        gluBuild2DMipmaps(GL_TEXTURE_2D, 4, TEXTURE_SIZE, TEXTURE_SIZE, GL_RGBA, GL_UNSIGNED_BYTE,
                          TexturePixels[k]);
    }
}
