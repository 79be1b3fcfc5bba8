#include "visuals/textures.h"

unsigned char TexturePixels[3][TEXTURE_BYTES];
GLuint textureNames[3];
const char GREETING_TEXT[] = "";
const char CLOSING_TEXT[] = "";

void makeGlowTexture() {}
void makeTextTexture(int, int, const char *) {}
void uploadTextures() {}
