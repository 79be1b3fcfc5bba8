#pragma once

// Hands the finished wave image to the sound player; returns at once while
// the soundtrack plays in the background.
void startPlayback();

// Plays the soundtrack again from its beginning, at once.
void restartPlayback();
