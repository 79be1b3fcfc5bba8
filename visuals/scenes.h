#pragma once

// The show's script: draws the scenes of demo time t (0 <= t < 31).
void drawFrame(float t);
