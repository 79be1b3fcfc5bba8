#include "tools/capture_frames.h"

#include "driver/demo_main.h"
#include "driver/display.h"
#include "driver/platform.h"
#include "music/wave_image.h"
#include "tools/output_file.h"
#include "tools/png_file.h"

#include <GL/gl.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

volatile int captureInterrupt = 0;

static const int FRAME_BYTES = SCREEN_WIDTH * SCREEN_HEIGHT * 4;

static std::string folderOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// --- Frame hash ---------------------------------------------------------------

// A hash of the colours of an upright frame; alpha is never seen and not hashed.
static uint64_t frameHash(const unsigned char *rgba) {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    const unsigned char *end = rgba + FRAME_BYTES;
    for (const unsigned char *p = rgba; p < end; p += 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        w &= 0x00FFFFFF00FFFFFFull;
        h ^= w;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    return h;
}

static uint64_t bytesHash(const unsigned char *p, size_t n) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001B3ull;
    }
    return h;
}

bool isFramePattern(const std::string &pattern) {
    int conversions = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%')
            continue;
        ++i;
        if (i < pattern.size() && pattern[i] == '%')
            continue;
        while (i < pattern.size() && (pattern[i] == '0' || pattern[i] == '-'))
            ++i;
        while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9')
            ++i;
        if (i >= pattern.size() || (pattern[i] != 'd' && pattern[i] != 'i'))
            return false;
        ++conversions;
    }
    return conversions == 1;
}

// --- 4:2:0 for the encoder ------------------------------------------------------

static const int YUV_BYTES = SCREEN_WIDTH * SCREEN_HEIGHT * 3 / 2;

// Studio-range BT.601, the form H.264 and VP9 take, with each chroma sample
// the mean of its 2x2 block. Done here because it is a third of ffmpeg's work
// and shrinks what crosses the pipe from 1.9 MB a frame to 0.7 MB.
static void toYuv420(const unsigned char *rgba, unsigned char *yuv) {
    const int w = SCREEN_WIDTH, h = SCREEN_HEIGHT;
    unsigned char *yPlane = yuv, *uPlane = yuv + w * h, *vPlane = uPlane + w * h / 4;
    for (int i = 0; i < w * h; ++i) {
        const unsigned char *p = rgba + 4 * i;
        yPlane[i] = (unsigned char)(((66 * p[0] + 129 * p[1] + 25 * p[2] + 128) >> 8) + 16);
    }
    for (int y = 0; y < h; y += 2) {
        for (int x = 0; x < w; x += 2) {
            const unsigned char *a = rgba + 4 * (y * w + x), *b = a + 4 * w;
            int r = a[0] + a[4] + b[0] + b[4], g = a[1] + a[5] + b[1] + b[5];
            int bl = a[2] + a[6] + b[2] + b[6];
            int k = (y / 2) * (w / 2) + x / 2;
            uPlane[k] = (unsigned char)(((-38 * r - 74 * g + 112 * bl + 512) >> 10) + 128);
            vPlane[k] = (unsigned char)(((112 * r - 94 * g - 18 * bl + 512) >> 10) + 128);
        }
    }
}

// --- The video encoder ------------------------------------------------------

static bool onPath(const char *program) {
    const char *path = getenv("PATH");
    if (!path)
        return false;
    std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t colon = dirs.find(':', start);
        if (colon == std::string::npos)
            colon = dirs.size();
        std::string dir = dirs.substr(start, colon - start);
        if (dir.empty())
            dir = ".";
        if (access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
        start = colon + 1;
    }
    return false;
}

// Below the renderer, not so far below that other work on the machine could
// starve the capture.
static const int ENCODER_NICENESS = 10;

struct Encoder {
    pid_t pid = -1;
    int input = -1;
};

static std::string secondsText(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", s);
    return text;
}

