// Finished frames travel from the renderer (the calling thread) to a writer
// thread through a small ring of buffers, so that hashing, encoding and file
// output overlap rendering.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

struct CapturedFrame {
    std::vector<unsigned char> pixels; // RGBA, rows top first
    long number;
    float t;
};

class FrameWriter {
  public:
    // take runs on the writer thread for every frame, in order; false from it
    // stops the writer (it has said why).
    using Take = std::function<bool(const CapturedFrame &)>;

    FrameWriter(size_t frameBytes, Take take);
    FrameWriter(const FrameWriter &) = delete;
    FrameWriter &operator=(const FrameWriter &) = delete;
    ~FrameWriter() { finish(); }

    // Starts the writer thread. False if the system would not give one.
    bool start();

    // The next buffer to fill, once the writer is done with it; nullptr once
    // the writer has stopped on a failure.
    CapturedFrame *acquire();

    // Hands the buffer from acquire() to the writer.
    void submit();

    // Waits until every frame handed over is taken, then ends the thread.
    // False if a take failed.
    bool finish();

  private:
    static const int SLOTS = 3;
    void run();

    Take take_;
    CapturedFrame slots_[SLOTS];
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable changed_;
    int filled_ = 0; // slots waiting for the writer
    int next_ = 0;   // slot the renderer fills next
    bool finished_ = false;
    bool failed_ = false;
};
