#include "tools/frame_average.h"

FrameAverage::FrameAverage(size_t bytes, int count) : sum_(bytes), count_(count) {}

void FrameAverage::add(const unsigned char *frame) {
    uint16_t *sum = sum_.data();
    const size_t n = sum_.size();
    if (added_++ == 0) {
        for (size_t i = 0; i < n; ++i)
            sum[i] = frame[i];
    } else {
        for (size_t i = 0; i < n; ++i)
            sum[i] = (uint16_t)(sum[i] + frame[i]);
    }
}

void FrameAverage::mean(unsigned char *out) {
    // floor((sum + count / 2) / count) through a float reciprocal: the extra
    // half keeps the quotient at least 1/128 away from an integer, far
    // beyond float's error on numbers below 2^14, and it vectorises where an
    // integer division would not.
    const float bias = (float)(count_ / 2) + 0.5f, scale = 1.0f / (float)count_;
    const uint16_t *sum = sum_.data();
    const size_t n = sum_.size();
    for (size_t i = 0; i < n; ++i)
        out[i] = (unsigned char)(int)(((float)sum[i] + bias) * scale);
    added_ = 0;
}
