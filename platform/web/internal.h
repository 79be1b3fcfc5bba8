// Shared between the web backend's own files; nothing outside platform/
// includes it. The page (index.html) makes one program instance per play and
// hands it the canvas and the AudioContext it made inside the user's click.
#pragma once

#include "platform/common/requests.h"

// --- audio.cpp, video.cpp ------------------------------------------------------

// Stops the sound at once; nothing is drained.
void audioClose();

// Takes the keyboard and full-screen listeners off the page.
void videoClose();
