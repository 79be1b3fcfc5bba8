// A real OpenGL compatibility context for tests, on SDL's offscreen video
// driver (Mesa llvmpipe), so no X server is needed.
#pragma once

// Opens a hidden width x height window with an 8-bit RGBA, 16-bit depth,
// double-buffered surface and makes its context current. Returns false and
// says why on stderr when no context can be had.
bool openTestContext(int width, int height);

// Destroys the window and context opened by openTestContext.
void closeTestContext();
