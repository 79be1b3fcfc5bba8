// The show's meshes, each one immediate-mode primitive with the texture bound
// first; no other state is touched.
#pragma once

#include <GL/gl.h>
#include <cmath>

// Sine and cosine of a float angle, rounded back to float. Taken through
// double because glibc's sinf/cosf land one ulp off the correctly rounded
// value on some of the show's angles, which would move vertices.
inline float floatSin(float a) {
    return (float)std::sin((double)a);
}
inline float floatCos(float a) {
    return (float)std::cos((double)a);
}

void drawCube(float x, float y, float z, float hx, float hy, float hz, float repeat,
              GLuint texture);
void drawSphere(float cx, float cy, float cz, float radius, int segments, GLuint texture);
void drawTube(int rings, int segments, float radius, float spacing, float sRepeat, float tRepeat,
              GLuint texture);
