#pragma once

constexpr int SCREEN_WIDTH = 800;
constexpr int SCREEN_HEIGHT = 600;

// Opens the show's picture and sets the rendering state that stays fixed for
// the whole run. False if the display could not be opened.
bool setupDisplay();
