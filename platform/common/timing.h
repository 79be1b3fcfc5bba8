// PELMIRA_TIMING: one line on stderr at exit with the run's start-up and
// presentation times, in seconds of the system's monotonic clock, the same
// line on every backend so that one bench reads them all.
#pragma once

// Reads PELMIRA_TIMING; the marks below do nothing unless it is set.
void timingStart();
bool timingWanted();

void markContextReady();
// The show's start tick: its first tick reading after opening the display, or
// the reading a sound player gives for a moment `ago` seconds before now.
void markTick(double ago = 0.0);
void markFramePresented();

// The line itself, "NAME timing: context=… start_tick=… first_frame=…
// frames=N exit=…", if PELMIRA_TIMING is set.
void timingReport(const char *programName);
