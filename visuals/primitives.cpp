#include "visuals/primitives.h"

// Full and quarter turn as the show has always used them; the exact values
// of 2*pi and pi/2 would move every vertex.
static const float FULL_TURN = 6.28318f;
static const float QUARTER_TURN = 1.570795f;

// The first corner of every face takes its (0, 0) from a short pair.
static const GLshort ORIGIN_TEXCOORD[2] = {0, 0};

// One face: corners in order, texture (0,0), (0,r), (r,r), (r,0).
static void cubeFace(float r, float x1, float y1, float z1, float x2, float y2, float z2, float x3,
                     float y3, float z3, float x4, float y4, float z4) {
    glTexCoord2sv(ORIGIN_TEXCOORD);
    glVertex3f(x1, y1, z1);
    glTexCoord2f(0.0f, r);
    glVertex3f(x2, y2, z2);
    glTexCoord2f(r, r);
    glVertex3f(x3, y3, z3);
    glTexCoord2f(r, 0.0f);
    glVertex3f(x4, y4, z4);
}

void drawCube(float x, float y, float z, float hx, float hy, float hz, float repeat,
              GLuint texture) {
    const float x0 = x - hx, x1 = x + hx;
    const float y0 = y - hy, y1 = y + hy;
    const float z0 = z - hz, z1 = z + hz;
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_QUADS);
    cubeFace(repeat, x1, y1, z0, x0, y1, z0, x0, y0, z0, x1, y0, z0); // back, z - hz
    cubeFace(repeat, x0, y1, z1, x1, y1, z1, x1, y0, z1, x0, y0, z1); // front, z + hz
    cubeFace(repeat, x0, y1, z0, x0, y1, z1, x0, y0, z1, x0, y0, z0); // left, x - hx
    cubeFace(repeat, x1, y1, z1, x1, y1, z0, x1, y0, z0, x1, y0, z1); // right, x + hx
    cubeFace(repeat, x0, y0, z0, x0, y0, z1, x1, y0, z1, x1, y0, z0); // bottom, y - hy
    cubeFace(repeat, x0, y1, z1, x0, y1, z0, x1, y1, z0, x1, y1, z1); // top, y + hy
    glEnd();
}

void drawSphere(float cx, float cy, float cz, float radius, int segments, GLuint texture) {
    const int n = segments;
    const int bands = n / 2;
    glBindTexture(GL_TEXTURE_2D, texture);
    // One strip for all bands: the step from one band to the next runs along
    // the seam meridian and leaves only a degenerate quad. With an odd count
    // the last band stops short of the north pole.
    glBegin(GL_QUAD_STRIP);
    for (int i = 0; i < bands; i++) {
        const float lat0 = (float)i * FULL_TURN / (float)n - QUARTER_TURN;
        const float lat1 = (float)(i + 1) * FULL_TURN / (float)n - QUARTER_TURN;
        const float sin0 = floatSin(lat0), cos0 = floatCos(lat0);
        const float sin1 = floatSin(lat1), cos1 = floatCos(lat1);
        for (int j = 0; j <= n; j++) {
            const float lon = (float)j * FULL_TURN / (float)n;
            const float sinLon = floatSin(lon), cosLon = floatCos(lon);
            glVertex3f(cx + cosLon * cos1 * radius, cy + sin1 * radius,
                       cz + sinLon * cos1 * radius);
            glVertex3f(cx + cosLon * cos0 * radius, cy + sin0 * radius,
                       cz + sinLon * cos0 * radius);
        }
    }
    glEnd();
}

void drawTube(int rings, int segments, float radius, float spacing, float sRepeat, float tRepeat,
              GLuint texture) {
    const int N = rings, M = segments;
    const float half = (float)N * spacing * 0.5f;
    glBindTexture(GL_TEXTURE_2D, texture);
    // Every second ring only: bands one spacing wide with gaps between, all
    // in one strip joined along the seam at angle 0. Both vertices of a pair
    // share one texture row, so each band shows a single row of the image.
    glBegin(GL_TRIANGLE_STRIP);
    for (int i = 0; i < N + 1; i += 2) {
        const float z0 = (float)i * spacing - half;
        const float z1 = (float)(i + 1) * spacing - half;
        const float tt = (float)i / (float)(N + 1) * tRepeat;
        const float angleStep = 1.0f / (float)M * FULL_TURN;
        const float sStep = 1.0f / (float)M * sRepeat;
        for (int j = 0; j <= M; j++) {
            const float angle = (float)j * angleStep;
            const float px = floatSin(angle) * radius;
            const float py = floatCos(angle) * radius;
            const float s = sStep * (float)j;
            glTexCoord2f(s, tt);
            glVertex3f(px, py, z0);
            glTexCoord2f(s, tt);
            glVertex3f(px, py, z1);
        }
    }
    glEnd();
}
