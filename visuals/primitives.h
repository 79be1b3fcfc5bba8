// The show's meshes, each one immediate-mode primitive with the texture bound
// first; no other state is touched.
#pragma once

#include <GL/gl.h>

void drawCube(float x, float y, float z, float hx, float hy, float hz, float repeat,
              GLuint texture);
void drawSphere(float cx, float cy, float cz, float radius, int segments, GLuint texture);
void drawTube(int rings, int segments, float radius, float spacing, float sRepeat, float tRepeat,
              GLuint texture);
