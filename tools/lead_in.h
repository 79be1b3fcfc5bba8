// The frames a capture draws, unwritten, before the first one it writes, so
// that this frame finds the render state the show would have left it.
#pragma once

#include "tools/frame_clock.h"

#include <functional>
#include <vector>

// Frames of the clock that draws subframes (rate times subframes) to draw,
// in this order, before the first subframe of frame first so that it finds
// the render state the show leaves after every frame before it: at most one
// per scene change and the frame just before; none before frame 0.
std::vector<long> leadInFrames(long first, FrameRate rate, int subframes);

// Draws those frames of clock for the render state they leave, filling no
// pixel; afterEach(i) follows the i-th. Stops early at an end signal.
void drawLeadIn(const std::vector<long> &frames, FrameRate clock,
                const std::function<void(long)> &afterEach);
