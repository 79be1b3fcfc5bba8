// Which tick reading each captured frame stands for.
#pragma once

#include <cstdint>

// Frames per second as a fraction, num / den (60, 60000/1001, ...).
struct FrameRate {
    long num;
    long den;
};

// The most frames a second: the show's clock counts whole milliseconds.
constexpr long MAX_FRAME_RATE = 1000;

// Parses "60", "60000/1001" or "29.97"; false for anything else, zero,
// negative or above MAX_FRAME_RATE.
bool parseFrameRate(const char *text, FrameRate *rate);

// Milliseconds from the start tick at which frame k is drawn: k * 1000 / rate,
// rounded to the nearest millisecond with halves rounded up.
uint32_t frameTick(long frame, FrameRate rate);

// The first frame drawn at or after the given time (seconds, >= 0).
long frameAtOrAfter(double seconds, FrameRate rate);

// The frame on screen at the given time: the last one drawn at or before it.
long frameShownAt(double seconds, FrameRate rate);
