// Where the picture goes in a window of another shape: scaled to fit without
// changing its shape and centred, the rest black bars. Every backend that
// presents into a window of the user's size places it alike.
#pragma once

// The rectangle, in a dstWidth x dstHeight surface, that a srcWidth x
// srcHeight picture fills: rect = {x, y, width, height}, origin bottom left.
void fitRect(int srcWidth, int srcHeight, int dstWidth, int dstHeight, int rect[4]);
