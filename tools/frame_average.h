// The exact mean of several frames, for motion blur: each byte is summed in
// 16 bits (64 x 255 fits) and the sum divided once, rounded to nearest with
// halves up, so no colour drifts however many frames are averaged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class FrameAverage {
  public:
    // Frames of bytes bytes, count of them (1 to 64) to a mean.
    FrameAverage(size_t bytes, int count);

    // Adds a frame; the first replaces whatever was summed before.
    void add(const unsigned char *frame);

    // Writes the mean of the count frames added since the last mean.
    void mean(unsigned char *out);

  private:
    std::vector<uint16_t> sum_;
    int count_;
    int added_ = 0;
};
