// The show's three images: a radial glow and two lines of text, uploaded as
// mipmapped textures.
#pragma once

#include <GL/gl.h>

enum TextureSlot { SLOT_GLOW = 0, SLOT_GREETING = 1, SLOT_CLOSING = 2 };

constexpr int TEXTURE_SIZE = 256;
constexpr int TEXTURE_BYTES = TEXTURE_SIZE * TEXTURE_SIZE * 4;

// The three images back to back in slot order, 4 bytes a texel, row 0 first.
extern unsigned char TexturePixels[3][TEXTURE_BYTES];

// The GL texture names, in slot order.
extern GLuint textureNames[3];

// Windows-1250 text of the two text images.
extern const char GREETING_TEXT[];
extern const char CLOSING_TEXT[];

void makeGlowTexture();
void makeTextTexture(int slot, int height, const char *text);
void uploadTextures();
