#pragma once

constexpr int SCREEN_WIDTH = 800;
constexpr int SCREEN_HEIGHT = 600;

// Opens the show's picture and sets the rendering state that stays fixed for
// the whole run. False if the display could not be opened.
bool setupDisplay();

// Keeps the render state as it is now, between the start-up and the first
// frame, for restoreStartState.
void keepStartState();

// Puts back the render state kept by keepStartState, which the frames since
// have changed (colour, texture, fog and blending carry from frame to frame),
// so the frames drawn from here on are those of a fresh start.
void restoreStartState();
