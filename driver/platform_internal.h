// Shared between the platform's own source files; the show never includes it.
#pragma once

// True once platformRequestHeadless has been called.
bool platformHeadless();

// Closes the sound device, if one is open, so nothing more plays.
void platformStopSound();
