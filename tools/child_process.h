// A helper program run as a child process (ffmpeg, ffprobe), in a process
// group of its own. Every wait on it wakes for the end signals and gives up
// once the child has made no progress for the stall time, so neither a stuck
// child nor Ctrl+C can hang the capture; time this process spends stopped
// (Ctrl+Z) is no stall of the child's. Whatever way the object goes, the
// child's whole group is killed if still running (a wrapper script's
// children too) and the child always reaped.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Seconds a child may take nothing we write, or keep running once it has all
// of it, before it counts as stalled: PELMIRA_ENCODER_TIMEOUT, else 60.
double childStallSeconds();

// The limits PELMIRA_ENCODER_TIMEOUT is held to.
constexpr double MIN_STALL_SECONDS = 0.1, MAX_STALL_SECONDS = 86400;

// Parses a stall time: a decimal number of seconds within the limits.
bool parseStallSeconds(const char *text, double *seconds);

// The most a child's report may be: ffprobe's is a few lines.
constexpr size_t MAX_CHILD_OUTPUT = 1 << 16;

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess() { abandon(); }

    // Starts arguments[0] from PATH with the given niceness, its stdin a pipe
    // we write (else /dev/null) and, if captureOutput, its stdout a pipe that
    // wait() collects. False with errno set.
    bool start(const std::vector<std::string> &arguments, bool input, bool captureOutput,
               int niceness = 0);

    // Writes to its stdin. False with errno set: EPIPE when the child has
    // gone, EINTR when an end signal came, ETIMEDOUT when it took nothing for
    // the stall time; in all three the child has been killed or has ended,
    // and endText() says how it ended.
    bool write(const void *data, size_t size);

    // Closes its stdin, collects its stdout into output and waits for it to
    // end; true if it exited with status 0. On an end signal or a stall the
    // child is killed first (errno EINTR or ETIMEDOUT), and so it is once it
    // has written more than MAX_CHILD_OUTPUT bytes (EMSGSIZE).
    bool wait(std::string *output = nullptr);

    // How the child ended: "exited with status 1", "was killed by signal 9".
    std::string endText() const;

    // Kills and reaps the child, if it runs.
    void abandon();

  private:
    bool reap(bool block);
    void stop(int graceMs);
    void closePipes();

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int status_ = 0;
};