// Starts ffmpeg reading raw frames on its stdin and the soundtrack from a
// file, muxing both into temp (the container named by the final path).
static bool startEncoder(const CaptureJob &job, const std::string &temp, const std::string &wave,
                         long frames, Encoder *encoder) {
    std::string ext = job.path.substr(job.path.rfind('.') + 1);
    std::string rate = std::to_string(job.rate.num) + "/" + std::to_string(job.rate.den);
    double from = (double)frameTick(job.first, job.rate) / 1000.0;
    double length = (double)frames * job.rate.den / job.rate.num;
    std::string size = std::to_string(SCREEN_WIDTH) + "x" + std::to_string(SCREEN_HEIGHT);
    std::vector<std::string> args = {"ffmpeg",    "-nostdin", "-hide_banner",
                                     "-loglevel", "error",    "-y"};
    // The frames, already in the encoders' own 4:2:0 form (see toYuv420).
    args.insert(args.end(),
                {"-f", "rawvideo", "-pix_fmt", "yuv420p", "-color_range", "tv", "-colorspace",
                 "bt470bg", "-s", size, "-framerate", rate, "-i", "pipe:0"});
    // The soundtrack from the same moment on, no longer than the picture.
    args.insert(args.end(), {"-ss", secondsText(from), "-t", secondsText(length), "-i", wave});
    args.insert(args.end(), {"-map", "0:v", "-map", "1:a?"});
    if (ext == "webm")
        args.insert(args.end(),
                    {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-row-mt",
                     "1", "-b:v", "4M", "-c:a", "libopus", "-b:a", "128k", "-f", "webm"});
    else
        args.insert(args.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-crf", "18", "-c:a",
                                 "aac", "-b:a", "192k"});
    if (ext == "mkv")
        args.insert(args.end(), {"-f", "matroska"});
    else if (ext == "mp4")
        args.insert(args.end(), {"-movflags", "+faststart", "-f", "mp4"});
    args.push_back(temp);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int err = posix_spawnp(&encoder->pid, "ffmpeg", &actions, nullptr, argv.data(), environ);
    // llvmpipe's threads meet at a barrier every frame, so each time the
    // encoder preempts one the other waits: let the renderer go first.
    if (err == 0)
        setpriority(PRIO_PROCESS, (id_t)encoder->pid, ENCODER_NICENESS);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (err != 0) {
        close(fds[1]);
        errno = err;
        return false;
    }
    // A frame is 1.9 MB: a deeper pipe means fewer trips between the two processes.
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    encoder->input = fds[1];
    return true;
}

