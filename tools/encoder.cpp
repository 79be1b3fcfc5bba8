#include "tools/encoder.h"

#include "tools/temp_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

// Below the renderer, not so far below that other work on the machine could
// starve the capture. llvmpipe's threads meet at a barrier every frame, so
// each time the encoder preempts one the other waits.
static const int ENCODER_NICENESS = 10;

static std::string secondsText(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", s);
    return text;
}

std::vector<std::string> encoderArguments(const EncoderJob &job) {
    std::vector<std::string> args = {"ffmpeg",    "-nostdin", "-hide_banner",
                                     "-loglevel", "error",    "-y"};
    std::vector<std::string> input = pipeArguments(job);
    args.insert(args.end(), input.begin(), input.end());
    // The soundtrack from the same moment on, no longer than the picture.
    args.insert(args.end(), {"-ss", secondsText(job.from), "-t", secondsText(job.length), "-i",
                             job.soundtrack});
    args.insert(args.end(), {"-map", "0:v", "-map", "1:a?"});
    std::vector<std::string> codecs = codecArguments(job);
    args.insert(args.end(), codecs.begin(), codecs.end());
    args.push_back(job.temp);
    return args;
}

bool programOnPath(const char *program) {
    const char *path = std::getenv("PATH");
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

bool EncoderProcess::start(const std::vector<std::string> &arguments) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    // The child starts with the signal handling a plain program has.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::vector<char *> argv;
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    int err = posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (err != 0) {
        pid_ = -1;
        close(fds[1]);
        errno = err;
        return false;
    }
    setpriority(PRIO_PROCESS, (id_t)pid_, ENCODER_NICENESS);
    // A frame is most of a megabyte: a deeper pipe means fewer trips between
    // the two processes.
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    input_ = fds[1];
    return true;
}

bool EncoderProcess::write(const void *data, size_t size) {
    return writeAll(input_, data, size);
}

static int waitForChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

bool EncoderProcess::finish() {
    if (input_ >= 0)
        close(input_);
    input_ = -1;
    if (pid_ < 0)
        return false;
    int status = waitForChild(pid_);
    pid_ = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void EncoderProcess::abandon() {
    if (input_ >= 0)
        close(input_);
    input_ = -1;
    if (pid_ < 0)
        return;
    kill(pid_, SIGKILL);
    waitForChild(pid_);
    pid_ = -1;
}
