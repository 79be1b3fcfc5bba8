#include "tools/child_process.h"

#include "platform/platform.h"
#include "tools/decimal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using Clock = std::chrono::steady_clock;

// How often a wait looks at the end signals: they are only recorded by their
// handler, and a blocked write or wait would not notice them otherwise.
static const int POLL_MS = 100;

// A child that has closed its input is given this long to end by itself, so
// that the status it reports is its own.
static const int EXIT_GRACE_MS = 2000;

// Longest gap between two looks at a child that counts as waiting on it:
// one far longer means this process was stopped in between.
static const Clock::duration MAX_GAP = std::chrono::milliseconds(5 * POLL_MS);

bool parseStallSeconds(const char *text, double *seconds) {
    if (!text || !isDecimal(text, true))
        return false;
    double value = std::strtod(text, nullptr);
    if (value < MIN_STALL_SECONDS || value > MAX_STALL_SECONDS)
        return false;
    *seconds = value;
    return true;
}

double childStallSeconds() {
    double seconds = 60.0;
    parseStallSeconds(std::getenv("PELMIRA_ENCODER_TIMEOUT"), &seconds);
    return seconds;
}

namespace {

// The time waited on a child since its last progress, less the time this
// process spent stopped.
class StallTimer {
  public:
    void progress() {
        waited_ = Clock::duration::zero();
        last_ = Clock::now();
    }
    // Counts the time since the last look; true once it adds up to the stall time.
    bool stalled() {
        Clock::time_point now = Clock::now();
        waited_ += std::min(now - last_, MAX_GAP);
        last_ = now;
        return waited_ > limit_;
    }

  private:
    Clock::duration limit_ = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(childStallSeconds()));
    Clock::duration waited_ = Clock::duration::zero();
    Clock::time_point last_ = Clock::now();
};

} // namespace

bool ChildProcess::start(const std::vector<std::string> &arguments, bool input, bool captureOutput,
                         int niceness) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if ((input && pipe2(in, O_CLOEXEC) != 0) || (captureOutput && pipe2(out, O_CLOEXEC) != 0)) {
        int error = errno;
        for (int fd : {in[0], in[1]})
            if (fd >= 0)
                close(fd);
        errno = error;
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input)
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (captureOutput)
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    // The child starts with the signal handling a plain program has.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    // A group of its own, so that whatever it starts ends with it.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETPGROUP);
    std::vector<char *> argv;
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    int err = posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {in[0], out[1]})
        if (fd >= 0)
            close(fd);
    input_ = in[1];
    output_ = out[0];
    if (err != 0) {
        pid_ = -1;
        closePipes();
        errno = err;
        return false;
    }
    if (niceness)
        setpriority(PRIO_PROCESS, (id_t)pid_, niceness);
    for (int fd : {input_, output_})
        if (fd >= 0)
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    // A frame is most of a megabyte: a deeper pipe means fewer trips.
    if (input_ >= 0)
        fcntl(input_, F_SETPIPE_SZ, 1 << 20);
    return true;
}

bool ChildProcess::write(const void *data, size_t size) {
    const char *p = static_cast<const char *>(data);
    StallTimer timer;
    while (size > 0) {
        ssize_t n = input_ >= 0 ? ::write(input_, p, size) : -1;
        if (n > 0) {
            p += n;
            size -= (size_t)n;
            timer.progress();
            continue;
        }
        if (input_ < 0 || (errno != EAGAIN && errno != EINTR)) {
            int error = input_ < 0 ? EPIPE : errno;
            stop(EXIT_GRACE_MS); // it has closed its end: gone, or about to be
            errno = error;
            return false;
        }
        pollfd ready = {input_, POLLOUT, 0};
        poll(&ready, 1, POLL_MS);
        if (platformEndSignal() || timer.stalled()) {
            int error = platformEndSignal() ? EINTR : ETIMEDOUT;
            abandon();
            errno = error;
            return false;
        }
    }
    return true;
}

bool ChildProcess::wait(std::string *output) {
    if (input_ >= 0)
        close(input_);
    input_ = -1;
    StallTimer timer;
    while (pid_ >= 0 || output_ >= 0) {
        pollfd ready = {output_, POLLIN, 0};
        poll(&ready, output_ >= 0 ? 1 : 0, output_ >= 0 ? POLL_MS : POLL_MS / 5);
        char buffer[4096];
        ssize_t n = -1;
        while (output_ >= 0 && (n = read(output_, buffer, sizeof buffer)) != 0) {
            if (n < 0)
                break;
            if (output)
                output->append(buffer, (size_t)n);
            timer.progress();
            if (output && output->size() > MAX_CHILD_OUTPUT)
                break;
        }
        if (output_ >= 0 && n == 0) {
            close(output_);
            output_ = -1;
        }
        if (pid_ >= 0)
            reap(false);
        bool tooLong = output && output->size() > MAX_CHILD_OUTPUT;
        if (platformEndSignal() || tooLong || timer.stalled()) {
            int error = platformEndSignal() ? EINTR : tooLong ? EMSGSIZE : ETIMEDOUT;
            abandon();
            errno = error;
            return false;
        }
    }
    return WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
}

bool ChildProcess::reap(bool block) {
    siginfo_t ended = {};
    // Seen to have ended but not reaped yet, the child still holds its group's
    // number, so the kill reaches only what it left running.
    while (waitid(P_PID, (id_t)pid_, &ended, WEXITED | WNOWAIT | (block ? 0 : WNOHANG)) < 0 &&
           errno == EINTR) {
    }
    if (ended.si_pid != pid_)
        return false;
    kill(-pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = status;
    pid_ = -1;
    return true;
}

std::string ChildProcess::endText() const {
    if (WIFSIGNALED(status_))
        return "was killed by signal " + std::to_string(WTERMSIG(status_)) + " (" +
               strsignal(WTERMSIG(status_)) + ")";
    return "exited with status " + std::to_string(WEXITSTATUS(status_));
}

void ChildProcess::closePipes() {
    for (int *fd : {&input_, &output_}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

void ChildProcess::stop(int graceMs) {
    closePipes();
    for (int waited = 0; pid_ >= 0 && !reap(false) && waited < graceMs; waited += POLL_MS / 5)
        poll(nullptr, 0, POLL_MS / 5);
    if (pid_ >= 0) {
        kill(-pid_, SIGKILL);
        reap(true);
    }
}

void ChildProcess::abandon() {
    stop(0);
}
