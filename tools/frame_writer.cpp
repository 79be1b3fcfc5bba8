#include "tools/frame_writer.h"

#include "platform/platform.h"

#include <new>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

// As the encoder: below the renderer, whose llvmpipe threads meet at a barrier
// every frame.
static const int WRITER_NICENESS = 10;

FrameWriter::FrameWriter(size_t frameBytes, Take take) : take_(std::move(take)) {
    for (CapturedFrame &slot : slots_)
        slot.pixels.resize(frameBytes);
}

bool FrameWriter::start() {
    try {
        thread_ = std::thread(&FrameWriter::run, this);
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

CapturedFrame *FrameWriter::acquire() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return filled_ < SLOTS || failed_; });
    return failed_ ? nullptr : &slots_[next_];
}

void FrameWriter::submit() {
    next_ = (next_ + 1) % SLOTS;
    {
        std::lock_guard<std::mutex> hold(lock_);
        ++filled_;
    }
    changed_.notify_all();
}

bool FrameWriter::finish() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        finished_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
    return !failed_;
}

void FrameWriter::run() {
    setpriority(PRIO_PROCESS, (id_t)gettid(), WRITER_NICENESS);
    int current = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(lock_);
            changed_.wait(hold, [this] { return filled_ > 0 || finished_; });
            if (filled_ == 0)
                return;
        }
        bool ok = false;
        try {
            ok = take_(slots_[current]);
        } catch (const std::bad_alloc &) {
            platformSay("out of memory");
        }
        current = (current + 1) % SLOTS;
        std::lock_guard<std::mutex> hold(lock_);
        --filled_;
        if (!ok)
            failed_ = true;
        changed_.notify_all();
        if (!ok)
            return;
    }
}