// Closes the encoder's input and waits; true if it finished cleanly.
static bool finishEncoder(Encoder *encoder, bool abandon) {
    if (encoder->input >= 0)
        close(encoder->input);
    encoder->input = -1;
    if (encoder->pid < 0)
        return false;
    if (abandon)
        kill(encoder->pid, SIGKILL);
    int status = 0;
    while (waitpid(encoder->pid, &status, 0) < 0 && errno == EINTR) {
    }
    encoder->pid = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// --- Reference hashes ---------------------------------------------------------

struct HashRecord {
    std::string t;
    uint64_t hash;
};

struct HashList {
    std::string sound; // hash of the wave image, as text
    std::map<long, HashRecord> frames;
};

static bool readHashes(const std::string &path, HashList *list) {
    std::FILE *file = std::fopen(path.c_str(), "r");
    if (!file) {
        std::fprintf(stderr, "pelmira-capture: cannot read %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    char line[256];
    int number = 0;
    bool ok = true;
    while (ok && std::fgets(line, sizeof line, file)) {
        ++number;
        if (line[0] == '#' || line[0] == '\n')
            continue;
        char first[64], second[64], third[64];
        int fields = std::sscanf(line, "%63s %63s %63s", first, second, third);
        char *end = nullptr;
        if (fields == 2 && std::strcmp(first, "sound") == 0) {
            list->sound = second;
        } else if (fields == 3) {
            long frame = std::strtol(first, &end, 10);
            ok = *end == '\0' && frame >= 0;
            uint64_t hash = std::strtoull(third, &end, 16);
            ok = ok && *end == '\0';
            list->frames[frame] = {second, hash};
        } else {
            ok = false;
        }
    }
    std::fclose(file);
    if (!ok)
        std::fprintf(stderr, "pelmira-capture: %s:%d: not a frame hash line\n", path.c_str(),
                     number);
    return ok;
}

// --- The pipeline ---------------------------------------------------------------

// Frames travel from the renderer (main thread) to the writer thread through a
// small ring of buffers, so encoding and file output overlap rendering.
static const int SLOTS = 3;

struct Slot {
    std::vector<unsigned char> pixels;
    long frame;
    float t;
};

struct Pipeline {
    const CaptureJob *job;
    Encoder encoder;
    HashList expected;
    std::string hashLines;
    std::vector<unsigned char> yuv; // the writer's 4:2:0 frame for the encoder
    std::mutex lock;
    std::condition_variable changed;
    Slot slots[SLOTS];
    int filled = 0; // slots waiting for the writer
    int next = 0;   // slot the renderer fills next
    bool finished = false;
    bool failed = false; // the writer hit an error or a mismatch and said so
};

static std::string tText(float t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", (double)t);
    return text;
}

static bool writeFramePng(const std::string &path, const unsigned char *rgba) {
    static thread_local std::vector<unsigned char> png;
    encodePng(&png, rgba, SCREEN_WIDTH, SCREEN_HEIGHT, 1);
    // A sequence is thousands of files: they are renamed complete, not synced.
    if (writeFileAtomically(path, png.data(), png.size(), false))
        return true;
    reportCannotWrite(path, errno);
    return false;
}

// Everything done with one finished frame; false stops the capture.
static bool takeFrame(Pipeline *p, const Slot &slot) {
    const CaptureJob &job = *p->job;
    uint64_t hash = frameHash(slot.pixels.data());
    std::string t = tText(slot.t);
    if (!job.hashes.empty()) {
        char line[96];
        std::snprintf(line, sizeof line, "%ld %s %016llx\n", slot.frame, t.c_str(),
                      (unsigned long long)hash);
        p->hashLines += line;
    }
    if (!job.verify.empty()) {
        auto found = p->expected.frames.find(slot.frame);
        if (found == p->expected.frames.end()) {
            std::fprintf(stderr, "pelmira-capture: frame %ld (t = %s) is not in %s\n", slot.frame,
                         t.c_str(), job.verify.c_str());
            return false;
        }
        if (found->second.hash != hash || found->second.t != t) {
            std::fprintf(stderr,
                         "pelmira-capture: frame %ld differs: t = %s, hash %016llx; %s has t = "
                         "%s, hash %016llx\n",
                         slot.frame, t.c_str(), (unsigned long long)hash, job.verify.c_str(),
                         found->second.t.c_str(), (unsigned long long)found->second.hash);
            return false;
        }
        p->expected.frames.erase(found);
    }
    switch (job.output) {
    case OUTPUT_VIDEO:
        p->yuv.resize(YUV_BYTES);
        toYuv420(slot.pixels.data(), p->yuv.data());
        if (!writeAll(p->encoder.input, p->yuv.data(), YUV_BYTES)) {
            if (!captureInterrupt)
                std::fprintf(stderr, "pelmira-capture: the encoder stopped taking frames: %s\n",
                             std::strerror(errno));
            return false;
        }
        return true;
    case OUTPUT_PNG_SEQUENCE: {
        char path[4096];
        std::snprintf(path, sizeof path, job.path.c_str(), (int)slot.frame);
        return writeFramePng(path, slot.pixels.data());
    }
    case OUTPUT_PNG:
        return writeFramePng(job.path, slot.pixels.data());
    case OUTPUT_NONE:
        return true;
    }
    return true;
}

static void writerLoop(Pipeline *p) {
    setpriority(PRIO_PROCESS, (id_t)gettid(), ENCODER_NICENESS);
    int current = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(p->lock);
            p->changed.wait(hold, [p] { return p->filled > 0 || p->finished; });
            if (p->filled == 0)
                return;
        }
        bool ok = takeFrame(p, p->slots[current]);
        current = (current + 1) % SLOTS;
        std::lock_guard<std::mutex> hold(p->lock);
        --p->filled;
        if (!ok)
            p->failed = true;
        p->changed.notify_all();
        if (!ok)
            return;
    }
}

// --- The capture -------------------------------------------------------------------

// Frames the show draws before its clock reaches 31 s.
static long showFrames(FrameRate rate) {
    long k = frameAtOrAfter(30.0, rate);
    while (demoTime(0, frameTick(k, rate)) < 31.0f)
        ++k;
    return k;
}

static void showProgress(long done, long total, std::chrono::steady_clock::time_point began) {
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    double fps = seconds > 0 ? done / seconds : 0;
    long left = fps > 0 ? (long)((total - done) / fps + 0.5) : 0;
    std::fprintf(stderr, "\r  frame %ld/%ld  %.1f fps  %ld:%02ld left ", done, total, fps,
                 left / 60, left % 60);
}

int runCapture(const CaptureJob &job) {
    static Pipeline p; // big, and alive as long as the show's own static data
    p.job = &job;
    long total = showFrames(job.rate);
    long end = job.end < 0 || job.end > total ? total : job.end;
    if (job.first >= end) {
        std::fprintf(stderr, "pelmira-capture: no frames between the given times\n");
        return 2;
    }
    if (job.output == OUTPUT_VIDEO && !onPath("ffmpeg")) {
        std::fprintf(stderr,
                     "pelmira-capture: ffmpeg was not found on PATH; it is needed to "
                     "write %s (Debian: apt-get install ffmpeg)\n",
                     job.path.c_str());
        return 1;
    }
    if (!job.verify.empty() && !readHashes(job.verify, &p.expected))
        return 1;

    // Claim the outputs before any work, so an unwritable path is said at once.
    std::string videoTemp, waveTemp;
    int videoFd = -1, waveFd = -1;
    if (job.output == OUTPUT_VIDEO) {
        videoFd = createTempBeside(job.path, "", &videoTemp);
        if (videoFd < 0) {
            reportCannotWrite(job.path, errno);
            return 1;
        }
        waveFd = createTempBeside(job.path, ".wav", &waveTemp);
        if (waveFd < 0) {
            reportCannotWrite(job.path, errno);
            unlink(videoTemp.c_str());
            return 1;
        }
    }
    if (!job.hashes.empty() && access(folderOf(job.hashes).c_str(), W_OK) != 0) {
        reportCannotWrite(job.hashes, errno);
        return 1;
    }

    auto cleanUp = [&]() {
        if (p.encoder.pid >= 0)
            finishEncoder(&p.encoder, true);
        if (videoFd >= 0) {
            close(videoFd);
            unlink(videoTemp.c_str());
        }
        if (waveFd >= 0) {
            close(waveFd);
            unlink(waveTemp.c_str());
        }
        videoFd = waveFd = -1;
    };

    platformRequestHeadless();
    buildShow();

    char soundHash[32];
    std::snprintf(
        soundHash, sizeof soundHash, "%016llx",
        (unsigned long long)bytesHash((const unsigned char *)&waveImage, sizeof waveImage));
    if (!job.hashes.empty())
        p.hashLines = "# pelmira-capture frame hashes at " + std::to_string(job.rate.num) + "/" +
                      std::to_string(job.rate.den) + " fps\nsound " + soundHash + "\n";
    if (!job.verify.empty() && !p.expected.sound.empty() && p.expected.sound != soundHash) {
        std::fprintf(stderr, "pelmira-capture: the soundtrack differs: hash %s; %s has %s\n",
                     soundHash, job.verify.c_str(), p.expected.sound.c_str());
        cleanUp();
        return 1;
    }

    if (job.output == OUTPUT_VIDEO) {
        bool ok = writeAll(waveFd, (const unsigned char *)&waveImage, sizeof waveImage);
        int err = errno;
        if (!ok) {
            reportCannotWrite(waveTemp, err);
            cleanUp();
            return 1;
        }
        if (!startEncoder(job, videoTemp, waveTemp, end - job.first, &p.encoder)) {
            std::fprintf(stderr, "pelmira-capture: cannot start ffmpeg: %s\n",
                         std::strerror(errno));
            cleanUp();
            return 1;
        }
    }

    for (Slot &slot : p.slots)
        slot.pixels.resize(FRAME_BYTES);
    std::thread writer(writerLoop, &p);
    bool progress = isatty(2);
    auto began = std::chrono::steady_clock::now();
    auto shown = began;
    const uint32_t start = 0;
    demoClock.startTick = start;
    long k = 0;
    for (; k < end && !captureInterrupt; ++k) {
        if (!demoFrame(start + frameTick(k, job.rate)))
            break;
        if (k < job.first) {
            // Nothing reads these frames back, and llvmpipe would queue them unbounded.
            glFinish();
            continue;
        }
        {
            std::unique_lock<std::mutex> hold(p.lock);
            p.changed.wait(hold, [] { return p.filled < SLOTS || p.failed; });
            if (p.failed)
                break;
        }
        Slot &slot = p.slots[p.next];
        platformReadFrame(slot.pixels.data());
        slot.frame = k;
        slot.t = demoClock.t;
        p.next = (p.next + 1) % SLOTS;
        {
            std::lock_guard<std::mutex> hold(p.lock);
            ++p.filled;
        }
        p.changed.notify_all();
        if (progress && std::chrono::steady_clock::now() - shown > std::chrono::milliseconds(250)) {
            shown = std::chrono::steady_clock::now();
            showProgress(k + 1, end, began);
        }
    }
    {
        std::lock_guard<std::mutex> hold(p.lock);
        p.finished = true;
    }
    p.changed.notify_all();
    writer.join();
    if (progress) {
        showProgress(k, end, began);
        std::fputc('\n', stderr);
    }

    bool ok = !p.failed && !captureInterrupt;
    auto missing = p.expected.frames.lower_bound(job.first);
    if (ok && !job.verify.empty() && missing != p.expected.frames.end() && missing->first < end) {
        std::fprintf(stderr, "pelmira-capture: frame %ld of %s was not rendered\n", missing->first,
                     job.verify.c_str());
        ok = false;
    }
    if (ok && job.output == OUTPUT_VIDEO) {
        ok = finishEncoder(&p.encoder, false);
        if (!ok)
            std::fprintf(stderr, "pelmira-capture: ffmpeg failed to write %s\n", job.path.c_str());
        else if (std::rename(videoTemp.c_str(), job.path.c_str()) != 0) {
            reportCannotWrite(job.path, errno);
            ok = false;
        } else {
            close(videoFd);
            videoFd = -1;
        }
    }
    if (ok && !job.hashes.empty() &&
        !writeFileAtomically(job.hashes, p.hashLines.data(), p.hashLines.size())) {
        reportCannotWrite(job.hashes, errno);
        ok = false;
    }
    cleanUp();
    if (ok && !job.verify.empty())
        std::fprintf(stderr, "pelmira-capture: %ld frames and the soundtrack match %s\n",
                     end - job.first, job.verify.c_str());
    return ok ? 0 : 1;
}
