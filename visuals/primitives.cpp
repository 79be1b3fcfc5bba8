#include "visuals/primitives.h"

void drawCube(float, float, float, float, float, float, float, GLuint) {}
void drawSphere(float, float, float, float, int, GLuint) {}
void drawTube(int, int, float, float, float, float, GLuint) {}
