// Shared between the platform's own source files; the show never includes it.
#pragma once

// True once platformRequestHeadless has been called.
bool platformHeadless();

// Closes the sound device, if one is open, so nothing more plays.
void platformStopSound();

// The rectangle, in a dstWidth x dstHeight drawable, that a srcWidth x
// srcHeight picture fills when scaled to fit without changing its shape and
// centred: rect = {x, y, width, height}, origin bottom left.
void platformFitRect(int srcWidth, int srcHeight, int dstWidth, int dstHeight, int rect[4]);

// Blits the show's framebuffer into the window's, scaled to fit and centred
// in a drawable of the given size with black bars, and leaves the window's
// framebuffer bound for drawing. The caller swaps and rebinds.
void platformBlitToWindow(int drawableWidth, int drawableHeight);
