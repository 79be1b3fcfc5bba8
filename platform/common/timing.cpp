// Timing marks: when the context was ready, the start tick read, the first
// frame presented, and the exit, for the start-up and sync benches.
#include "platform/common/timing.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

static bool timing;
static bool startTickSeen;
static double contextReadyAt;
static double startTickAt;
static double firstFrameAt = -1.0;
static unsigned framesPresented;

// CLOCK_MONOTONIC on Linux, the performance counter on Windows: what the
// benches' own clocks read. (MinGW's steady_clock is the wall clock.)
static double monotonicSeconds() {
#ifdef _WIN32
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart / (double)frequency.QuadPart;
#else
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count();
#endif
}

void timingStart() {
    timing = std::getenv("PELMIRA_TIMING") != nullptr;
}

bool timingWanted() {
    return timing;
}

void markContextReady() {
    if (timing)
        contextReadyAt = monotonicSeconds();
}

void markTick(double ago) {
    if (timing && !startTickSeen) {
        startTickSeen = true;
        startTickAt = monotonicSeconds() - ago;
    }
}

void markFramePresented() {
    if (!timing)
        return;
    if (framesPresented == 0)
        firstFrameAt = monotonicSeconds();
    ++framesPresented;
}

void timingReport(const char *programName) {
    if (timing)
        std::fprintf(stderr,
                     "%s timing: context=%.6f start_tick=%.6f first_frame=%.6f frames=%u "
                     "exit=%.6f\n",
                     programName, contextReadyAt, startTickAt, firstFrameAt, framesPresented,
                     monotonicSeconds());
}
